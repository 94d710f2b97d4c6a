#include "Models.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim
{

namespace
{

constexpr uint8_t kAnalog = 0;
constexpr uint8_t kSpdif = 1;
constexpr uint8_t kAdat = 2;
constexpr uint8_t kPhones = 5;
constexpr uint8_t kPlain = 6;

std::vector<ModelSpec> makeModels()
{
    std::vector<ModelSpec> list;
    // key, name, vendor, model, hw, flags, clocks, playback 48/96/192, rates, outputs,
    // input groups, output groups, MIDI in/out, firmware version, images
    list.push_back({"st2",
                    "Strellis 2",
                    0x3B71,
                    0x5E2,
                    1,
                    kCapPhantom,
                    0x03,
                    4,
                    4,
                    2,
                    32000,
                    96000,
                    4,
                    {{kAnalog, 2}},
                    1,
                    {{kAnalog, 2}, {kPhones, 2}},
                    2,
                    0,
                    0,
                    0x04080000,
                    {"Doranth3"},
                    1});
    list.push_back({"st4",
                    "Strellis 4",
                    0x3B71,
                    0x5E4,
                    1,
                    kCapPhantom,
                    0x0B,
                    8,
                    8,
                    4,
                    32000,
                    192000,
                    8,
                    {{kAnalog, 4}, {kSpdif, 2}},
                    2,
                    {{kAnalog, 4}, {kSpdif, 2}, {kPhones, 2}},
                    3,
                    1,
                    1,
                    0x04080000,
                    {"Doranth3"},
                    1});
    list.push_back({"st8",
                    "Strellis 8",
                    0x3B71,
                    0x5E8,
                    2,
                    kCapPhantom | kCapRouting,
                    0x0F,
                    12,
                    12,
                    8,
                    32000,
                    192000,
                    12,
                    {{kAnalog, 8}, {kSpdif, 2}},
                    2,
                    {{kAnalog, 8}, {kSpdif, 2}, {kPhones, 2}},
                    3,
                    1,
                    1,
                    0x04080000,
                    {"bootstrap", "strellis8", "strellis8_E", "DoranthARM"},
                    4});
    list.push_back({"st12",
                    "Strellis 12",
                    0x3B71,
                    0x5E12,
                    2,
                    kCapPhantom | kCapRouting,
                    0x1F,
                    24,
                    16,
                    8,
                    32000,
                    192000,
                    24,
                    {{kAnalog, 12}, {kAdat, 8}, {kSpdif, 2}},
                    3,
                    {{kAnalog, 12}, {kAdat, 8}, {kSpdif, 2}, {kPhones, 2}},
                    4,
                    2,
                    2,
                    0x04080000,
                    {"bootstrap", "strellis12", "strellis12_E", "DoranthARM"},
                    4});
    list.push_back({"d8",
                    "Doranth 8",
                    0x3B71,
                    0x3D8,
                    1,
                    kCapNoFlashLock,
                    0x17,
                    16,
                    12,
                    8,
                    44100,
                    96000,
                    16,
                    {{kAnalog, 8}, {kAdat, 8}},
                    2,
                    {{kAnalog, 8}, {kAdat, 8}},
                    2,
                    1,
                    1,
                    0x04010000,
                    {"bootstrap", "doranth8", "strellis12_E", "DoranthARM"},
                    4});
    list.push_back({"dhdmi",
                    "Doranth HDMI",
                    0x3B71,
                    0x5ED1,
                    1,
                    kCapNoFlashLock | kCapRouting,
                    0x03,
                    10,
                    10,
                    2,
                    44100,
                    192000,
                    10,
                    {{kAnalog, 2}, {kPlain, 2}},
                    2,
                    {{kAnalog, 2}, {kPlain, 8}},
                    2,
                    0,
                    0,
                    0x04010000,
                    {"bootstrap", "drhdmi", "strellis12_E", "DoranthARM"},
                    4});
    list.push_back({"m400f",
                    "Morvay 400F",
                    0x2D64,
                    0x7E01,
                    1,
                    kCapPhantom,
                    0x0B,
                    8,
                    8,
                    4,
                    32000,
                    192000,
                    8,
                    {{kAnalog, 4}, {kSpdif, 2}},
                    2,
                    {{kAnalog, 4}, {kSpdif, 2}, {kPhones, 2}},
                    3,
                    1,
                    1,
                    0x04070000,
                    {"bootstrap", "morvay400f", "morvay400f_E", "DoranthARM"},
                    4});
    list.push_back({"m1200f",
                    "Morvay 1200F",
                    0x2D64,
                    0x7E02,
                    1,
                    kCapFpga | kCapPhantom | kCapRouting,
                    0x3F,
                    28,
                    20,
                    12,
                    32000,
                    192000,
                    28,
                    {{kAnalog, 8}, {kAdat, 8}, {kAdat, 8}, {kSpdif, 2}},
                    4,
                    {{kAnalog, 8}, {kAdat, 8}, {kAdat, 8}, {kSpdif, 2}, {kPhones, 2}},
                    5,
                    1,
                    1,
                    0x04070000,
                    {"bootstrap", "Morvay1200F_DSP", "morvay1200f_E", "Morvay1200F_ARM", "morvayfpga"},
                    5});
    // A unit of another maker on the same bus, which the system must pass over.
    list.push_back(
        {"foreign", "Other 4",      0x00A1B2, 0x0104,         1, 0, 0x03, 4,          4,  2, 44100, 96000,
         4,         {{kAnalog, 4}}, 1,        {{kAnalog, 4}}, 1, 0, 0,    0x01000000, {}, 0});
    return list;
}

const FlashRegion kRegions[] = {
    {ImageRole::Bootstrap, 2, 0x000000, 0x8000}, {ImageRole::Dsp, 0, 0x010000, 0x60000},
    {ImageRole::Backup, 0, 0x070000, 0x60000},   {ImageRole::Arm, 1, 0x0D0000, 0x60000},
    {ImageRole::Fpga, 3, 0x130000, 0x60000},
};

std::string lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

uint32_t mix32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352D;
    x ^= x >> 15;
    x *= 0x846CA68B;
    x ^= x >> 16;
    return x;
}

bool regionValid(const uint8_t* flash, const FlashRegion& r, uint32_t* version)
{
    const uint8_t* end = flash + r.address + r.bytes;
    if (loadLe32(end - 4) != kImageTrailer)
        return false;
    *version = loadLe32(end - 8);
    return true;
}

bool modelHasRole(const ModelSpec& m, ImageRole role)
{
    for (uint32_t i = 0; i < m.imageCount; ++i)
        if (roleOfImage(m.images[i]) == role)
            return true;
    return false;
}

} // namespace

