#include "DriverLoader.h"

#include "platform/Registry.h"

#include <cstdio>
#include <dlfcn.h>

namespace asiohost
{
namespace
{

// Reads a text value whole; registry texts may come without their terminator.
bool readText(platform::HKEY root, const std::string& path, const char* name, std::string& text)
{
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(root, path.c_str(), &key) != platform::ERROR_SUCCESS)
        return false;
    uint32_t type = 0;
    uint32_t size = 0;
    bool ok = platform::regQueryValue(key, name, &type, nullptr, &size) == platform::ERROR_SUCCESS &&
              type == platform::REG_SZ;
    if (ok)
    {
        std::string buffer(size, '\0');
        ok = platform::regQueryValue(key, name, &type, buffer.data(), &size) == platform::ERROR_SUCCESS;
        buffer.resize(size);
        while (!buffer.empty() && buffer.back() == '\0')
            buffer.pop_back();
        text = buffer;
    }
    platform::regCloseKey(key);
    return ok;
}

void* symbol(void* module, const char* name)
{
    return module != nullptr ? ::dlsym(module, name) : nullptr;
}

} // namespace

std::vector<std::string> listDrivers()
{
    std::vector<std::string> names;
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", &key) != platform::ERROR_SUCCESS)
        return names;
    char name[256];
    for (uint32_t i = 0; platform::regEnumKey(key, i, name, sizeof name) == platform::ERROR_SUCCESS; ++i)
        names.push_back(name);
    platform::regCloseKey(key);
    return names;
}

