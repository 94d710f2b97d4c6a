#pragma once

// Writing and removing the registry entries by which hosts find the driver: the COM class under the
// classes root (with its in-process server path and threading model) and the driver entry under the local
// machine's "SOFTWARE\ASIO" key (with the class id and the description).

#include "asio/ComTypes.h"
#include "platform/Registry.h"

#include <cstddef>

namespace asiodrv
{

// Results of registerDriver and unregisterDriver besides 0.
enum RegistrationError : int
{
    kRegModuleNotLoaded = -101, // no loaded module has the module name
    kRegModulePathEmpty = -102, // its path is empty or does not fit
    kRegClassIdText = -103,     // the class id cannot be written as text
    kRegClassIdNarrow = -104,   // kept for the code's number; the text is 8-bit already
    kRegClassKeyWrite = -105,   // a key or value of the COM class could not be written or removed
    kRegDriverKeyWrite = -106   // a key or value of the driver entry could not be written or removed
};

// Path buffers hold this many bytes, terminator included.
inline constexpr size_t kRegPathSize = 360;

int registerDriver(const CLSID& clsid, const char* moduleName, const char* driverName,
                   const char* description, const char* threadingModel);
int unregisterDriver(const CLSID& clsid, const char* moduleName, const char* driverName);

// The exports' bodies: on failure a box with the code, and -1.
HRESULT dllRegisterServer();
HRESULT dllUnregisterServer();

// The full path of the loaded module whose file name is moduleName: 0, or kRegModuleNotLoaded /
// kRegModulePathEmpty.
int findModulePath(const char* moduleName, char* path, size_t size);

// Registry helpers (0 success, -1 failure unless said).
int keyExists(platform::HKEY root, const char* path); // 1 exists, 0 not, -1 null path
int createSubKey(platform::HKEY root, const char* parent, const char* name);
int setStringValue(platform::HKEY root, const char* path, const char* name, const char* text);
int getStringValue(platform::HKEY root, const char* path, const char* name, char* buffer, size_t size);
// Deletes the key parent\name with everything below it, children first; 0 only when all of it is gone.
int deleteKeyTree(platform::HKEY root, const char* parent, const char* name);

} // namespace asiodrv
