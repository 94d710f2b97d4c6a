#pragma once

// Support for the driver's tests: the capability record they plug, a stand-in for the block the kernel
// driver shares while streaming, and a fixture that gives each test a private bus, registry, trace and
// debug log and loads the built driver library as a host does.

#include "CapsBytes.h"
#include "DriverLoader.h"
#include "SimulatorTrace.h"
#include "TempBus.h"
#include "TempRegistry.h"
#include "platform/DeviceFile.h"
#include "platform/DeviceInterfaces.h"
#include "sim/Devsim.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace asiotest
{

inline constexpr platform::Guid kInterfaceClass{
    0x3D5A1F20, 0x7C44, 0x4B9E, {0x9E, 0x21, 0x6A, 0x0B, 0x5C, 0x7D, 0x8E, 0x31}};

using testsupport::CapsBytes;

// The record the driver's tests plug unless they say otherwise: the typical one, with the clocks internal,
// FireWire and ADAT.
inline CapsBytes typicalCaps()
{
    return CapsBytes::typical().clockMask(0x13);
}

// The block the kernel driver shares while streaming, with its two frame-pointer tables and the frames
// they point at, built by hand at the offsets the kernel driver uses.
class FakeSharedBlock
{
public:
    FakeSharedBlock(uint32_t tableEntries, uint32_t slotsPerFrame)
        : block_(4096 / 8, 0), playFrames_(static_cast<size_t>(tableEntries) * slotsPerFrame, 0),
          capFrames_(static_cast<size_t>(tableEntries) * slotsPerFrame, 0), playTable_(tableEntries),
          capTable_(tableEntries), slots_(slotsPerFrame)
    {
        for (uint32_t e = 0; e < tableEntries; ++e)
        {
            playTable_[e] = reinterpret_cast<uintptr_t>(&playFrames_[static_cast<size_t>(e) * slotsPerFrame]);
            capTable_[e] = reinterpret_cast<uintptr_t>(&capFrames_[static_cast<size_t>(e) * slotsPerFrame]);
        }
        put<uint64_t>(56, reinterpret_cast<uintptr_t>(playTable_.data()));
        put<uint64_t>(344, reinterpret_cast<uintptr_t>(capTable_.data()));
        setPlayback(-1, 0);
        setCapture(-1, 0);
    }

    void* block() { return block_.data(); }

    void setPlayback(int32_t index, uint32_t frames)
    {
        put<int32_t>(80, index);
        put<uint32_t>(76, frames);
    }
    void setCapture(int32_t index, uint32_t frames)
    {
        put<int32_t>(368, index);
        put<uint32_t>(364, frames);
    }

    uint32_t* playbackFrame(uint32_t entry) { return &playFrames_[static_cast<size_t>(entry) * slots_]; }
    uint32_t* captureFrame(uint32_t entry) { return &capFrames_[static_cast<size_t>(entry) * slots_]; }
    // Table entry e of both tables points at frame f (at first every entry points at its own frame).
    void pointEntry(uint32_t e, uint32_t f)
    {
        playTable_[e] = reinterpret_cast<uintptr_t>(playbackFrame(f));
        capTable_[e] = reinterpret_cast<uintptr_t>(captureFrame(f));
    }

    template <typename T> T get(size_t offset) const
    {
        T v;
        std::memcpy(&v, reinterpret_cast<const uint8_t*>(block_.data()) + offset, sizeof v);
        return v;
    }
    template <typename T> void put(size_t offset, T v)
    {
        std::memcpy(reinterpret_cast<uint8_t*>(block_.data()) + offset, &v, sizeof v);
    }

private:
    std::vector<uint64_t> block_; // 8-byte aligned
    std::vector<uint32_t> playFrames_;
    std::vector<uint32_t> capFrames_;
    std::vector<uint64_t> playTable_;
    std::vector<uint64_t> capTable_;
    uint32_t slots_;
};

inline std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A private bus, registry, trace and debug log per test, and the built driver library loaded as a host
// loads it.
class DriverFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        logPath = bus.dir + "/debug.log";
        ::setenv("STRELLIS_DEBUG_LOG", logPath.c_str(), 1);
    }

    void TearDown() override
    {
        for (asiodrv::IASIO* other : others)
            other->Release();
        loader.unload();
        ::unsetenv("STRELLIS_DEBUG_LOG");
    }

    void devsim(const std::string& command)
    {
        ASSERT_EQ(bus.devsim(command), 0) << "devsim " << command << ": " << bus.err;
    }

    // The unique name may hold any bytes but zero, blanks among them.
    void plug(const std::string& unit, const CapsBytes& caps, const std::string& uniqueName = "")
    {
        const std::string file = bus.dir + "/" + unit + ".caps";
        ASSERT_TRUE(caps.writeTo(file));
        std::vector<std::string> args{"plug", unit, "--caps", file};
        if (!uniqueName.empty())
            args.insert(args.end(), {"--unique-name", uniqueName});
        ASSERT_EQ(sim::devsimMain(args, bus.out, bus.err), 0) << "devsim plug " << unit << ": " << bus.err;
    }

    // Registers the built library and loads the driver as a host does; null on failure.
    asiodrv::IASIO* loadDriver()
    {
        std::string error;
        if (asiohost::registerModule(ASIO_DRIVER_PATH, false, error) != 0)
        {
            ADD_FAILURE() << "registration failed: " << error;
            return nullptr;
        }
        if (!loader.loadModule("ASIO Strellis", error) || !loader.createDriver(error))
        {
            ADD_FAILURE() << error;
            return nullptr;
        }
        return loader.driver();
    }

    // Another driver object of the loaded module, as a second host makes one; released with the fixture.
    asiodrv::IASIO* anotherDriver()
    {
        void* object = nullptr;
        if (loader.factory() == nullptr ||
            loader.factory()->CreateInstance(nullptr, loader.entry().clsid, &object) != asiodrv::S_OK)
        {
            ADD_FAILURE() << "no second driver object";
            return nullptr;
        }
        others.push_back(static_cast<asiodrv::IASIO*>(object));
        return others.back();
    }

    asiodrv::IASIO* loadAndInit()
    {
        asiodrv::IASIO* driver = loadDriver();
        if (driver != nullptr && driver->init(nullptr) != asiodrv::ASIOTrue)
        {
            ADD_FAILURE() << "init failed";
            return nullptr;
        }
        return driver;
    }

    // Trace lines that contain the text.
    std::vector<std::string> trace(const std::string& contains) const
    {
        std::vector<std::string> out;
        for (const std::string& line : traceFile.lines())
            if (line.find(contains) != std::string::npos)
                out.push_back(line);
        return out;
    }
    void clearTrace() const { traceFile.clear(); }

    bool logged(const std::string& line) const
    {
        for (const std::string& l : readLines(logPath))
            if (l == line)
                return true;
        return false;
    }

    // The interface path of a plugged unit, by plug order.
    static std::string interfacePath(size_t index)
    {
        const platform::DeviceInterfaceSet set(kInterfaceClass);
        return index < set.size() ? set.path(index) : std::string();
    }

    // One driver-control request sent straight to a unit, beside the driver.
    static bool driverControl(size_t unitIndex, uint32_t subCode, uint32_t arg12, uint32_t arg16,
                              uint32_t (&reply)[16])
    {
        const platform::Handle h = platform::createFile(interfacePath(unitIndex));
        if (h == platform::INVALID_HANDLE_VALUE)
            return false;
        uint32_t block[16] = {0, 0, subCode, arg12, arg16};
        const bool ok =
            platform::deviceIoControl(h, 0x1D2008, block, sizeof block, block, sizeof block, nullptr);
        platform::closeHandle(h);
        std::memcpy(reply, block, sizeof block);
        return ok;
    }

    // The kernel driver's answer to GetDriverInfo of a unit (by plug order), asked beside the driver: flags,
    // rate, clock, buffer size...
    uint32_t driverInfoWord(int word, size_t unit = 0)
    {
        uint32_t reply[16] = {};
        EXPECT_TRUE(driverControl(unit, 3, 0, 0, reply));
        return reply[3 + word];
    }

    testsupport::TempRegistry registry;
    testsupport::TempBus bus;
    testsupport::Trace traceFile{bus.dir};
    asiohost::DriverLoader loader; // after the registry and the bus: the driver goes first
    std::vector<asiodrv::IASIO*> others;
    std::string logPath;
};

} // namespace asiotest
