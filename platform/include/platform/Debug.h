#pragma once

// The debug-output sink: the one place device-layer problems are reported. Each message becomes one line;
// when STRELLIS_DEBUG_LOG names a file the line is appended to it, and a test can capture the lines.

#include <string>
#include <vector>

namespace platform
{

// Writes one message as one line (a trailing line end in the message is not doubled).
void outputDebugString(const char* message);

// printf-style convenience over outputDebugString.
void debugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While an instance lives, every debug line of the process is also collected by it (the last one
// created collects). For tests.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(const std::string& line) const;
    void clear();

private:
    friend void outputDebugString(const char*);
    DebugCapture* previous_;
    std::vector<std::string> lines_; // guarded by the sink's lock
};

} // namespace platform
