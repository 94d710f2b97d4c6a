#include "Trace.h"

#include "Shared.h"
#include "Wire.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace sim::trace
{

namespace
{

// A line in a fixed buffer: formatting a trace line allocates nothing.
class Line
{
public:
    Line() { text_[0] = '\0'; }

    void text(const char* s)
    {
        const size_t n = std::strlen(s);
        if (used_ + n < sizeof(text_) - 1)
        {
            std::memcpy(text_ + used_, s, n);
            used_ += n;
        }
    }
    void format(const char* fmt, unsigned long long v)
    {
        char word[32];
        std::snprintf(word, sizeof(word), fmt, v);
        text(word);
    }
    void number(uint32_t v) { format(" %llu", v); }
    void head(const char* unit, const char* kind)
    {
        format("%llu", static_cast<unsigned long long>(::getpid()));
        text(" ");
        text(unit);
        text(kind);
    }
    // Words 3 to 15 of a control block, trailing zeros dropped.
    void blockWords(const uint8_t* block)
    {
        int last = 15;
        while (last >= 3 && loadLe32(block + 4 * last) == 0)
            --last;
        for (int w = 3; w <= last; ++w)
            number(loadLe32(block + 4 * w));
    }
    void write();

private:
    char text_[6144];
    size_t used_ = 0;
};

std::mutex fileMutex;
std::string filePath; // guarded by fileMutex
int fileFd = -1;      // guarded by fileMutex

void Line::write()
{
    const char* path = std::getenv("STRELLIS_TRACE");
    if (path == nullptr || path[0] == '\0')
        return;
    text_[used_++] = '\n';
    std::lock_guard<std::mutex> guard(fileMutex);
    // The file may have been removed or replaced since the last line: follow the name.
    struct stat named;
    struct stat open;
    const bool same = fileFd >= 0 && filePath == path && ::stat(path, &named) == 0 &&
                      ::fstat(fileFd, &open) == 0 && named.st_ino == open.st_ino &&
                      named.st_dev == open.st_dev;
    if (!same)
    {
        if (fileFd >= 0)
            ::close(fileFd);
        filePath = path;
        fileFd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fileFd >= 0)
    {
        const ssize_t written = ::write(fileFd, text_, used_);
        (void)written;
    }
}

} // namespace

bool enabled()
{
    const char* path = std::getenv("STRELLIS_TRACE");
    return path != nullptr && path[0] != '\0';
}

void vdc(const char* unit, const uint32_t* request, uint32_t requestBytes, bool ok, const uint32_t* reply,
         uint32_t replyBytes)
{
    if (!enabled())
        return;
    Line line;
    line.head(unit, " VDC");
    const uint32_t length = request[wire::kPktLength];
    line.number(request[wire::kPktCategory]);
    line.number(request[wire::kPktCommand]);
    line.number(length);
    const uint32_t carried =
        requestBytes >= wire::kPktHeaderBytes ? (requestBytes - wire::kPktHeaderBytes) / 4 : 0;
    const uint32_t params = std::min({length >= 6 ? length - 6 : 0u, carried, 70u});
    for (uint32_t i = 0; i < params; ++i)
        line.number(request[wire::kPktParams + i]);
    if (!ok)
    {
        line.text(" => FAIL");
        return line.write();
    }
    line.format(" => 0x%llx", reply[wire::kPktNtStatus]);
    line.number(reply[wire::kPktVdr]);
    const uint32_t replied =
        replyBytes >= wire::kPktHeaderBytes ? (replyBytes - wire::kPktHeaderBytes) / 4 : 0;
    for (uint32_t i = 0; i < replied; ++i)
        line.number(reply[wire::kPktParams + i]);
    line.write();
}

void control(const char* unit, const uint8_t* in, bool ok, const uint8_t* out)
{
    if (!enabled())
        return;
    Line line;
    line.head(unit, " DC");
    line.number(loadLe32(in + wire::kCtlCode));
    line.blockWords(in);
    if (!ok)
    {
        line.text(" => FAIL");
        return line.write();
    }
    char status[24];
    std::snprintf(status, sizeof(status), " => %d", static_cast<int32_t>(loadLe32(out + wire::kCtlStatus)));
    line.text(status);
    line.blockWords(out);
    line.write();
}

void version(const char* unit, bool ok, uint32_t value)
{
    if (!enabled())
        return;
    Line line;
    line.head(unit, " VER");
    if (ok)
        line.format(" => 0x%llx", value);
    else
        line.text(" => FAIL");
    line.write();
}

void open(const char* unit, bool ok)
{
    if (!enabled())
        return;
    Line line;
    line.head(unit, " OPEN");
    if (!ok)
        line.text(" => FAIL");
    line.write();
}

void close(const char* unit)
{
    if (!enabled())
        return;
    Line line;
    line.head(unit, " CLOSE");
    line.write();
}

} // namespace sim::trace
