#include "platform/Debug.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace platform
{
namespace
{

std::mutex& sinkMutex()
{
    static std::mutex m;
    return m;
}

DebugCapture* activeCapture = nullptr; // the innermost live capture, guarded by sinkMutex

} // namespace

void outputDebugString(const char* message)
{
    std::string line = message != nullptr ? message : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();

    std::lock_guard<std::mutex> lock(sinkMutex());
    if (activeCapture != nullptr)
        activeCapture->lines_.push_back(line);

    if (const char* path = std::getenv("STRELLIS_DEBUG_LOG"); path != nullptr && *path != '\0')
    {
        // One write per line with O_APPEND, so lines of several processes never mix.
        int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0)
        {
            line += '\n';
            ssize_t written = ::write(fd, line.data(), line.size());
            (void)written; // a debug line that cannot be written is dropped
            ::close(fd);
        }
    }
}

void debugPrintf(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    outputDebugString(buffer);
}

DebugCapture::DebugCapture()
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    previous_ = activeCapture;
    activeCapture = this;
}

DebugCapture::~DebugCapture()
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (activeCapture == this)
        activeCapture = previous_;
}

std::vector<std::string> DebugCapture::lines() const
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    return lines_;
}

bool DebugCapture::contains(const std::string& line) const
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

void DebugCapture::clear()
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    lines_.clear();
}

} // namespace platform
