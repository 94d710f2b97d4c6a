#pragma once

// The device file of one interface: CreateFileA, DeviceIoControl and CloseHandle on it.

#include <cstdint>
#include <string>

namespace platform
{

using Handle = intptr_t;
constexpr Handle INVALID_HANDLE_VALUE = -1;

// Opens the device with the given interface path for reading and writing, shared; INVALID_HANDLE_VALUE
// when the unit is absent or cannot be opened.
Handle createFile(const std::string& path);

// One I/O control. Returns the call result (false = the call itself failed); *bytesReturned (may be
// null) receives the bytes written to the output buffer.
bool deviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned);

bool closeHandle(Handle handle);

} // namespace platform
