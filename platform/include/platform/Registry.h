#pragma once

// The registry: RegOpenKeyEx, RegCreateKeyEx, RegQueryValueEx, RegSetValueEx, RegEnumKey, RegDeleteKey,
// RegDeleteValue and RegCloseKey over the three hives the system uses. The store is shared by every
// process (a file-backed service, see docs/simulator.md); keys and value names ignore letter case.
// Every call answers a Windows result code.

#include "platform/DeviceInterfaces.h" // REG_SZ, REG_BINARY, REG_DWORD and the shared result codes

#include <cstdint>

namespace platform
{

struct RegistryKeyHandle;
using HKEY = RegistryKeyHandle*;

// The predefined keys, with their Windows values. They are always open; closing one does nothing.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});

// Result codes beyond those of DeviceInterfaces.h.
enum : int32_t
{
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_NO_MORE_ITEMS = 259,
    ERROR_CANTWRITE = 1013,
    ERROR_KEY_DELETED = 1018
};

// Opens an existing key below key (subKey null or "" opens key itself again). Access rights are not
// modelled: every key can be read and written.
int32_t regOpenKey(HKEY key, const char* subKey, HKEY* result);

// Opens the key below key, creating it and every missing level above it. created (may be null) tells
// whether the last level was new.
int32_t regCreateKey(HKEY key, const char* subKey, HKEY* result, bool* created = nullptr);

int32_t regCloseKey(HKEY key);

// name null or "" is the default value. On entry *size is the buffer's size; with data null only the size
// is asked for. A buffer too small answers ERROR_MORE_DATA with *size = the size needed. The data come as
// stored: a REG_SZ set without its terminator comes back without one. type may be null.
int32_t regQueryValue(HKEY key, const char* name, uint32_t* type, void* data, uint32_t* size);

int32_t regSetValue(HKEY key, const char* name, uint32_t type, const void* data, uint32_t size);

int32_t regDeleteValue(HKEY key, const char* name);

// The index-th subkey's name into a buffer of nameSize bytes (with its terminator); ERROR_NO_MORE_ITEMS
// past the last, ERROR_MORE_DATA when the buffer is short. Subkeys come in order of their names.
int32_t regEnumKey(HKEY key, uint32_t index, char* name, uint32_t nameSize);

// Deletes the subkey, which must have no subkeys of its own (ERROR_ACCESS_DENIED otherwise).
int32_t regDeleteKey(HKEY key, const char* subKey);

} // namespace platform
