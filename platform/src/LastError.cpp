#include "platform/LastError.h"

#include <cerrno>
#include <cstring>

namespace platform
{

uint32_t getLastError()
{
    return static_cast<uint32_t>(errno);
}

void setLastError(uint32_t error)
{
    errno = static_cast<int>(error);
}

std::string systemErrorText(uint32_t error)
{
    char buffer[256];
    // The GNU strerror_r: the text may be the library's own, not the buffer.
    return ::strerror_r(static_cast<int>(error), buffer, sizeof buffer);
}

} // namespace platform
