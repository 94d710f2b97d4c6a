#pragma once

// The calling thread's last error, as GetLastError keeps it, and the system's text for an error number,
// as FormatMessage gives it. Here the numbers are the C library's error numbers.

#include <cstdint>
#include <string>

namespace platform
{

// The error number of the calling thread's last platform call that failed.
uint32_t getLastError();
void setLastError(uint32_t error);

// The system's message for an error number, without a line end.
std::string systemErrorText(uint32_t error);

} // namespace platform
