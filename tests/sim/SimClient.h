#pragma once

// A minimal client of the simulated kernel driver for its own tests: VDC packets and driver-control
// blocks put together byte by byte, as the wire formats lay them out.

#include "SimulatorTrace.h"
#include "TempBus.h"
#include "sim/KernelDriver.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace simtest
{

constexpr const char* kClass = "{3D5A1F20-7C44-4B9E-9E21-6A0B5C7D8E31}";
constexpr uint32_t kVersionIoctl = 0x1D2000;
constexpr uint32_t kVdcIoctl = 0x1D2004;
constexpr uint32_t kControlIoctl = 0x1D2008;

inline void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

inline uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline std::string pathOf(const std::string& unit)
{
    return "\\\\?\\doranth#" + unit + "#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}";
}

struct VdcReply
{
    bool callOk = false;
    uint8_t bytes[512] = {};
    uint32_t size = 0;
    uint32_t nt() const { return get32(bytes); }
    uint32_t vdr() const { return get32(bytes + 24); }
    uint32_t p(int i) const { return get32(bytes + 28 + 4 * i); }
};

// One VDC request: length word = 6 + parameters unless given; the request is 4 + 4 x length bytes
// unless inBytes says otherwise; the reply buffer is outBytes long.
inline VdcReply vdc(intptr_t h, uint32_t category, uint32_t command, std::initializer_list<uint32_t> params,
                    uint32_t outBytes, uint32_t length = 0, uint32_t inBytes = 0)
{
    uint8_t request[308] = {};
    if (length == 0)
        length = 6 + uint32_t(params.size());
    put32(request + 4, length);
    put32(request + 16, category);
    put32(request + 20, command);
    int offset = 28;
    for (uint32_t p : params)
    {
        put32(request + offset, p);
        offset += 4;
    }
    if (inBytes == 0)
        inBytes = 4 + 4 * length;
    VdcReply r;
    r.callOk = sim::kernel::ioctl(h, kVdcIoctl, request, inBytes, r.bytes, outBytes, &r.size);
    return r;
}

struct ControlReply
{
    bool callOk = false;
    uint8_t block[64] = {};
    uint32_t size = 0;
    uint32_t word(int offset) const { return get32(block + offset); }
    uint64_t address() const { return uint64_t(word(12)) | uint64_t(word(16)) << 32; }
    int32_t status() const { return int32_t(word(0)); }
};

inline ControlReply control(intptr_t h, uint32_t code, std::initializer_list<uint32_t> args,
                            uint32_t flag = 0)
{
    ControlReply r;
    put32(r.block + 4, flag);
    put32(r.block + 8, code);
    int offset = 12;
    for (uint32_t a : args)
    {
        put32(r.block + offset, a);
        offset += 4;
    }
    r.callOk = sim::kernel::ioctl(h, kControlIoctl, r.block, 64, r.block, 64, &r.size);
    return r;
}

// A private bus with helpers to run devsim against it.
struct Bus : testsupport::TempBus
{
    void run(const std::string& command)
    {
        ASSERT_EQ(devsim(command), 0) << "devsim " << command << ": " << err;
    }
};

// A bus with one plugged unit of the given preset and an open handle on it.
struct OneUnit : Bus
{
    explicit OneUnit(const std::string& options = "--model st8")
    {
        run("plug u1 " + options);
        handle = sim::kernel::open(pathOf("u1"));
        EXPECT_NE(handle, -1);
    }
    ~OneUnit()
    {
        if (handle != -1)
            sim::kernel::close(handle);
    }
    intptr_t handle = -1;
};

using testsupport::Trace;

} // namespace simtest
