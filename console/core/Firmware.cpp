#include "console/core/Firmware.h"

#include "device/Vhw.h"
#include "platform/FileVersion.h"

#include <mutex>

namespace console
{

const FirmwareEntry kFirmwareTable[kFirmwareTableRows] = {
    {0x3B71, 0x5E2, 0x04080000, 1, {"Doranth3"}},
    {0x3B71, 0x5E4, 0x04080000, 1, {"Doranth3"}},
    {0x3B71, 0x5E8, 0x04080000, 4, {"bootstrap", "strellis8", "strellis8_E", "DoranthARM"}},
    {0x3B71, 0x5E12, 0x04080000, 4, {"bootstrap", "strellis12", "strellis12_E", "DoranthARM"}},
    {0x3B71, 0x3D8, 0x04010000, 4, {"bootstrap", "doranth8", "strellis12_E", "DoranthARM"}},
    {0x3B71, 0x5ED1, 0x04010000, 4, {"bootstrap", "drhdmi", "strellis12_E", "DoranthARM"}},
    {0x2D64, 0x7E01, 0x04070000, 4, {"bootstrap", "morvay400f", "morvay400f_E", "DoranthARM"}},
    {0x2D64,
     0x7E02,
     0x04070000,
     5,
     {"bootstrap", "Morvay1200F_DSP", "morvay1200f_E", "Morvay1200F_ARM", "morvayfpga"}},
};

namespace
{

std::mutex folderMutex;
juce::File folderOverride; // guarded by folderMutex

} // namespace

const FirmwareEntry* findFirmwareEntry(uint32_t vendorId, uint32_t modelId)
{
    for (const FirmwareEntry& entry : kFirmwareTable)
        if (entry.vendorId == vendorId && entry.modelId == modelId)
            return &entry;
    return nullptr;
}

const FirmwareEntry* findFirmwareEntry(const device::vhw& device)
{
    return findFirmwareEntry(device.getVendorId(), device.getModelId());
}

void setFirmwareFolder(const juce::File& folder)
{
    std::lock_guard<std::mutex> lock(folderMutex);
    folderOverride = folder;
}

juce::File firmwareFilePath(const juce::String& name, const juce::String& extension)
{
    juce::File folder;
    {
        std::lock_guard<std::mutex> lock(folderMutex);
        folder = folderOverride;
    }
    if (folder == juce::File())
        folder = juce::File::getSpecialLocation(juce::File::currentExecutableFile).getParentDirectory();
    return folder.getChildFile(name + "." + extension);
}

juce::String firmwareVersionText(uint32_t version)
{
    juce::String text = juce::String(int(version >> 24)) + "." + juce::String(int((version >> 16) & 0xFF));
    const uint32_t b = (version >> 8) & 0xFF;
    const uint32_t c = version & 0xFF;
    // A third part of 0 is printed when a fourth follows, so 4.8.0.2 does not read as 4.8.2.
    if (b != 0 || c != 0)
        text << "." << int(b);
    if (c != 0)
        text << "." << int(c);
    return text;
}

bool getFileVersionText(const juce::String& path, juce::String& text)
{
    platform::FileVersion version;
    if (!platform::readFileVersion(path.toStdString(), version))
        return false;
    juce::String result = juce::String(version.major) + "." + juce::String(version.minor);
    if (version.build != 0 || version.revision != 0)
        result << "." << int(version.build);
    if (version.revision != 0)
        result << "." << int(version.revision);
    text = result;
    return true;
}

} // namespace console
