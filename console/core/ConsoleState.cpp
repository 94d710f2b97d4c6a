#include "console/core/ConsoleState.h"

#include "console/core/SettingsFileCheck.h"

#include "device/Conversions.h"
#include "device/Vhw.h"
#include "platform/Time.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace console
{
namespace
{

constexpr uint32_t kStallMs = 2000;
constexpr uint32_t kMaxChunk = 64;
// A request the device asks to repeat is sent again after this pause, as the flash writer does: asking
// again at once only floods a device that is busy (or whose bus is resetting) for the whole stall time.
constexpr uint32_t kRetryPauseMs = 10;

constexpr std::array<uint32_t, 256> makeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n)
    {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

bool inImage(int index, int limit = ConsoleState::kMaxChannels)
{
    return index >= 0 && index < limit;
}

int clampCount(uint32_t count)
{
    return int(std::min<uint32_t>(count, ConsoleState::kMaxChannels));
}

} // namespace

void byteSwapQuadlets(void* data, int byteCount)
{
    if (byteCount <= 0)
        return;
    auto* bytes = static_cast<uint8_t*>(data);
    const int words = (byteCount + 3) / 4;
    for (int i = 0; i < words; ++i)
    {
        uint8_t* w = bytes + 4 * i;
        std::swap(w[0], w[3]);
        std::swap(w[1], w[2]);
    }
}

uint32_t crc32(const void* data, size_t size, uint32_t crc)
{
    const auto* p = static_cast<const uint8_t*>(data);
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

ConsoleState::ConsoleState(device::vhw& device) : device_(device) {}

int ConsoleState::readFromDevice()
{
    flashCrc_ = 0;
    noSession_ = false;
    uint32_t base = 0;
    if (device_.getSessionBase(base) == 0)
    {
        const uint32_t start = platform::getTickCount();
        uint32_t crc = 0;
        int result;
        while ((result = device_.flashRead(base + 4, 1, &crc)) < 0 &&
               platform::getTickCount() - start < kStallMs)
            platform::sleepMs(kRetryPauseMs);
        if (result == 0)
            flashCrc_ = crc;
    }

    // Read into a local copy so the image is never half old, half new, and the lock is never held
    // across a device call.
    std::array<uint32_t, kImageQuads> buffer{};
    uint32_t offset = 0;
    uint32_t remaining = kImageQuads;
    uint32_t lastProgress = platform::getTickCount();
    int result = 0;
    while (remaining > 0)
    {
        if (platform::getTickCount() - lastProgress >= kStallMs)
        {
            result = result < 0 ? result : -1;
            break;
        }
        const uint32_t count = std::min(remaining, kMaxChunk);
        uint32_t delivered = 0;
        result = device_.readSessionBlock(offset, count, buffer.data() + offset, delivered);
        if (result < 0)
        {
            platform::sleepMs(kRetryPauseMs);
            continue;
        }
        if (result > 0)
            break;
        delivered = std::min(delivered, count);
        if (delivered > 0)
        {
            offset += delivered;
            remaining -= delivered;
            lastProgress = platform::getTickCount();
        }
    }

    std::lock_guard<std::mutex> lock(lock_);
    std::memset(awaited_, 0, sizeof awaited_);
    if (remaining > 0 || buffer[kSizeWord] != uint32_t(kImageQuads))
    {
        // Half a session is no session, and erased flash (no session stored) reads as every gain at
        // +48 dB, phantom power on, every switch and routing entry 0xFF: nothing of either is shown,
        // sent or stored back. A cut read is never stored; a unit without a session runs values of its
        // own, which may be once they have been read from it.
        std::memset(image_, 0, sizeof image_);
        imageIsWhole_ = false;
        noSession_ = remaining == 0;
        return noSession_ ? 1 : result;
    }
    std::memcpy(image_, buffer.data(), sizeof image_);
    swapTextArea();
    imageIsWhole_ = true;
    terminateAliasesLocked();
    image_[kCrcWord] = crc32(reinterpret_cast<const uint8_t*>(image_) + 8, kImageBytes - 8);
    return 0;
}

bool ConsoleState::mayWriteFlash() const
{
    return imageIsWhole_ && !awaitsUnitValues();
}

void ConsoleState::awaitUnitValue(int offset, int count, uint8_t mask)
{
    if (offset < 0 || count <= 0 || offset > kImageBytes - count)
        return;
    std::lock_guard<std::mutex> lock(lock_);
    for (int i = offset; i < offset + count; ++i)
        awaited_[i] |= mask;
}

bool ConsoleState::putUnitValue(int offset, const uint8_t* value, int count, uint8_t mask)
{
    if (offset < 0 || count <= 0 || offset > kImageBytes - count)
        return false;
    std::lock_guard<std::mutex> lock(lock_);
    auto* bytes = reinterpret_cast<uint8_t*>(image_);
    bool changed = false;
    for (int i = 0; i < count; ++i)
    {
        const uint8_t bits = awaited_[offset + i] & mask;
        const uint8_t byte = uint8_t((bytes[offset + i] & ~bits) | (value[i] & bits));
        changed = changed || byte != bytes[offset + i];
        bytes[offset + i] = byte;
        awaited_[offset + i] &= uint8_t(~bits);
    }
    return changed;
}

bool ConsoleState::awaitsUnitValues() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return std::any_of(std::begin(awaited_), std::end(awaited_), [](uint8_t bits) { return bits != 0; });
}

void ConsoleState::wrote(int offset, int count, uint8_t mask)
{
    for (int i = offset; i < offset + count; ++i)
        awaited_[i] &= uint8_t(~mask);
}

void ConsoleState::loadProperties(const juce::PropertySet& properties)
{
    inputGangs_ = properties.getIntValue("input gangs", -1);
    outputGangs_ = properties.getIntValue("output gangs", -1);
    playbackGangs_ = properties.getIntValue("playback gangs", -1);

    const auto& caps = device_.getCaps();
    auto loadNames = [&](const char* format, int count, int firstRecord)
    {
        for (int i = 0; i < count; ++i)
        {
            const juce::String key = juce::String::formatted(format, i);
            if (properties.containsKey(key))
                setName(firstRecord + i * kRecordBytes, decodeSettingsText(properties.getValue(key)));
        }
    };
    loadNames("input alias %d", clampCount(caps.getInputCount()), kInputRecords);
    loadNames("output alias %d", clampCount(caps.getOutputCount()), kOutputRecords);
    loadNames("play alias %d", clampCount(caps.getPlaybackChannels(48000)), kPlaybackRecords);
    recentFolder_ = decodeSettingsText(properties.getValue("most recent folder"));
}

void ConsoleState::saveProperties(juce::PropertySet& properties) const
{
    properties.setValue("input gangs", int(inputGangs_));
    properties.setValue("output gangs", int(outputGangs_));
    properties.setValue("playback gangs", int(playbackGangs_));

    const auto& caps = device_.getCaps();
    auto saveNames = [&](const char* format, int count, int firstRecord)
    {
        for (int i = 0; i < count; ++i)
            properties.setValue(juce::String::formatted(format, i),
                                encodeSettingsText(getName(firstRecord + i * kRecordBytes)));
    };
    saveNames("input alias %d", clampCount(caps.getInputCount()), kInputRecords);
    saveNames("output alias %d", clampCount(caps.getOutputCount()), kOutputRecords);
    saveNames("play alias %d", clampCount(caps.getPlaybackChannels(48000)), kPlaybackRecords);
    properties.setValue("most recent folder", encodeSettingsText(recentFolder_));
}

uint32_t ConsoleState::computeCrc() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return crc32(reinterpret_cast<const uint8_t*>(image_) + 8, kImageBytes - 8);
}

