#pragma once

// The I/O-control trace: when STRELLIS_TRACE names a file, every request of every process is appended
// to it as one line, written with a single append so that lines of several processes never mix.

#include <cstdint>

namespace sim::trace
{

bool enabled();

// request and reply are VDC packets as 32-bit words; the byte counts are what crossed the boundary.
void vdc(const char* unit, const uint32_t* request, uint32_t requestBytes, bool ok, const uint32_t* reply,
         uint32_t replyBytes);
// in and out are 64-byte driver-control blocks; out is not read when the call failed.
void control(const char* unit, const uint8_t* in, bool ok, const uint8_t* out);
void version(const char* unit, bool ok, uint32_t version);
void open(const char* unit, bool ok);
void close(const char* unit);

} // namespace sim::trace
