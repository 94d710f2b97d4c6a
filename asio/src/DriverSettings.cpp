#include "asio/DriverSettings.h"

#include "platform/Registry.h"

namespace asiodrv
{
namespace
{

bool readDword(platform::HKEY key, const char* name, uint32_t& value)
{
    uint32_t type = 0;
    uint32_t data = 0;
    uint32_t size = sizeof data;
    if (platform::regQueryValue(key, name, &type, &data, &size) != platform::ERROR_SUCCESS ||
        type != platform::REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

// Creates or opens every level of a backslash-separated path below root; the last key, or null.
platform::HKEY createKeyPath(platform::HKEY root, const char* path)
{
    platform::HKEY current = root;
    const char* p = path;
    while (*p != '\0')
    {
        char component[64];
        size_t n = 0;
        while (*p != '\0' && *p != '\\')
        {
            if (n + 1 < sizeof component)
                component[n++] = *p;
            ++p;
        }
        component[n] = '\0';
        if (*p == '\\')
            ++p;
        if (n == 0)
            continue;
        platform::HKEY next = nullptr;
        const int32_t r = platform::regCreateKey(current, component, &next);
        if (current != root)
            platform::regCloseKey(current);
        if (r != platform::ERROR_SUCCESS)
            return nullptr;
        current = next;
    }
    return current == root ? nullptr : current;
}

} // namespace

uint32_t DriverSettings::read(bool (*acceptRate)(double rate))
{
    read_ = true;
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(platform::HKEY_CURRENT_USER, kKey, &key) != platform::ERROR_SUCCESS)
        return 0;
    uint32_t rate = 0;
    if (readDword(key, "Sample rate", rate) && acceptRate(rate))
    {
        uint32_t value = 1;
        useMmcss_ = readDword(key, "Use MMCSS", value) ? value : 1;
        value = 1;
        lowerDwm_ = readDword(key, "Lower DWM priority", value) ? value : 1;
    }
    else
    {
        rate = 0;
    }
    platform::regCloseKey(key);
    return rate;
}

void DriverSettings::write(uint32_t flags, uint32_t sampleRate) const
{
    platform::HKEY key = createKeyPath(platform::HKEY_CURRENT_USER, kKey);
    if (key == nullptr)
        return;
    if ((flags & kWriteSampleRate) != 0)
    {
        if (platform::regSetValue(key, "Sample rate", platform::REG_DWORD, &sampleRate, sizeof sampleRate) !=
            platform::ERROR_SUCCESS)
        {
            platform::regCloseKey(key);
            return;
        }
    }
    if ((flags & kWriteSwitches) != 0)
    {
        const uint32_t mmcss = useMmcss_.load();
        const uint32_t dwm = lowerDwm_.load();
        platform::regSetValue(key, "Use MMCSS", platform::REG_DWORD, &mmcss, sizeof mmcss);
        platform::regSetValue(key, "Lower DWM priority", platform::REG_DWORD, &dwm, sizeof dwm);
    }
    platform::regCloseKey(key);
}

void DriverSettings::setSwitches(uint32_t useMmcss, uint32_t lowerDwm)
{
    useMmcss_.store(useMmcss);
    lowerDwm_.store(lowerDwm);
}

} // namespace asiodrv
