#include "asio/Registration.h"

#include "asio/DriverIdentity.h"
#include "platform/MessageBox.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <string>
#include <strings.h>
#include <vector>

namespace asiodrv
{
namespace
{

struct ModuleSearch
{
    const char* name;
    std::string path;
    bool found = false;
};

int visitModule(dl_phdr_info* info, size_t, void* data)
{
    auto* search = static_cast<ModuleSearch*>(data);
    const char* full = info->dlpi_name;
    if (full == nullptr || *full == '\0')
        return 0;
    const char* slash = std::strrchr(full, '/');
    const char* base = slash != nullptr ? slash + 1 : full;
    if (std::strcmp(base, search->name) != 0)
        return 0;
    search->found = true;
    search->path = full;
    return 1;
}

std::string join(const char* a, const char* b)
{
    return std::string(a) + "\\" + b;
}

// Walks the tree below parent\name depth first and lists every key (relative to parent) after its subkeys.
bool collectSubKeys(platform::HKEY parent, const std::string& relative, std::vector<std::string>& list)
{
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(parent, relative.c_str(), &key) != platform::ERROR_SUCCESS)
        return false;
    std::vector<std::string> children;
    char name[kRegPathSize];
    for (uint32_t i = 0; platform::regEnumKey(key, i, name, sizeof name) == platform::ERROR_SUCCESS; ++i)
        children.push_back(name);
    platform::regCloseKey(key);
    bool ok = true;
    for (const std::string& child : children)
        ok = collectSubKeys(parent, relative + "\\" + child, list) && ok;
    list.push_back(relative);
    return ok;
}

void showFailure(const char* title, const char* format, int code)
{
    char text[128] = {};
    std::snprintf(text, sizeof text, format, code);
    platform::messageBox(title, text, platform::MB_OK);
}

// The class id in its braced text form; the two failures keep their historical codes.
int classIdText(const CLSID& clsid, char (&text)[39])
{
    guidToString(clsid, text);
    return std::strlen(text) == 38 ? 0 : kRegClassIdText;
}

} // namespace

int findModulePath(const char* moduleName, char* path, size_t size)
{
    ModuleSearch search{moduleName, {}, false};
    dl_iterate_phdr(visitModule, &search);
    if (!search.found)
        return kRegModuleNotLoaded;
    // The loader keeps the path the module was opened by; hosts in other folders need it absolute.
    char resolved[PATH_MAX];
    std::string full =
        ::realpath(search.path.c_str(), resolved) != nullptr ? std::string(resolved) : search.path;
    if (full.empty() || full.size() + 1 > size)
        return kRegModulePathEmpty;
    std::memcpy(path, full.c_str(), full.size() + 1);
    return 0;
}

int keyExists(platform::HKEY root, const char* path)
{
    if (path == nullptr)
        return -1;
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(root, path, &key) != platform::ERROR_SUCCESS)
        return 0;
    platform::regCloseKey(key);
    return 1;
}

int createSubKey(platform::HKEY root, const char* parent, const char* name)
{
    platform::HKEY parentKey = nullptr;
    if (platform::regOpenKey(root, parent, &parentKey) != platform::ERROR_SUCCESS)
        return -1;
    platform::HKEY key = nullptr;
    const int32_t r = platform::regCreateKey(parentKey, name, &key);
    platform::regCloseKey(parentKey);
    if (r != platform::ERROR_SUCCESS)
        return -1;
    platform::regCloseKey(key);
    return 0;
}

int setStringValue(platform::HKEY root, const char* path, const char* name, const char* text)
{
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(root, path, &key) != platform::ERROR_SUCCESS)
        return -1;
    // Stored without the terminator, as the class entries have always been written.
    const int32_t r =
        platform::regSetValue(key, name, platform::REG_SZ, text, static_cast<uint32_t>(std::strlen(text)));
    platform::regCloseKey(key);
    return r == platform::ERROR_SUCCESS ? 0 : -1;
}

int getStringValue(platform::HKEY root, const char* path, const char* name, char* buffer, size_t size)
{
    platform::HKEY key = nullptr;
    if (size == 0 || platform::regOpenKey(root, path, &key) != platform::ERROR_SUCCESS)
        return -1;
    uint32_t type = 0;
    uint32_t needed = 0;
    int result = -1;
    if (platform::regQueryValue(key, name, &type, nullptr, &needed) == platform::ERROR_SUCCESS &&
        needed < size)
    {
        // Room for the terminator is kept back: a value that grew since the size query does not fit.
        uint32_t got = static_cast<uint32_t>(size - 1);
        if (platform::regQueryValue(key, name, &type, buffer, &got) == platform::ERROR_SUCCESS)
        {
            buffer[got] = '\0';
            result = 0;
        }
    }
    platform::regCloseKey(key);
    return result;
}