bool ConsoleState::hasChanged()
{
    std::lock_guard<std::mutex> lock(lock_);
    image_[kCrcWord] = crc32(reinterpret_cast<const uint8_t*>(image_) + 8, kImageBytes - 8);
    return image_[kCrcWord] != flashCrc_;
}

bool ConsoleState::prepareFlashSave(uint32_t* snapshot)
{
    bool changed;
    {
        std::lock_guard<std::mutex> lock(lock_);
        image_[kVersionWord] = kSessionVersion;
        image_[kSizeWord] = kImageQuads;
    }
    changed = hasChanged();
    copyImage(snapshot);
    // Flash without a session is written whatever its stale CRC word says (a save cut short leaves it).
    return (changed || noSession_) && mayWriteFlash();
}

bool ConsoleState::testGang(int32_t mask, int channel)
{
    return channel >= 0 && channel < 64 && (uint32_t(mask) & (1u << (channel / 2))) != 0;
}

void ConsoleState::setGang(int32_t& mask, bool on, int channel)
{
    if (channel < 0 || channel >= 64)
        return;
    const uint32_t bit = 1u << (channel / 2);
    mask = int32_t(on ? uint32_t(mask) | bit : uint32_t(mask) & ~bit);
}

void ConsoleState::setMonitorGain(int input, int output, float db)
{
    if (inImage(input) && inImage(output))
        setWord(kMonitorGainWords + input * kMaxChannels + output, device::dbToGain(db));
}