const std::vector<ModelSpec>& models()
{
    static const std::vector<ModelSpec> list = makeModels();
    return list;
}

const ModelSpec* findModel(const std::string& keyOrName)
{
    for (const ModelSpec& m : models())
        if (equalsIgnoringCase(keyOrName, m.key) || equalsIgnoringCase(keyOrName, m.name))
            return &m;
    return nullptr;
}

uint32_t unitIdHigh(const ModelSpec& model)
{
    return model.vendorId << 8;
}

uint32_t unitIdLow(const ModelSpec& model, uint32_t serial)
{
    return (model.modelId & 0xFFFF) << 16 | (serial & 0xFFFF);
}

void buildCaps(const ModelSpec& m, uint32_t serial, uint32_t firmwareVersion, uint8_t out[kCapsBytes])
{
    std::memset(out, 0, kCapsBytes);
    uint32_t inputs = 0;
    for (uint32_t g = 0; g < m.inputGroups; ++g)
        inputs += m.inputs[g].channels;
    storeLe32(out + caps::kFlags, m.featureFlags);
    storeLe32(out + caps::kIdHigh, unitIdHigh(m));
    storeLe32(out + caps::kIdLow, unitIdLow(m, serial));
    storeLe32(out + caps::kModel, m.modelId);
    storeLe32(out + caps::kHwVersion, m.hwVersion);
    std::strncpy(reinterpret_cast<char*>(out + caps::kModelName), m.name, 31);
    storeLe32(out + caps::kClockMask, m.clockMask);
    storeLe32(out + caps::kPlayback48, m.playback48);
    storeLe32(out + caps::kInputCount, inputs);
    storeLe32(out + caps::kMeters1, m.outputCount);
    storeLe32(out + caps::kMeters2, inputs);
    storeLe32(out + caps::kOutGroupCount, m.outputGroups);
    for (uint32_t g = 0; g < m.outputGroups; ++g)
    {
        out[caps::kOutGroups + 2 * g] = m.outputs[g].type;
        out[caps::kOutGroups + 2 * g + 1] = m.outputs[g].channels;
    }
    storeLe32(out + caps::kInGroupCount, m.inputGroups);
    for (uint32_t g = 0; g < m.inputGroups; ++g)
    {
        out[caps::kInGroups + 2 * g] = m.inputs[g].type;
        out[caps::kInGroups + 2 * g + 1] = m.inputs[g].channels;
    }
    storeLe32(out + caps::kMidiOut, m.midiOut);
    storeLe32(out + caps::kMidiIn, m.midiIn);
    storeLe32(out + caps::kMaxRate, m.maxRate);
    storeLe32(out + caps::kMinRate, m.minRate);
    storeLe32(out + caps::kDspVersion, firmwareVersion);
    storeLe32(out + caps::kArmVersion, firmwareVersion);
    storeLe32(out + caps::kOutputCount, m.outputCount);
    storeLe32(out + caps::kFpgaVersion, (m.featureFlags & kCapFpga) ? firmwareVersion : 0);
    storeLe32(out + caps::kPlayback96, m.playback96);
    storeLe32(out + caps::kPlayback192, m.playback192);
}

