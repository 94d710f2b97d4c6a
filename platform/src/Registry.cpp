#include "platform/Registry.h"

#include "simos/Registry.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace platform
{
namespace
{

// What a handle stands for: the store it was opened in, the hive and the key's path in it. The path is
// looked up again on every call, so a key deleted behind the handle answers ERROR_KEY_DELETED.
struct OpenKey
{
    std::string root;
    sim::os::Hive hive;
    std::string path;
};

std::mutex handlesMutex;
std::map<uintptr_t, OpenKey> openKeys; // guarded by handlesMutex
uintptr_t nextHandle = 0x1000;         // guarded by handlesMutex; handles are never reused

bool predefinedHive(HKEY key, sim::os::Hive& hive)
{
    if (key == HKEY_CLASSES_ROOT)
        hive = sim::os::Hive::ClassesRoot;
    else if (key == HKEY_LOCAL_MACHINE)
        hive = sim::os::Hive::LocalMachine;
    else if (key == HKEY_CURRENT_USER)
        hive = sim::os::Hive::CurrentUser;
    else
        return false;
    return true;
}

// The predefined keys follow the store's root as it is now, so a process (or a test) may change
// STRELLIS_REGISTRY between calls; an opened key stays in the store it was opened in.
bool resolve(HKEY key, OpenKey& out)
{
    sim::os::Hive hive;
    if (predefinedHive(key, hive))
    {
        out = OpenKey{sim::os::registryRoot(), hive, std::string()};
        return true;
    }
    std::lock_guard<std::mutex> lock(handlesMutex);
    auto it = openKeys.find(reinterpret_cast<uintptr_t>(key));
    if (it == openKeys.end())
        return false;
    out = it->second;
    return true;
}

std::string join(const std::string& path, const char* subKey)
{
    if (subKey == nullptr || *subKey == '\0')
        return path;
    return path.empty() ? std::string(subKey) : path + "\\" + subKey;
}

HKEY newHandle(OpenKey key)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    const uintptr_t id = nextHandle;
    nextHandle += 4;
    openKeys.emplace(id, std::move(key));
    return reinterpret_cast<HKEY>(id);
}

} // namespace

int32_t regOpenKey(HKEY key, const char* subKey, HKEY* result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    if (!resolve(key, base))
        return ERROR_INVALID_HANDLE;
    sim::os::RegistryStore store(base.root);
    std::string canonical;
    const int32_t r = store.openKey(base.hive, join(base.path, subKey), &canonical);
    if (r != ERROR_SUCCESS)
        return r;
    *result = newHandle(OpenKey{base.root, base.hive, canonical});
    return ERROR_SUCCESS;
}

int32_t regCreateKey(HKEY key, const char* subKey, HKEY* result, bool* created)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    if (!resolve(key, base))
        return ERROR_INVALID_HANDLE;
    sim::os::RegistryStore store(base.root);
    if (!base.path.empty() && store.openKey(base.hive, base.path, nullptr) != ERROR_SUCCESS)
        return ERROR_KEY_DELETED;
    std::string canonical;
    const int32_t r = store.createKey(base.hive, join(base.path, subKey), &canonical, created);
    if (r != ERROR_SUCCESS)
        return r;
    *result = newHandle(OpenKey{base.root, base.hive, canonical});
    return ERROR_SUCCESS;
}

int32_t regCloseKey(HKEY key)
{
    sim::os::Hive hive;
    if (predefinedHive(key, hive))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(handlesMutex);
    return openKeys.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int32_t regQueryValue(HKEY key, const char* name, uint32_t* type, void* data, uint32_t* size)
{
    if (data != nullptr && size == nullptr)
        return ERROR_INVALID_PARAMETER;
    OpenKey k;
    if (!resolve(key, k))
        return ERROR_INVALID_HANDLE;
    sim::os::RegistryValue v;
    const int32_t r =
        sim::os::RegistryStore(k.root).queryValue(k.hive, k.path, name != nullptr ? name : "", v);
    if (r != ERROR_SUCCESS)
        return r;
    if (type != nullptr)
        *type = v.type;
    const auto needed = static_cast<uint32_t>(v.data.size());
    if (size == nullptr)
        return ERROR_SUCCESS;
    if (data != nullptr && *size < needed)
    {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed != 0)
        std::memcpy(data, v.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

int32_t regSetValue(HKEY key, const char* name, uint32_t type, const void* data, uint32_t size)
{
    if (data == nullptr && size != 0)
        return ERROR_INVALID_PARAMETER;
    OpenKey k;
    if (!resolve(key, k))
        return ERROR_INVALID_HANDLE;
    return sim::os::RegistryStore(k.root).setValue(k.hive, k.path, name != nullptr ? name : "", type, data,
                                                   size);
}

int32_t regDeleteValue(HKEY key, const char* name)
{
    OpenKey k;
    if (!resolve(key, k))
        return ERROR_INVALID_HANDLE;
    return sim::os::RegistryStore(k.root).deleteValue(k.hive, k.path, name != nullptr ? name : "");
}

int32_t regEnumKey(HKEY key, uint32_t index, char* name, uint32_t nameSize)
{
    if (name == nullptr)
        return ERROR_INVALID_PARAMETER;
    OpenKey k;
    if (!resolve(key, k))
        return ERROR_INVALID_HANDLE;
    std::string subKey;
    const int32_t r = sim::os::RegistryStore(k.root).enumSubKey(k.hive, k.path, index, subKey);
    if (r != ERROR_SUCCESS)
        return r;
    if (subKey.size() + 1 > nameSize)
        return ERROR_MORE_DATA;
    std::memcpy(name, subKey.c_str(), subKey.size() + 1);
    return ERROR_SUCCESS;
}

int32_t regDeleteKey(HKEY key, const char* subKey)
{
    if (subKey == nullptr || *subKey == '\0')
        return ERROR_INVALID_PARAMETER;
    OpenKey k;
    if (!resolve(key, k))
        return ERROR_INVALID_HANDLE;
    return sim::os::RegistryStore(k.root).deleteKey(k.hive, join(k.path, subKey));
}

} // namespace platform