float ConsoleState::getMonitorGain(int input, int output) const
{
    if (!inImage(input) || !inImage(output))
        return 0.0f;
    return device::gainToDb(getWord(kMonitorGainWords + input * kMaxChannels + output));
}

void ConsoleState::setMonitorPan(int input, int output, float pan)
{
    if (!inImage(input) || !inImage(output))
        return;
    const auto value = uint8_t(device::panToDevice(pan));
    const int at = kMonitorPans + input * kMaxChannels + (output & ~1);
    std::lock_guard<std::mutex> lock(lock_);
    auto* bytes = reinterpret_cast<uint8_t*>(image_);
    bytes[at] = value;
    bytes[at + 1] = value;
    wrote(at, 2);
}

float ConsoleState::getMonitorPan(int input, int output) const
{
    if (!inImage(input) || !inImage(output))
        return 0.0f;
    return device::panFromDevice(getByte(kMonitorPans + input * kMaxChannels + (output & ~1)));
}

void ConsoleState::setOutputGain(int output, float db)
{
    if (inImage(output))
        setWord(kOutputGainWords + output, device::dbToGain(db));
}

float ConsoleState::getOutputGain(int output) const
{
    return inImage(output) ? device::gainToDb(getWord(kOutputGainWords + output)) : 0.0f;
}

void ConsoleState::setPlaybackGain(int channel, float db)
{
    if (inImage(channel))
        setWord(kPlaybackGainWords + channel, device::dbToGain(db));
}

float ConsoleState::getPlaybackGain(int channel) const
{
    return inImage(channel) ? device::gainToDb(getWord(kPlaybackGainWords + channel)) : 0.0f;
}

void ConsoleState::setPlaybackMute(int channel, int value)
{
    if (inImage(channel))
        setByte(kPlaybackRecords + channel * kRecordBytes, uint8_t(value));
}

bool ConsoleState::getPlaybackMute(int channel) const
{
    return inImage(channel) && getByte(kPlaybackRecords + channel * kRecordBytes) != 0;
}

void ConsoleState::setInputAlias(int index, const juce::String& text)
{
    if (inImage(index))
        setName(kInputRecords + index * kRecordBytes, text);
}

juce::String ConsoleState::getInputAlias(int index) const
{
    return inImage(index) ? getName(kInputRecords + index * kRecordBytes) : juce::String();
}

void ConsoleState::setOutputAlias(int index, const juce::String& text)
{
    if (inImage(index))
        setName(kOutputRecords + index * kRecordBytes, text);
}

juce::String ConsoleState::getOutputAlias(int index) const
{
    return inImage(index) ? getName(kOutputRecords + index * kRecordBytes) : juce::String();
}

void ConsoleState::setPlaybackAlias(int index, const juce::String& text)
{
    if (inImage(index))
        setName(kPlaybackRecords + index * kRecordBytes, text);
}

juce::String ConsoleState::getPlaybackAlias(int index) const
{
    return inImage(index) ? getName(kPlaybackRecords + index * kRecordBytes) : juce::String();
}

