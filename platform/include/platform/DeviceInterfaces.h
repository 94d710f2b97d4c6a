#pragma once

// Device-interface enumeration and the interface's registry key, as the kernel driver's installation
// publishes them: the replacement of the SetupDi enumeration and SetupDiOpenDeviceInterfaceRegKey.

#include <cstdint>
#include <string>
#include <vector>

namespace platform
{

struct Guid
{
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];

    bool operator==(const Guid&) const = default;

    // "{3D5A1F20-7C44-4B9E-9E21-6A0B5C7D8E31}" (upper case, with braces).
    std::string toString() const;
};

// Registry value types and results, with their Windows values.
enum : uint32_t
{
    REG_SZ = 1,
    REG_BINARY = 3,
    REG_DWORD = 4
};
enum : int32_t
{
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_INVALID_HANDLE = 6,
    ERROR_MORE_DATA = 234
};

// The present device interfaces of one class, in enumeration order, taken when constructed.
class DeviceInterfaceSet
{
public:
    explicit DeviceInterfaceSet(const Guid& interfaceClass);

    bool isValid() const { return valid_; }
    size_t size() const { return paths_.size(); }
    const std::string& path(size_t index) const { return paths_[index]; }

private:
    bool valid_ = false;
    std::vector<std::string> paths_;
};

// The registry key of one device interface, opened for reading.
class DeviceRegKey
{
public:
    DeviceRegKey() = default;

    // Opens the key of the interface with the given path; false when it cannot be opened.
    bool open(const std::string& interfacePath);
    bool isOpen() const { return open_; }
    void close() { open_ = false; }

    // RegQueryValueEx: on entry *size is the buffer's size; on ERROR_SUCCESS it is the bytes stored
    // (for REG_SZ including the terminator), on ERROR_MORE_DATA the size needed and the buffer is
    // unchanged. type may be null.
    int32_t queryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const;

private:
    bool open_ = false;
    std::string path_;
};

} // namespace platform
