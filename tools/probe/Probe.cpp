// Prints what the device layer reads of every present interface of the kernel driver's class: the
// capability record with its groups and channel maps, the driver information and a few mixer values.

#include "device/HwInfoCaps.h"
#include "device/Vhw.h"
#include "platform/DeviceInterfaces.h"

#include <cstdio>
#include <string>

namespace
{

std::string versionText(uint32_t word)
{
    return device::formatFirmwareVersion(word);
}

void printGroups(const char* what, uint32_t count, uint32_t (device::HwInfoCaps::*channels)(uint32_t) const,
                 const char* (device::HwInfoCaps::*name)(uint32_t) const, const device::HwInfoCaps& caps)
{
    std::printf("  %s groups: %u\n", what, count);
    for (uint32_t g = 0; g < count && g < device::HwInfoCaps::kMaxGroups; ++g)
        std::printf("    %u: %-10s %u channels\n", g, (caps.*name)(g), (caps.*channels)(g));
}

void printMap(const char* what, uint32_t channels, const device::HwInfoCaps& caps, bool inputs)
{
    std::printf("  %s map:", what);
    for (uint32_t i = 0; i < channels && i < device::HwInfoCaps::kMapEntries; ++i)
    {
        const unsigned type = inputs ? caps.getInputMapType(i) : caps.getOutputMapType(i);
        const unsigned group = inputs ? caps.getInputMapGroup(i) : caps.getOutputMapGroup(i);
        const unsigned index = inputs ? caps.getInputMapIndex(i) : caps.getOutputMapIndex(i);
        std::printf("%s(%u,%u,%u)", i % 8 == 0 ? "\n    " : " ", type, group, index);
    }
    std::printf("\n");
}

void probe(const std::string& path)
{
    device::vhw::Ptr dev = new device::vhw(path);
    std::printf("%s\n", path.c_str());
    if (!dev->isValid())
    {
        std::printf("  not valid: %s\n",
                    dev->getLastError().empty() ? "no capability record" : dev->getLastError().c_str());
        return;
    }
    const device::HwInfoCaps& caps = dev->getCaps();
    std::printf("  unique name \"%s\", model \"%s\", vendor 0x%X, model id 0x%X, hardware version 0x%X\n",
                dev->getUniqueName().c_str(), caps.getModelName().c_str(), dev->getVendorId(),
                dev->getModelId(), dev->getHwVersion());
    std::printf(
        "  inputs %u, outputs %u, playback %u/%u/%u (up to 50 kHz/100 kHz/above), MIDI in %u out %u\n",
        caps.getInputCount(), caps.getOutputCount(), caps.getPlaybackChannels(48000),
        caps.getPlaybackChannels(96000), caps.getPlaybackChannels(192000), caps.getMidiInCount(),
        caps.getMidiOutCount());
    std::printf("  sample rates %u .. %u Hz; firmware DSP %s, ARM %s%s%s\n", caps.getMinSampleRate(),
                caps.getMaxSampleRate(), versionText(caps.getDspVersion()).c_str(),
                versionText(caps.getArmVersion()).c_str(), caps.hasFpga() ? ", FPGA " : "",
                caps.hasFpga() ? versionText(caps.getFpgaVersion()).c_str() : "");
    std::printf("  clocks:");
    for (uint32_t n = 0; n < 6; ++n)
    {
        std::string name;
        if (caps.supportsClock(n) && caps.getClockName(n, name))
            std::printf(" %s", name.c_str());
    }
    std::printf("; features:%s%s%s%s%s\n", caps.hasPhantomPower() ? " phantom-power" : "",
                caps.hasOutputRouting() ? " output-routing" : "", caps.hasSpdifOutput() ? " spdif-out" : "",
                caps.hasNoFlashLock() ? " no-flash-lock" : "", caps.hasFpga() ? " fpga" : "");
    printGroups("input", caps.getInputGroupCount(), &device::HwInfoCaps::getInputGroupChannels,
                &device::HwInfoCaps::getInputGroupName, caps);
    printGroups("output", caps.getOutputGroupCount(), &device::HwInfoCaps::getOutputGroupChannels,
                &device::HwInfoCaps::getOutputGroupName, caps);
    printMap("input", caps.getInputCount(), caps, true);
    printMap("output", caps.getOutputCount(), caps, false);

    if (!dev->open())
    {
        std::printf("  cannot open: %s\n", dev->getLastError().c_str());
        return;
    }
    std::printf("  kernel driver version 0x%08X\n", dev->getDriverVersion());
    if (dev->readDriverInfo() == 0)
    {
        const device::DriverInfo& info = dev->getDriverInfo();
        std::printf("  driver: flags 0x%X, %u Hz, clock %u, buffer %u (%u..%u step %u, configured %u)\n",
                    info.flags, info.sampleRate, info.clockIndex, info.bufferSize, info.minBufferSize,
                    info.maxBufferSize, info.bufferSizeStep, info.configuredBufferSize);
    }
    else
        std::printf("  driver information: request failed\n");

    int rate = 0;
    int clock = 0;
    if (dev->getClock(rate, clock) == 0)
        std::printf("  clock: %d Hz, source %d\n", rate, clock);
    for (int ch = 0; ch < 2 && ch < static_cast<int>(caps.getOutputCount()); ++ch)
    {
        float db = 0;
        int mute = 0;
        if (dev->getOutputGain(ch, db) == 0 && dev->getOutputMute(ch, mute) == 0)
            std::printf("  output %d: %.1f dB%s\n", ch, db, mute ? ", muted" : "");
    }
    float monitor = 0;
    float pan = 0;
    if (caps.getInputCount() > 0 && dev->getMonitorGain(0, 0, monitor) == 0 &&
        dev->getMonitorPan(0, 0, pan) == 0)
        std::printf("  monitor mix 0, input 0: %.1f dB, pan %.2f\n", monitor, pan);
    if (dev->readPolled() == 0)
        std::printf("  status word 0x%08X, output meter 0 = 0x%08X, input meter 0 = 0x%08X\n",
                    dev->getStatusWord(), dev->getOutputMeter(0), dev->getInputMeter(0));
    dev->close();
}

} // namespace

int main()
{
    platform::DeviceInterfaceSet set(device::kDeviceInterfaceClass);
    if (set.size() == 0)
    {
        std::printf("No interface present.\n");
        return 1;
    }
    for (size_t i = 0; i < set.size(); ++i)
        probe(set.path(i));
    return 0;
}