int deleteKeyTree(platform::HKEY root, const char* parent, const char* name)
{
    platform::HKEY parentKey = nullptr;
    if (platform::regOpenKey(root, parent, &parentKey) != platform::ERROR_SUCCESS)
        return -1;
    std::vector<std::string> list;
    bool ok = collectSubKeys(parentKey, name, list);
    for (const std::string& key : list)
        ok = platform::regDeleteKey(parentKey, key.c_str()) == platform::ERROR_SUCCESS && ok;
    // Success means the whole tree is gone, not that something was deleted.
    ok = ok && keyExists(parentKey, name) == 0;
    platform::regCloseKey(parentKey);
    return ok ? 0 : -1;
}

int registerDriver(const CLSID& clsid, const char* moduleName, const char* driverName,
                   const char* description, const char* threadingModel)
{
    char modulePath[kRegPathSize];
    if (const int r = findModulePath(moduleName, modulePath, sizeof modulePath); r != 0)
        return r;
    char clsidText[39];
    if (const int r = classIdText(clsid, clsidText); r != 0)
        return r;

    const std::string classKey = join("CLSID", clsidText);
    const std::string serverKey = classKey + "\\InprocServer32";

    // A class entry that already names this module (the same path, whatever its letter case) is kept
    // with whatever else was added under it.
    bool writeClass = true;
    if (keyExists(platform::HKEY_CLASSES_ROOT, classKey.c_str()) == 1)
    {
        char registered[kRegPathSize];
        if (getStringValue(platform::HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, registered,
                           sizeof registered) == 0 &&
            ::strcasecmp(registered, modulePath) == 0)
            writeClass = false;
        else if (deleteKeyTree(platform::HKEY_CLASSES_ROOT, "CLSID", clsidText) != 0)
            return kRegClassKeyWrite;
    }
    if (writeClass)
    {
        if (createSubKey(platform::HKEY_CLASSES_ROOT, "CLSID", clsidText) != 0 ||
            setStringValue(platform::HKEY_CLASSES_ROOT, classKey.c_str(), nullptr, description) != 0 ||
            createSubKey(platform::HKEY_CLASSES_ROOT, classKey.c_str(), "InprocServer32") != 0 ||
            setStringValue(platform::HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, modulePath) != 0 ||
            setStringValue(platform::HKEY_CLASSES_ROOT, serverKey.c_str(), "ThreadingModel",
                           threadingModel) != 0)
            return kRegClassKeyWrite;
    }

    // The driver entry is always written anew.
    const std::string driverKey = join("SOFTWARE\\ASIO", driverName);
    if (keyExists(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO") == 1)
    {
        if (keyExists(platform::HKEY_LOCAL_MACHINE, driverKey.c_str()) == 1 &&
            deleteKeyTree(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", driverName) != 0)
            return kRegDriverKeyWrite;
    }
    else if (createSubKey(platform::HKEY_LOCAL_MACHINE, "SOFTWARE", "ASIO") != 0)
    {
        return kRegDriverKeyWrite;
    }
    if (createSubKey(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", driverName) != 0 ||
        setStringValue(platform::HKEY_LOCAL_MACHINE, driverKey.c_str(), "CLSID", clsidText) != 0 ||
        setStringValue(platform::HKEY_LOCAL_MACHINE, driverKey.c_str(), "Description", description) != 0)
        return kRegDriverKeyWrite;
    return 0;
}

int unregisterDriver(const CLSID& clsid, const char* moduleName, const char* driverName)
{
    char modulePath[kRegPathSize];
    if (const int r = findModulePath(moduleName, modulePath, sizeof modulePath); r != 0)
        return r;
    char clsidText[39];
    if (const int r = classIdText(clsid, clsidText); r != 0)
        return r;

    const std::string classKey = join("CLSID", clsidText);
    if (keyExists(platform::HKEY_CLASSES_ROOT, classKey.c_str()) == 1 &&
        deleteKeyTree(platform::HKEY_CLASSES_ROOT, "CLSID", clsidText) != 0)
        return kRegClassKeyWrite;
    const std::string driverKey = join("SOFTWARE\\ASIO", driverName);
    if (keyExists(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO") == 1 &&
        keyExists(platform::HKEY_LOCAL_MACHINE, driverKey.c_str()) == 1 &&
        deleteKeyTree(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", driverName) != 0)
        return kRegDriverKeyWrite;
    return 0;
}

HRESULT dllRegisterServer()
{
    const int r =
        registerDriver(CLSID_AsioStrellis, kModuleName, kDriverName, kDriverDescription, kThreadingModel);
    if (r == 0)
        return 0;
    showFailure("ASIO Varnel 1394", "Register Server failed ! (%d)", r);
    return -1;
}

HRESULT dllUnregisterServer()
{
    const int r = unregisterDriver(CLSID_AsioStrellis, kModuleName, kDriverName);
    if (r == 0)
        return 0;
    showFailure("ASIO Strellis", "Unregister Server failed ! (%d)", r);
    return -1;
}

} // namespace asiodrv