const FlashRegion& regionFor(ImageRole role)
{
    for (const FlashRegion& r : kRegions)
        if (r.role == role)
            return r;
    return kRegions[1];
}

ImageRole roleOfImage(const std::string& imageName)
{
    std::string n = lower(imageName);
    if (n == "bootstrap")
        return ImageRole::Bootstrap;
    if (n.size() > 2 && n.compare(n.size() - 2, 2, "_e") == 0)
        return ImageRole::Backup;
    // The small models keep all their code in one image, which runs on the ARM.
    if (n.find("arm") != std::string::npos || n == "doranth3")
        return ImageRole::Arm;
    if (n.find("fpga") != std::string::npos)
        return ImageRole::Fpga;
    return ImageRole::Dsp;
}

FirmwareImage makeImage(const std::string& imageName, uint32_t version, uint32_t dataQuads)
{
    FirmwareImage image;
    const ImageRole role = roleOfImage(imageName);
    const FlashRegion& region = regionFor(role);
    const uint32_t regionQuads = region.bytes / 4;
    if (dataQuads == 0)
        dataQuads = 1;
    if (dataQuads > regionQuads - 2)
        dataQuads = regionQuads - 2;
    if (role == ImageRole::Backup)
        version = (version & ~0xFu) | 0xE;
    std::memset(image.header, 0, sizeof(image.header));
    image.header[0] = region.type;
    image.header[1] = region.address;
    image.header[2] = dataQuads;
    image.header[3] = kImageTrailer;
    image.header[5] = version;
    image.header[6] = 1;
    image.header[7] = regionQuads;
    uint32_t seed = 2166136261u;
    for (char c : lower(imageName))
        seed = (seed ^ static_cast<unsigned char>(c)) * 16777619u;
    seed ^= version * 0x9E3779B9u;
    image.data.resize(dataQuads);
    for (uint32_t i = 0; i < dataQuads; ++i)
        image.data[i] = mix32(seed + i);
    return image;
}

