// The cost of the driver's two sample copies per period (host buffers to the kernel driver's playback
// frames, capture frames to host buffers) for 64 outputs and 64 inputs, next to a plain memcpy of the
// same bytes. Runs against a private simulator bus with one 64 x 64 interface and a shared block built
// here, as the kernel driver lays it out.

#include "asio/DeviceStream.h"
#include "platform/DeviceInterfaces.h"
#include "sim/PrivateBus.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace
{

constexpr int kChannels = 64;
constexpr uint32_t kTableEntries = 1024;

void putWord(uint8_t* bytes, size_t offset, uint32_t value)
{
    std::memcpy(bytes + offset, &value, sizeof value);
}

// One plugged 64-in, 64-out interface and its streaming object over a hand-built shared block.
struct Rig
{
    sim::PrivateBus bus;
    std::unique_ptr<asiodrv::vhw> device;
    std::unique_ptr<asiodrv::DeviceStream> stream;
    std::vector<uint64_t> block = std::vector<uint64_t>(512, 0);
    std::vector<uint32_t> playFrames = std::vector<uint32_t>(kTableEntries * kChannels, 0);
    std::vector<uint32_t> capFrames = std::vector<uint32_t>(kTableEntries * kChannels, 0x00563412);
    std::vector<uint64_t> playTable = std::vector<uint64_t>(kTableEntries);
    std::vector<uint64_t> capTable = std::vector<uint64_t>(kTableEntries);
    bool ok = false;

    explicit Rig(uint32_t frames)
    {
        uint8_t caps[260] = {};
        putWord(caps, 4, 0x3B71u << 8);
        putWord(caps, 84, 1);
        putWord(caps, 88, kChannels);
        putWord(caps, 92, kChannels);
        putWord(caps, 104, 1);
        caps[108] = 0;
        caps[109] = kChannels;
        putWord(caps, 124, 1);
        caps[128] = 0;
        caps[129] = kChannels;
        putWord(caps, 152, 192000);
        putWord(caps, 156, 44100);
        const std::string file = bus.dir + "/bench.caps";
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(caps), sizeof caps);
        if (bus.devsim("plug bench --caps " + file) != 0)
            return;
        const platform::DeviceInterfaceSet set(formats::kDeviceInterfaceClass);
        if (set.size() != 1)
            return;
        device = std::make_unique<asiodrv::vhw>(set.path(0));
        stream = std::make_unique<asiodrv::DeviceStream>(device.get());
        stream->setBufferSize(frames);
        if (!stream->allocateBuffers())
            return;
        for (int k = 0; k < kChannels; ++k)
        {
            int32_t* out = stream->outputBuffer(k, true);
            int32_t* in = stream->inputBuffer(k);
            for (uint32_t j = 0; j < 2 * frames; ++j)
            {
                out[j] = static_cast<int32_t>(0x12345678u * (j + 1) + static_cast<uint32_t>(k));
                in[j] = 0;
            }
        }
        for (uint32_t e = 0; e < kTableEntries; ++e)
        {
            playTable[e] = reinterpret_cast<uintptr_t>(&playFrames[e * kChannels]);
            capTable[e] = reinterpret_cast<uintptr_t>(&capFrames[e * kChannels]);
        }
        auto* b = reinterpret_cast<uint8_t*>(block.data());
        const uint64_t play = reinterpret_cast<uintptr_t>(playTable.data());
        const uint64_t cap = reinterpret_cast<uintptr_t>(capTable.data());
        std::memcpy(b + asiodrv::shared::kPlaybackTable, &play, sizeof play);
        std::memcpy(b + asiodrv::shared::kCaptureTable, &cap, sizeof cap);
        putWord(b, asiodrv::shared::kPlaybackFrames, frames);
        putWord(b, asiodrv::shared::kCaptureFrames, frames);
        putWord(b, asiodrv::shared::kPlaybackIndex, 128);
        putWord(b, asiodrv::shared::kCaptureIndex, 256);
        stream->setSharedBlock(b);
        ok = true;
    }

    ~Rig()
    {
        stream.reset();
        device.reset();
    }
};

void OutputCopy(benchmark::State& state)
{
    const auto frames = static_cast<uint32_t>(state.range(0));
    Rig rig(frames);
    if (!rig.ok)
    {
        state.SkipWithError("no simulated interface");
        return;
    }
    uint32_t half = 0;
    for (auto _ : state)
    {
        rig.stream->writeOutputs(half * frames);
        half ^= 1;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * frames * kChannels * 4);
}

void InputCopy(benchmark::State& state)
{
    const auto frames = static_cast<uint32_t>(state.range(0));
    Rig rig(frames);
    if (!rig.ok)
    {
        state.SkipWithError("no simulated interface");
        return;
    }
    uint32_t half = 0;
    for (auto _ : state)
    {
        rig.stream->readInputs(half * frames);
        half ^= 1;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * frames * kChannels * 4);
}

// The floor: the same number of bytes moved by one memcpy.
void PlainMemcpy(benchmark::State& state)
{
    const auto bytes = static_cast<size_t>(state.range(0)) * kChannels * 4;
    std::vector<uint8_t> from(bytes, 0x5A);
    std::vector<uint8_t> to(bytes);
    for (auto _ : state)
    {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

} // namespace

BENCHMARK(OutputCopy)->Arg(32)->Arg(64)->Arg(256);
BENCHMARK(InputCopy)->Arg(32)->Arg(64)->Arg(256);
BENCHMARK(PlainMemcpy)->Arg(32)->Arg(64)->Arg(256);

BENCHMARK_MAIN();
