#pragma once

// The unit models the simulator offers, their capability records, and the firmware they carry in flash.

#include "Shared.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim
{

struct GroupSpec
{
    uint8_t type;
    uint8_t channels;
};

struct ModelSpec
{
    const char* key;  // the name devsim uses
    const char* name; // model name in the capability record
    uint32_t vendorId;
    uint32_t modelId;
    uint32_t hwVersion;
    uint32_t featureFlags; // bit 4 no flash lock, 5 FPGA, 6 phantom power, 7 output routing
    uint32_t clockMask;
    uint32_t playback48;
    uint32_t playback96;
    uint32_t playback192;
    uint32_t minRate;
    uint32_t maxRate;
    uint32_t outputCount;
    GroupSpec inputs[8];
    uint32_t inputGroups;
    GroupSpec outputs[8];
    uint32_t outputGroups;
    uint32_t midiIn;
    uint32_t midiOut;
    uint32_t firmwareVersion; // the version the model's firmware table row asks for
    const char* images[5];    // firmware images, in flashing order
    uint32_t imageCount;
};

// Feature flag bits of the capability record.
constexpr uint32_t kCapNoFlashLock = 1u << 4;
constexpr uint32_t kCapFpga = 1u << 5;
constexpr uint32_t kCapPhantom = 1u << 6;
constexpr uint32_t kCapRouting = 1u << 7;

// Capability record offsets: the simulator's own reading, kept apart from the formats library on purpose
// (see Wire.h).
namespace caps
{
constexpr int kFlags = 0;
constexpr int kIdHigh = 4;
constexpr int kIdLow = 8;
constexpr int kModel = 12;
constexpr int kHwVersion = 16;
constexpr int kModelName = 52;
constexpr int kClockMask = 84;
constexpr int kPlayback48 = 88;
constexpr int kInputCount = 92;
constexpr int kMeters1 = 96;
constexpr int kMeters2 = 100;
constexpr int kOutGroupCount = 104;
constexpr int kOutGroups = 108;
constexpr int kInGroupCount = 124;
constexpr int kInGroups = 128;
constexpr int kMidiOut = 144;
constexpr int kMidiIn = 148;
constexpr int kMaxRate = 152;
constexpr int kMinRate = 156;
constexpr int kDspVersion = 160;
constexpr int kArmVersion = 164;
constexpr int kOutputCount = 168;
constexpr int kFpgaVersion = 176;
constexpr int kPlayback96 = 180;
constexpr int kPlayback192 = 188;
} // namespace caps

const std::vector<ModelSpec>& models();
// By devsim key or by model name, ignoring case; null when unknown.
const ModelSpec* findModel(const std::string& keyOrName);

void buildCaps(const ModelSpec& model, uint32_t serial, uint32_t firmwareVersion, uint8_t out[kCapsBytes]);
uint32_t unitIdHigh(const ModelSpec& model);
uint32_t unitIdLow(const ModelSpec& model, uint32_t serial);

// Firmware in flash. Each kind of image has a fixed region; a region holds a valid image when its last
// quadlet is the trailer word, and the quadlet before it is the image's version.
enum class ImageRole
{
    Bootstrap,
    Dsp,
    Backup,
    Arm,
    Fpga
};

struct FlashRegion
{
    ImageRole role;
    uint32_t type; // image type in the file header
    uint32_t address;
    uint32_t bytes;
};

constexpr uint32_t kImageTrailer = 0x5AA5C33C;
constexpr uint32_t kDefaultSessionBase = 0x1F0000;

const FlashRegion& regionFor(ImageRole role);
ImageRole roleOfImage(const std::string& imageName);

// An image as a firmware file carries it: the 64-quadlet header, then the data.
struct FirmwareImage
{
    uint32_t header[64];
    std::vector<uint32_t> data;
};

// The image of the given name and version; the same inputs always give the same content, so flash that
// was programmed with it compares equal to a file made from it. dataQuads is the length of the data the
// file carries; the trailer extends it to the region.
FirmwareImage makeImage(const std::string& imageName, uint32_t version, uint32_t dataQuads);

// The DAT text of an image: the five magic numbers, then every quadlet in hexadecimal.
std::string datText(const FirmwareImage& image);

// Programs the image into flash as an update leaves it: region erased, data and trailer written.
void programImage(uint8_t* flash, const FirmwareImage& image);

// The firmware versions a unit of a preset boots with: a valid image in flash overrides the version
// its record carries. Records that are not a preset's are left alone.
void readFirmwareVersions(UnitState& unit, const uint8_t* flash);

// "4.8", "4.8.1", "4.8.1.14", or a number ("0x04080000"); false when it is neither.
bool parseVersion(const std::string& text, uint32_t* version);
std::string versionText(uint32_t version);

} // namespace sim