void ConsoleState::setName(int record, const juce::String& text)
{
    // 8-bit text: characters beyond one byte cannot be stored and become '?'.
    uint8_t name[kRecordBytes - kNameOffset] = {};
    int n = 0;
    for (auto p = text.getCharPointer(); !p.isEmpty() && n < kMaxNameChars; ++n)
    {
        const juce::juce_wchar c = p.getAndAdvance();
        name[n] = c < 256 ? uint8_t(c) : uint8_t('?');
    }
    std::lock_guard<std::mutex> lock(lock_);
    std::memcpy(reinterpret_cast<uint8_t*>(image_) + record + kNameOffset, name, sizeof name);
    wrote(record + kNameOffset, int(sizeof name));
}

juce::String ConsoleState::getName(int record) const
{
    uint8_t name[kRecordBytes - kNameOffset];
    {
        std::lock_guard<std::mutex> lock(lock_);
        std::memcpy(name, reinterpret_cast<const uint8_t*>(image_) + record + kNameOffset, sizeof name);
    }
    juce::String text;
    for (uint8_t c : name)
    {
        if (c == 0)
            break;
        text += juce::juce_wchar(c);
    }
    return text;
}

uint32_t ConsoleState::getWord(int index) const
{
    if (!inImage(index, kImageQuads))
        return 0;
    std::lock_guard<std::mutex> lock(lock_);
    return image_[index];
}

void ConsoleState::setWord(int index, uint32_t value)
{
    setWordBits(index, 0xFFFFFFFF, value);
}

void ConsoleState::setWordBits(int index, uint32_t mask, uint32_t value)
{
    if (!inImage(index, kImageQuads))
        return;
    std::lock_guard<std::mutex> lock(lock_);
    image_[index] = (image_[index] & ~mask) | (value & mask);
    uint8_t bytes[4];
    std::memcpy(bytes, &mask, sizeof bytes);
    for (int i = 0; i < 4; ++i)
        wrote(4 * index + i, 1, bytes[i]);
}

uint8_t ConsoleState::getByte(int offset) const
{
    if (!inImage(offset, kImageBytes))
        return 0;
    std::lock_guard<std::mutex> lock(lock_);
    return reinterpret_cast<const uint8_t*>(image_)[offset];
}

void ConsoleState::setByte(int offset, uint8_t value)
{
    setByteBits(offset, 0xFF, value);
}

void ConsoleState::setByteBits(int offset, uint8_t mask, uint8_t value)
{
    if (!inImage(offset, kImageBytes))
        return;
    std::lock_guard<std::mutex> lock(lock_);
    uint8_t& byte = reinterpret_cast<uint8_t*>(image_)[offset];
    byte = uint8_t((byte & ~mask) | (value & mask));
    wrote(offset, 1, mask);
}

void ConsoleState::copyImage(uint32_t* dest) const
{
    std::lock_guard<std::mutex> lock(lock_);
    std::memcpy(dest, image_, sizeof image_);
}

void ConsoleState::copyBytes(int offset, uint8_t* dest, int count) const
{
    if (offset < 0 || count <= 0 || offset > kImageBytes - count)
        return;
    std::lock_guard<std::mutex> lock(lock_);
    std::memcpy(dest, reinterpret_cast<const uint8_t*>(image_) + offset, size_t(count));
}

void ConsoleState::replaceImage(const uint32_t* source)
{
    std::lock_guard<std::mutex> lock(lock_);
    std::memcpy(image_, source, sizeof image_);
    std::memset(awaited_, 0, sizeof awaited_);
    terminateAliasesLocked();
}

void ConsoleState::terminateAliases()
{
    std::lock_guard<std::mutex> lock(lock_);
    terminateAliasesLocked();
}

void ConsoleState::terminateAliasesLocked()
{
    auto* bytes = reinterpret_cast<uint8_t*>(image_);
    for (int i = 0; i < kMaxChannels; ++i)
    {
        bytes[kInputRecords + i * kRecordBytes + kRecordBytes - 1] = 0;
        bytes[kOutputRecords + i * kRecordBytes + kRecordBytes - 1] = 0;
        bytes[kPlaybackRecords + i * kRecordBytes + kRecordBytes - 1] = 0;
    }
}

void ConsoleState::swapTextArea()
{
    byteSwapQuadlets(reinterpret_cast<uint8_t*>(image_) + kByteArea, kImageBytes - kByteArea);
}

} // namespace console
