#pragma once

// The built-in firmware table (which models are updated, to which minimum version, with which images),
// where the image files are found, and the version texts shown for firmware words and program files.

#include <juce_core/juce_core.h>

#include <cstdint>

namespace device
{
class vhw;
}

namespace console
{

// One row of the firmware table: the model, the oldest firmware it may run, and its images in flashing
// order.
struct FirmwareEntry
{
    static constexpr int kMaxImages = 5;

    uint32_t vendorId;
    uint32_t modelId;
    uint32_t requiredVersion;
    int imageCount;
    const char* images[kMaxImages];
};

inline constexpr int kFirmwareTableRows = 8;
extern const FirmwareEntry kFirmwareTable[kFirmwareTableRows];

// The first row for this vendor and model; null when the model is never updated.
const FirmwareEntry* findFirmwareEntry(uint32_t vendorId, uint32_t modelId);
const FirmwareEntry* findFirmwareEntry(const device::vhw& device);

// The image file "<name>.<extension>" in the folder of the running executable (names are case-sensitive).
juce::File firmwareFilePath(const juce::String& name, const juce::String& extension);

// Makes firmwareFilePath look in another folder (tests); an empty File restores the executable's folder.
// Call it while no update runs.
void setFirmwareFolder(const juce::File& folder);

// A firmware version word as the version table shows it: "major.minor", then ".b" for bits 8..15 and
// ".c" for bits 0..7; ".c" only when nonzero, ".b" when it or ".c" is (0x04080000 = 4.8,
// 0x04080102 = 4.8.1.2, 0x0408000E = 4.8.0.14).
juce::String firmwareVersionText(uint32_t version);

// The file version of a program file as "major.minor[.build][.revision]": the revision only when
// nonzero, the build when it or the revision is. Returns false and leaves text unchanged when the file
// carries no version block.
bool getFileVersionText(const juce::String& path, juce::String& text);

} // namespace console