bool findDriver(const std::string& name, DriverEntry& entry, std::string& error)
{
    entry = DriverEntry{};
    entry.name = name;
    if (!readText(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO\\" + name, "CLSID", entry.clsidText))
    {
        error = "no driver \"" + name + "\" registered (HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO)";
        return false;
    }
    if (!asiodrv::guidFromString(entry.clsidText.c_str(), entry.clsid))
    {
        error = "the driver's CLSID is not a class id: " + entry.clsidText;
        return false;
    }
    if (!readText(platform::HKEY_CLASSES_ROOT, "CLSID\\" + entry.clsidText + "\\InprocServer32", nullptr,
                  entry.modulePath) ||
        entry.modulePath.empty())
    {
        error = "the class " + entry.clsidText + " has no InprocServer32 path";
        return false;
    }
    return true;
}

int registerModule(const std::string& path, bool unregister, std::string& error)
{
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
    {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "cannot load " + path;
        return -1;
    }
    const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<asiodrv::DllRegisterServerFn>(symbol(module, name));
    int result = -1;
    if (fn == nullptr)
        error = path + " has no " + name;
    else
        result = fn();
    ::dlclose(module);
    return result;
}

DriverLoader::~DriverLoader()
{
    unload();
}

bool DriverLoader::loadModule(const std::string& driverName, std::string& error)
{
    unload();
    if (!findDriver(driverName, entry_, error))
        return false;
    module_ = ::dlopen(entry_.modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr)
    {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "cannot load " + entry_.modulePath;
        return false;
    }
    void* factory = nullptr;
    const asiodrv::HRESULT hr = getClassObject(entry_.clsid, asiodrv::IID_IClassFactory, &factory);
    if (hr != asiodrv::S_OK || factory == nullptr)
    {
        char text[64];
        std::snprintf(text, sizeof text, "DllGetClassObject failed (0x%08X)", static_cast<unsigned>(hr));
        error = text;
        unload();
        return false;
    }
    factory_ = static_cast<asiodrv::IClassFactory*>(factory);
    return true;
}

bool DriverLoader::createDriver(std::string& error)
{
    if (factory_ == nullptr)
    {
        error = "no class factory";
        return false;
    }
    releaseDriver();
    void* object = nullptr;
    const asiodrv::HRESULT hr = factory_->CreateInstance(nullptr, entry_.clsid, &object);
    if (hr != asiodrv::S_OK || object == nullptr)
    {
        char text[64];
        std::snprintf(text, sizeof text, "CreateInstance failed (0x%08X)", static_cast<unsigned>(hr));
        error = text;
        return false;
    }
    driver_ = static_cast<asiodrv::IASIO*>(object);
    return true;
}

asiodrv::HRESULT DriverLoader::getClassObject(const asiodrv::CLSID& clsid, const asiodrv::IID& iid,
                                              void** object) const
{
    auto fn = reinterpret_cast<asiodrv::DllGetClassObjectFn>(symbol(module_, "DllGetClassObject"));
    return fn != nullptr ? fn(clsid, iid, object) : asiodrv::E_FAIL;
}

asiodrv::HRESULT DriverLoader::canUnloadNow() const
{
    auto fn = reinterpret_cast<asiodrv::DllCanUnloadNowFn>(symbol(module_, "DllCanUnloadNow"));
    return fn != nullptr ? fn() : asiodrv::E_FAIL;
}

void DriverLoader::releaseDriver()
{
    if (driver_ != nullptr)
        driver_->Release();
    driver_ = nullptr;
}

void DriverLoader::releaseFactory()
{
    if (factory_ != nullptr)
        factory_->Release();
    factory_ = nullptr;
}

void DriverLoader::unload()
{
    releaseDriver();
    releaseFactory();
    // A module with live objects stays loaded, as a host's COM library would keep it.
    if (module_ != nullptr && canUnloadNow() == asiodrv::S_OK)
        ::dlclose(module_);
    module_ = nullptr;
}

std::string describeDriver(asiodrv::IASIO& driver)
{
    using namespace asiodrv;
    std::string out;
    char line[256];
    char name[kAsioNameSize] = {};
    driver.getDriverName(name);
    std::snprintf(line, sizeof line, "name: %s\nversion: %d\n", name, driver.getDriverVersion());
    out += line;

    int32_t inputs = 0;
    int32_t outputs = 0;
    driver.getChannels(&inputs, &outputs);
    std::snprintf(line, sizeof line, "channels: %d inputs, %d outputs\n", inputs, outputs);
    out += line;
    for (int pass = 0; pass < 2; ++pass)
    {
        const bool isInput = pass == 0;
        for (int32_t c = 0; c < (isInput ? inputs : outputs); ++c)
        {
            ASIOChannelInfo info{};
            info.channel = c;
            info.isInput = isInput ? ASIOTrue : ASIOFalse;
            if (driver.getChannelInfo(&info) != ASE_OK)
                continue;
            std::snprintf(line, sizeof line, "  %s %d: %s (group %d, type %d%s)\n",
                          isInput ? "input" : "output", c, info.name, info.channelGroup, info.type,
                          info.isActive ? ", active" : "");
            out += line;
        }
    }

    int32_t inLatency = 0;
    int32_t outLatency = 0;
    driver.getLatencies(&inLatency, &outLatency);
    std::snprintf(line, sizeof line, "latencies: input %d, output %d samples\n", inLatency, outLatency);
    out += line;

    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    driver.getBufferSize(&minimum, &maximum, &preferred, &granularity);
    std::snprintf(line, sizeof line, "buffer size: minimum %d, maximum %d, preferred %d, granularity %d\n",
                  minimum, maximum, preferred, granularity);
    out += line;

    ASIOSampleRate rate = 0;
    driver.getSampleRate(&rate);
    std::snprintf(line, sizeof line, "sample rate: %.0f\n", rate);
    out += line;
    out += "supported rates:";
    for (double r : {32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0})
    {
        if (driver.canSampleRate(r) == ASE_OK)
        {
            std::snprintf(line, sizeof line, " %.0f", r);
            out += line;
        }
    }
    out += "\n";

    ASIOClockSource clocks[8] = {};
    int32_t count = 8;
    if (driver.getClockSources(clocks, &count) == ASE_OK)
    {
        out += "clock sources:\n";
        for (int32_t i = 0; i < count; ++i)
        {
            std::snprintf(line, sizeof line, "  %d: %s%s\n", clocks[i].index, clocks[i].name,
                          clocks[i].isCurrentSource ? " (current)" : "");
            out += line;
        }
    }
    return out;
}

} // namespace asiohost
