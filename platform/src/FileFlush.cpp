#include "platform/FileFlush.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform
{

bool flushToDisk(const std::string& path)
{
    // A descriptor opened for reading flushes the file's (or folder's) every write, whoever made it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int result = 0;
    do
        result = ::fsync(fd);
    while (result != 0 && errno == EINTR);
    ::close(fd);
    return result == 0;
}

} // namespace platform
