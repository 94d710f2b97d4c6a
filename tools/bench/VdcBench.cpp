// The cost of one VDC round trip: the device object's command (lock, packet, I/O control, response
// check) and the bare I/O control, both through the platform layer into the simulator on a private bus.

#include "device/Vhw.h"
#include "platform/DeviceFile.h"
#include "platform/DeviceInterfaces.h"

#include "sim/PrivateBus.h"

#include <benchmark/benchmark.h>
#include <cstring>

namespace
{

struct PluggedUnit
{
    PluggedUnit()
    {
        bus.devsim("plug u1 --model st8");
        platform::DeviceInterfaceSet set(device::kDeviceInterfaceClass);
        path = set.size() > 0 ? set.path(0) : std::string();
    }
    sim::PrivateBus bus;
    std::string path;
};

void BM_VhwGetOutputGain(benchmark::State& state)
{
    PluggedUnit unit;
    device::vhw::Ptr dev = new device::vhw(unit.path);
    if (!dev->open())
    {
        state.SkipWithError("cannot open the simulated unit");
        return;
    }
    float db = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(dev->getOutputGain(0, db));
    dev->close();
}
BENCHMARK(BM_VhwGetOutputGain);

void BM_VhwReadPolled(benchmark::State& state)
{
    PluggedUnit unit;
    device::vhw::Ptr dev = new device::vhw(unit.path);
    if (!dev->open())
    {
        state.SkipWithError("cannot open the simulated unit");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(dev->readPolled());
    dev->close();
}
BENCHMARK(BM_VhwReadPolled);

void BM_RawVdcIoControl(benchmark::State& state)
{
    PluggedUnit unit;
    const platform::Handle h = platform::createFile(unit.path);
    if (h == platform::INVALID_HANDLE_VALUE)
    {
        state.SkipWithError("cannot open the simulated unit");
        return;
    }
    // PhysOut GetGain of channel 0: length 8, 36 bytes each way.
    uint32_t packet[77] = {};
    for (auto _ : state)
    {
        packet[1] = 8;
        packet[4] = 4;
        packet[5] = 1;
        packet[7] = 0;
        uint32_t returned = 0;
        benchmark::DoNotOptimize(platform::deviceIoControl(h, 0x1D2004, packet, 36, packet, 36, &returned));
    }
    platform::closeHandle(h);
}
BENCHMARK(BM_RawVdcIoControl);

} // namespace

BENCHMARK_MAIN();
