// Session files of the state block: the 64-byte header with the image, in either byte order, the legacy
// 8192-byte files of two models, and the session folder.

#include "console/core/ConsoleState.h"

#include "device/Text.h"
#include "device/Vhw.h"
#include "platform/Debug.h"
#include "platform/FileFlush.h"
#include "platform/KnownFolders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace console
{
namespace
{

constexpr int kWordAreaBytes = ConsoleState::kByteArea;

// The legacy format: where its fields lie and how many of each it has room for.
namespace legacy
{
constexpr uint32_t kSizeQuads = 2048;
constexpr uint32_t kVersion = 256;
constexpr int kVersionAt = 36;
constexpr int kFlagsAt = 40;
constexpr int kInputRecordsAt = 44;
constexpr int kCellsAt = 620; // [input][output channel], 8 bytes each
constexpr int kCellRowBytes = 192;
constexpr int kCellBytes = 8;
constexpr int kInputGangsAt = 5228; // 12 bytes per input
constexpr int kInputGangBytes = 12;
constexpr int kPlaybackAt = 5516; // 28 bytes per channel
constexpr int kPlaybackGangsAt = 6188;
constexpr int kOutputsAt = 6200; // 28 bytes per channel
constexpr int kOutputGangsAt = 6872;
constexpr int kChannelBytes = 28;
constexpr int kChannelNameAt = 6;
constexpr int kLegacyWordAt = 6884;
constexpr int kClockAt = 6892;
constexpr int kRateAt = 6896;
// What the file has room for, and what is read of it.
constexpr uint32_t kMaxInputs = 24;
constexpr uint32_t kMaxOutputs = 24;
constexpr uint32_t kMaxGangFlags = 12; // of playback and outputs
} // namespace legacy

uint32_t readLE(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeLE(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t swapped(uint32_t v)
{
    return juce::ByteOrder::swap(v);
}

// Reads exactly size bytes of a file that must be exactly that long: cannotOpen when it is not (or does
// not open), short when fewer bytes came than the size said.
ConsoleState::FileError readWhole(const juce::File& file, uint8_t* data, int size,
                                  ConsoleState::FileError shortError)
{
    juce::FileInputStream in(file);
    if (!in.openedOk() || in.getTotalLength() != size)
        return ConsoleState::FileError::cannotOpen;
    return in.read(data, size) == size ? ConsoleState::FileError::none : shortError;
}

// The image of a file (little-endian words, then the byte area in record order) as it lies in memory.
void imageFromFile(const uint8_t* bytes, uint32_t* image)
{
    std::memcpy(image, bytes, ConsoleState::kImageBytes);
    for (int i = 0; i < kWordAreaBytes / 4; ++i)
        image[i] = readLE(bytes + 4 * i);
}

void setGangBit(int32_t& mask, bool on, int channel)
{
    const uint32_t bit = 1u << (channel / 2);
    mask = int32_t(on ? uint32_t(mask) | bit : uint32_t(mask) & ~bit);
}

} // namespace

const char* ConsoleState::getErrorText(FileError error)
{
    switch (error)
    {
    case FileError::none:
        return "";
    case FileError::cannotOpen:
        return "Unable to open the file.";
    case FileError::headerTooSmall:
        return "The file header is too small.";
    case FileError::wrongSize:
        return "The file is the wrong size.";
    case FileError::headerInvalid:
        return "The file header is invalid.";
    case FileError::dataInvalid:
        return "The data is invalid.";
    case FileError::versionWrong:
        return "The session version is wrong.";
    case FileError::cannotWrite:
        return "Unable to write the file.";
    }
    return "";
}

void ConsoleState::makeFileHeader(uint32_t (&header)[kFileHeaderWords]) const
{
    std::fill(std::begin(header), std::end(header), 0u);
    header[0] = kSessionMagic;
    header[1] = kSessionFileBytes;
    header[2] = device_.getVendorId();
    header[3] = device_.getModelId();
    header[4] = device_.getHwVersion();
    header[7] = uint32_t(inputGangs_);
    header[8] = uint32_t(playbackGangs_);
    header[9] = uint32_t(outputGangs_);
    header[10] = uint32_t(headerWord_);
}

void ConsoleState::applyFileHeader(const uint32_t (&header)[kFileHeaderWords])
{
    inputGangs_ = int32_t(header[7]);
    playbackGangs_ = int32_t(header[8]);
    outputGangs_ = int32_t(header[9]);
    headerWord_ = int32_t(header[10]);
}

ConsoleState::FileError ConsoleState::readSessionFile(const juce::File& file)
{
    std::array<uint8_t, kSessionFileBytes> bytes;
    if (const FileError e = readWhole(file, bytes.data(), kSessionFileBytes, FileError::headerTooSmall);
        e != FileError::none)
        return e;

    uint32_t header[kFileHeaderWords];
    for (int i = 0; i < kFileHeaderWords; ++i)
        header[i] = readLE(bytes.data() + 4 * i);
    std::array<uint32_t, kImageQuads> image;
    imageFromFile(bytes.data() + kFileHeaderBytes, image.data());

    // Written in the other byte order: every word turns round; the byte area is in record order either way.
    if (header[0] == swapped(kSessionMagic))
    {
        for (uint32_t& w : header)
            w = swapped(w);
        for (int i = 0; i < kWordAreaBytes / 4; ++i)
            image[size_t(i)] = swapped(image[size_t(i)]);
    }

    if (header[0] != kSessionMagic || header[1] != uint32_t(kSessionFileBytes) ||
        header[2] != device_.getVendorId() || header[3] != device_.getModelId() ||
        header[4] != device_.getHwVersion())
        return FileError::headerInvalid;
    // Of two faults the version is the one reported.
    if (image[kVersionWord] > kSessionVersion)
        return FileError::versionWrong;
    if (image[kSizeWord] != uint32_t(kImageQuads))
        return FileError::dataInvalid;

    applyFileHeader(header);
    replaceImage(image.data());
    return FileError::none;
}

ConsoleState::FileError ConsoleState::readLegacySessionFile(const juce::File& file)
{
    std::array<uint8_t, kLegacyFileBytes> bytes;
    if (const FileError e = readWhole(file, bytes.data(), kLegacyFileBytes, FileError::wrongSize);
        e != FileError::none)
        return e;
    const uint8_t* const in = bytes.data();
    if (readLE(in + legacy::kVersionAt) != legacy::kVersion)
        return FileError::versionWrong;
    if (readLE(in) != legacy::kSizeQuads)
        return FileError::dataInvalid;

    // The conversion works on copies, so a refusal above or an interruption leaves nothing half done.
    std::array<uint32_t, kImageQuads> image;
    copyImage(image.data());
    auto* const out = reinterpret_cast<uint8_t*>(image.data());
    int32_t inputGangs = inputGangs_;
    int32_t playbackGangs = playbackGangs_;
    int32_t outputGangs = outputGangs_;

    const device::HwInfoCaps& caps = device_.getCaps();
    // The file has room for 24 inputs and 24 output channels, and 12 gang flags each for playback and
    // outputs.
    const int inputs = int(std::min(caps.getInputCount(), legacy::kMaxInputs));
    const int outputs = int(std::min(caps.getOutputCount(), legacy::kMaxOutputs));
    const int gangFlags = std::min(outputs, int(legacy::kMaxGangFlags));

    for (int i = 0; i < inputs; ++i)
    {
        uint8_t* record = out + kInputRecords + i * kRecordBytes;
        std::memcpy(record, in + legacy::kInputRecordsAt + i * kRecordBytes, kRecordBytes);
        record[kRecordBytes - 1] = 0;
    }
    for (int i = 0; i < inputs; ++i)
    {
        for (int j = 0; j < outputs; j += 2)
        {
            const uint8_t* cell = in + legacy::kCellsAt + i * legacy::kCellRowBytes + j * legacy::kCellBytes;
            const int at = i * kMaxChannels + j;
            image[size_t(kMonitorGainWords + at)] = readLE(cell);
            out[kMonitorPans + at] = cell[4];
            uint8_t& flags = out[kMonitorFlags + at];
            flags = uint8_t((flags & ~3) | (cell[6] != 0 ? 1 : 0) | (cell[5] != 0 ? 2 : 0));
        }
        setGangBit(inputGangs, in[legacy::kInputGangsAt + i * legacy::kInputGangBytes] != 0, i);
    }
    for (int j = 0; j < outputs; ++j)
    {
        const uint8_t* play = in + legacy::kPlaybackAt + j * legacy::kChannelBytes;
        image[size_t(kPlaybackGainWords + j)] = readLE(play);
        uint8_t* record = out + kPlaybackRecords + j * kRecordBytes;
        record[0] = play[4];
        std::memcpy(record + kNameOffset, play + legacy::kChannelNameAt, kMaxNameChars);
        record[kRecordBytes - 1] = 0;
        if (j < gangFlags)
            setGangBit(playbackGangs, in[legacy::kPlaybackGangsAt + j] != 0, j);

        const uint8_t* output = in + legacy::kOutputsAt + j * legacy::kChannelBytes;
        image[size_t(kOutputGainWords + j)] = readLE(output);
        record = out + kOutputRecords + j * kRecordBytes;
        record[0] = output[4];
        record[1] = output[5];
        std::memcpy(record + kNameOffset, output + legacy::kChannelNameAt, kMaxNameChars);
        record[kRecordBytes - 1] = 0;
        if (j < gangFlags)
            setGangBit(outputGangs, in[legacy::kOutputGangsAt + j] != 0, j);
    }
    image[kFlagsWord] = readLE(in + legacy::kFlagsAt);
    image[kLegacyWord] = readLE(in + legacy::kLegacyWordAt);
    image[kClockWord] = readLE(in + legacy::kClockAt);
    image[kRateWord] = readLE(in + legacy::kRateAt);

    replaceImage(image.data());
    inputGangs_ = inputGangs;
    playbackGangs_ = playbackGangs;
    outputGangs_ = outputGangs;
    return FileError::none;
}

ConsoleState::FileError ConsoleState::writeSessionFile(const juce::File& file) const
{
    std::array<uint8_t, kSessionFileBytes> bytes;
    uint32_t header[kFileHeaderWords];
    makeFileHeader(header);
    for (int i = 0; i < kFileHeaderWords; ++i)
        writeLE(bytes.data() + 4 * i, header[i]);
    std::array<uint32_t, kImageQuads> image;
    copyImage(image.data());
    uint8_t* const imageBytes = bytes.data() + kFileHeaderBytes;
    std::memcpy(imageBytes, image.data(), kImageBytes);
    for (int i = 0; i < kWordAreaBytes / 4; ++i)
        writeLE(imageBytes + 4 * i, image[size_t(i)]);

    // Only a complete file ever takes the target's name, so the old one stays whole until then. Its data
    // is on the disk before that (the stream's flush waits for the disk), so a power cut leaves the old
    // file or the new one, never an empty one under that name.
    juce::TemporaryFile temp(file, juce::TemporaryFile::useHiddenFile);
    {
        juce::FileOutputStream stream(temp.getFile(), 32768);
        if (!stream.openedOk() || !stream.write(bytes.data(), bytes.size()))
            return FileError::cannotWrite;
        stream.flush();
        if (stream.getStatus().failed())
            return FileError::cannotWrite;
    }
    // A short write is not always reported by the stream: the length tells.
    if (temp.getFile().getSize() != kSessionFileBytes)
        return FileError::cannotWrite;
    std::error_code error;
    std::filesystem::rename(temp.getFile().getFullPathName().toStdString(),
                            file.getFullPathName().toStdString(), error);
    if (error)
        return FileError::cannotWrite;
    // The rename itself lasts once the folder's entries are on the disk. The new file is in place either
    // way, so a failure here is only noted.
    const std::string folder = file.getParentDirectory().getFullPathName().toStdString();
    if (!platform::flushToDisk(folder))
        platform::debugPrintf("Session folder %s could not be flushed to the disk", folder.c_str());
    return FileError::none;
}

juce::String ConsoleState::getLegacyExtension(uint32_t modelId)
{
    switch (modelId)
    {
    case 0x5E8:
        return ".ST8session";
    case 0x5E12:
        return ".ST12session";
    default:
        return {};
    }
}

bool ConsoleState::isLegacyFile(uint32_t modelId, const juce::File& file)
{
    const juce::String legacyExtension = getLegacyExtension(modelId);
    const juce::String name = file.getFileName();
    const int dot = name.lastIndexOfChar('.');
    return legacyExtension.isNotEmpty() && dot >= 0 && name.substring(dot).equalsIgnoreCase(legacyExtension);
}

juce::String ConsoleState::getLoadWildcard(uint32_t modelId, const juce::String& wildcard)
{
    const juce::String legacyExtension = getLegacyExtension(modelId);
    return legacyExtension.isEmpty() ? wildcard : wildcard + ";*" + legacyExtension;
}

juce::String ConsoleState::getSessionExtension() const
{
    return fileNameOfModel() + " session";
}

juce::File ConsoleState::getDefaultSessionFolder() const
{
    // A folder that is no absolute path (a damaged properties file) counts as none.
    if (juce::File::isAbsolutePath(recentFolder_))
        return juce::File(recentFolder_);
    return getDocumentsSessionFolder();
}

juce::File ConsoleState::getDocumentsSessionFolder() const
{
    std::string documents;
    if (!platform::getDocumentsFolder(documents))
        return {};
    return juce::File(device::textFromBytes(documents)).getChildFile(fileNameOfModel() + " sessions");
}

juce::File ConsoleState::getSessionFolder() const
{
    // A remembered folder that cannot be made now (a removed stick, an unmounted share) gives way to the
    // documents folder's, so Load and Save as stay usable; it is tried again next time.
    for (const juce::File& folder : {getDefaultSessionFolder(), getDocumentsSessionFolder()})
        if (folder.getFullPathName().isNotEmpty() && folder.createDirectory())
            return folder;
    return {};
}

juce::String singleFileName(const juce::String& name)
{
    // Every path made of it has a suffix after the name (".properties", " session", " sessions"), so an
    // empty name or one of dots alone is a plain file name too, the one earlier versions used. Only a
    // leading '~' misleads the framework, which reads it as a home folder: it becomes '@', which the legal
    // file name never holds, so the result is no other name's.
    juce::String legal = juce::File::createLegalFileName(name);
    if (legal.startsWithChar('~'))
        legal = "@" + legal.substring(1);
    return legal;
}

juce::String ConsoleState::fileNameOfModel() const
{
    // The model name comes from the device: made a single file name, so that a session folder or file
    // never lies outside the folder it is made in. Only paths take this form.
    return singleFileName(device::textFromBytes(device_.getCaps().getModelName()));
}

} // namespace console