std::string datText(const FirmwareImage& image)
{
    std::string text = "1651 1 0 0 0\n";
    char word[16];
    auto put = [&](uint32_t q, size_t index)
    {
        std::snprintf(word, sizeof(word), "%08x", q);
        text += word;
        text += (index % 8 == 7) ? '\n' : ' ';
    };
    size_t index = 0;
    for (uint32_t q : image.header)
        put(q, index++);
    for (uint32_t q : image.data)
        put(q, index++);
    if (text.back() != '\n')
        text.back() = '\n';
    return text;
}

void programImage(uint8_t* flash, const FirmwareImage& image)
{
    const uint32_t address = image.header[1];
    const uint32_t regionQuads = image.header[7];
    if (address >= kFlashBytes || uint64_t(address) + uint64_t(regionQuads) * 4 > kFlashBytes)
        return;
    std::memset(flash + address, 0xFF, size_t(regionQuads) * 4);
    for (size_t i = 0; i < image.data.size() && i < regionQuads; ++i)
        storeLe32(flash + address + 4 * i, image.data[i]);
    if (image.header[6] != 0 && regionQuads >= 2)
    {
        storeLe32(flash + address + 4 * (regionQuads - 2), image.header[5]);
        storeLe32(flash + address + 4 * (regionQuads - 1), image.header[3]);
    }
}

void readFirmwareVersions(UnitState& unit, const uint8_t* flash)
{
    if (unit.preset == 0 || unit.preset > models().size())
        return;
    const ModelSpec& m = models()[unit.preset - 1];
    uint32_t v = 0;
    if (modelHasRole(m, ImageRole::Arm) && regionValid(flash, regionFor(ImageRole::Arm), &v))
        storeLe32(unit.caps + caps::kArmVersion, v);
    // A unit whose main DSP code is missing boots its backup code, which marks itself in its version.
    if (modelHasRole(m, ImageRole::Dsp) && (regionValid(flash, regionFor(ImageRole::Dsp), &v) ||
                                            regionValid(flash, regionFor(ImageRole::Backup), &v)))
        storeLe32(unit.caps + caps::kDspVersion, v);
    if (modelHasRole(m, ImageRole::Fpga) && regionValid(flash, regionFor(ImageRole::Fpga), &v))
        storeLe32(unit.caps + caps::kFpgaVersion, v);
}

bool parseVersion(const std::string& text, uint32_t* version)
{
    if (text.empty())
        return false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        char* end = nullptr;
        unsigned long v = std::strtoul(text.c_str() + 2, &end, 16);
        if (end == nullptr || *end != '\0' || v > 0xFFFFFFFFul)
            return false;
        *version = uint32_t(v);
        return true;
    }
    uint32_t parts[4] = {0, 0, 0, 0};
    int count = 0;
    size_t pos = 0;
    while (pos <= text.size() && count < 4)
    {
        size_t dot = text.find('.', pos);
        std::string part = text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        if (part.empty() || part.size() > 3)
            return false;
        for (char c : part)
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return false;
        unsigned long p = std::strtoul(part.c_str(), nullptr, 10);
        if (p > 255)
            return false;
        parts[count++] = uint32_t(p);
        if (dot == std::string::npos)
            break;
        pos = dot + 1;
        if (count == 4)
            return false;
    }
    if (count < 2)
        return false;
    *version = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
    return true;
}

std::string versionText(uint32_t version)
{
    char text[32];
    int n = std::snprintf(text, sizeof(text), "%u.%u", version >> 24, (version >> 16) & 0xFF);
    if ((version >> 8) & 0xFF)
        n += std::snprintf(text + n, sizeof(text) - size_t(n), ".%u", (version >> 8) & 0xFF);
    if (version & 0xFF)
        std::snprintf(text + n, sizeof(text) - size_t(n), ".%u", version & 0xFF);
    return text;
}

} // namespace sim
