#include "Device.h"

#include "Models.h"
#include "Wire.h"

#include <algorithm>
#include <cstring>

namespace sim
{

using namespace wire;

namespace
{

constexpr uint32_t kUnity = 0x01000000;
constexpr uint32_t kKeep = 0xFFFFFFFFu;
constexpr uint32_t kByteAreaQuad = session::kByteArea / 4;
constexpr uint32_t kPolledMax = 464;
constexpr uint32_t kDefaultBusyPolls = 2;

uint32_t capsWord(const UnitState& unit, int offset)
{
    return loadLe32(unit.caps + offset);
}

// The group type of a channel, walking the record's group table as the channel maps do.
uint8_t groupTypeOf(const UnitState& unit, bool input, uint32_t channel)
{
    const uint32_t groups =
        std::min<uint32_t>(capsWord(unit, input ? caps::kInGroupCount : caps::kOutGroupCount), 8);
    const uint8_t* table = unit.caps + (input ? caps::kInGroups : caps::kOutGroups);
    uint32_t first = 0;
    for (uint32_t g = 0; g < groups; ++g)
    {
        if (channel < first + table[2 * g + 1])
            return table[2 * g];
        first += table[2 * g + 1];
    }
    return 0xFF;
}

uint8_t* imageBytes(uint32_t* image)
{
    return reinterpret_cast<uint8_t*>(image);
}

const uint8_t* imageBytes(const uint32_t* image)
{
    return reinterpret_cast<const uint8_t*>(image);
}

bool rateInRange(const UnitState& unit, uint32_t rate)
{
    return rate >= capsWord(unit, caps::kMinRate) && rate <= capsWord(unit, caps::kMaxRate);
}

bool clockSelectable(const UnitState& unit, uint32_t clock)
{
    return clock < 32 && (capsWord(unit, caps::kClockMask) & (1u << clock)) != 0;
}

void loadMixer(UnitState& unit, const uint32_t* image)
{
    Mixer& m = unit.mixer;
    std::memset(&m, 0, sizeof(m));
    const uint8_t* bytes = imageBytes(image);
    for (uint32_t c = 0; c < session::kRoom; ++c)
    {
        m.outGain[c] = image[(session::kOutputGains + 4 * c) / 4];
        m.outMute[c] = bytes[session::kOutputRecords + session::kRecordBytes * c];
        m.outNominal[c] = bytes[session::kOutputRecords + session::kRecordBytes * c + 1];
        m.inNominal[c] = bytes[session::kInputRecords + session::kRecordBytes * c];
        m.playGain[c] = image[(session::kPlaybackGains + 4 * c) / 4];
        m.playMute[c] = bytes[session::kPlaybackRecords + session::kRecordBytes * c];
        m.playSolo[c] = bytes[session::kPlaybackRecords + session::kRecordBytes * c + 1];
        for (uint32_t o = 0; o < session::kRoom; ++o)
        {
            const uint32_t at = c * session::kRoom + o;
            m.monGain[c][o] = image[(session::kMonitorGains + 4 * at) / 4];
            m.monMute[c][o] = bytes[session::kMonitorFlags + at] & 1u;
            m.monSolo[c][o] = bytes[session::kMonitorFlags + at] & 2u;
            m.monPan[c][o] = bytes[session::kMonitorPans + at];
        }
    }
    const uint32_t flags = image[session::kFlags / 4];
    m.flags = flags & ~session::kPhantomBit;
    m.phantom = (flags & session::kPhantomBit) ? 1 : 0;
    m.clock = image[session::kClock / 4];
    m.rate = image[session::kRate / 4];
    for (int k = 0; k < kIsocWords; ++k)
        m.isoc[k] = image[session::kRouting / 4 + k];
    if (!clockSelectable(unit, m.clock))
        m.clock = 0;
    if (!rateInRange(unit, m.rate))
        m.rate = rateInRange(unit, 48000) ? 48000 : capsWord(unit, caps::kMinRate);
}

struct Request
{
    const uint32_t* words;
    uint32_t bytes;
    bool has(int params) const { return bytes >= kPktHeaderBytes + 4u * uint32_t(params); }
    uint32_t p(int i) const { return words[kPktParams + i]; }
};

struct Reply
{
    uint32_t* words;
    void p(int i, uint32_t v) { words[kPktParams + i] = v; }
    void vdr(uint32_t v) { words[kPktVdr] = v; }
};

// One mixer value: a channel's slot in its array, or null when the channel is not the unit's.
uint32_t* mixerSlot(UnitState& unit, uint32_t category, uint32_t command, uint32_t channel, uint32_t mix)
{
    const Counts n = countsOf(unit);
    Mixer& m = unit.mixer;
    const uint32_t quantity = command / 2;
    switch (category)
    {
    case CAT_PHYS_OUT:
        if (channel >= n.outputs)
            return nullptr;
        return quantity == 0   ? &m.outGain[channel]
               : quantity == 1 ? &m.outMute[channel]
                               : &m.outNominal[channel];
    case CAT_PHYS_IN:
        return channel < n.inputs ? &m.inNominal[channel] : nullptr;
    case CAT_PLAYBACK_MIX:
        if (channel >= n.playback)
            return nullptr;
        return quantity == 0   ? &m.playGain[channel]
               : quantity == 1 ? &m.playMute[channel]
                               : &m.playSolo[channel];
    default:
        if (channel >= n.inputs || mix >= n.outputs)
            return nullptr;
        switch (quantity)
        {
        case 0:
            return &m.monGain[channel][mix];
        case 1:
            return &m.monMute[channel][mix];
        case 2:
            return &m.monSolo[channel][mix];
        default:
            return &m.monPan[channel][mix];
        }
    }
}

bool mixerCommandKnown(uint32_t category, uint32_t command)
{
    switch (category)
    {
    case CAT_PHYS_OUT:
        return command <= 3 || command == 8 || command == 9;
    case CAT_PHYS_IN:
        return command == 8 || command == 9;
    case CAT_PLAYBACK_MIX:
        return command <= 5;
    case CAT_MONITOR_MIX:
        return command <= 7;
    default:
        return false;
    }
}

void mixerCommand(UnitState& unit, uint32_t category, uint32_t command, const Request& rq, Reply& r)
{
    const bool monitor = category == CAT_MONITOR_MIX;
    const int index = monitor ? 2 : 1; // where the value travels
    const bool set = (command & 1) == 0;
    if (!rq.has(set ? index + 1 : index))
        return r.vdr(VDR_BAD_LENGTH);
    uint32_t* slot = mixerSlot(unit, category, command, rq.p(0), monitor ? rq.p(1) : 0);
    if (slot == nullptr)
        return r.vdr(VDR_BAD_PARAMETER);
    if (set)
        *slot = rq.p(index);
    else
        r.p(index, *slot);
}

void hwInfo(UnitState& unit, const uint8_t* flash, uint32_t command, const Request& rq, Reply& r)
{
    switch (command)
    {
    case 1:
    {
        const uint32_t outs = capsWord(unit, caps::kMeters1);
        const uint32_t ins = capsWord(unit, caps::kMeters2);
        r.p(0, statusWord(unit));
        r.p(5, outs);
        uint32_t w = 16;
        const uint32_t end = polledSize(unit) / 4;
        for (uint32_t i = 0; i < outs && w < end; ++i)
            r.words[w++] = i < uint32_t(kMaxChannels) ? unit.meterOut[i] : 0;
        for (uint32_t i = 0; i < ins && w < end; ++i)
            r.words[w++] = i < uint32_t(kMaxChannels) ? unit.meterIn[i] : 0;
        return;
    }
    case 3:
    {
        if (!rq.has(2))
            return r.vdr(VDR_BAD_LENGTH);
        const uint32_t offset = rq.p(0);
        const uint32_t count = rq.p(1);
        if (count > 64 || offset > session::kQuads)
            return r.vdr(VDR_BAD_PARAMETER);
        const uint32_t n = std::min({count, unit.sessionChunk, session::kQuads - offset});
        for (uint32_t k = 0; k < n; ++k)
        {
            const uint32_t q = offset + k;
            const uint32_t v = loadLe32(flash + unit.sessionBase + 4 * q);
            // From the byte area on, the unit delivers its session as big-endian quadlets.
            r.p(2 + int(k), q >= kByteAreaQuad ? __builtin_bswap32(v) : v);
        }
        r.p(0, offset);
        r.p(1, n);
        return;
    }
    case 4:
        r.p(0, unit.counters[0]);
        r.p(1, unit.counters[1]);
        r.p(2, unit.counters[2]);
        return;
    default:
        return r.vdr(VDR_BAD_COMMAND);
    }
}

void flashCommand(UnitState& unit, uint8_t* flash, uint32_t command, const Request& rq, Reply& r)
{
    switch (command)
    {
    case 0:
        if (!rq.has(1))
            return r.vdr(VDR_BAD_LENGTH);
        return r.vdr(flashErase(unit, flash, rq.p(0)));
    case 1:
        if (!rq.has(2))
            return r.vdr(VDR_BAD_LENGTH);
        return r.vdr(flashRead(unit, flash, rq.p(0), rq.p(1), r.words + kPktParams + 2));
    case 2:
        if (!rq.has(2))
            return r.vdr(VDR_BAD_LENGTH);
        if (rq.p(1) > 64)
            return r.vdr(VDR_BAD_PARAMETER);
        if (!rq.has(2 + int(rq.p(1))))
            return r.vdr(VDR_BAD_LENGTH);
        return r.vdr(flashWrite(unit, flash, rq.p(0), rq.p(1), rq.words + kPktParams + 2));
    case 3:
        if (unit.busyPollsLeft > 0)
        {
            unit.busyPollsLeft--;
            return r.vdr(VDR_BUSY);
        }
        return;
    case 4:
        r.p(0, unit.sessionBase);
        return;
    case 5:
        if (!rq.has(1))
            return r.vdr(VDR_BAD_LENGTH);
        if (capsWord(unit, caps::kFlags) & kCapNoFlashLock)
            return r.vdr(VDR_NOT_SUPPORTED);
        unit.flashLock = rq.p(0) & 0xFF;
        return;
    default:
        return r.vdr(VDR_BAD_COMMAND);
    }
}

void hwControl(UnitState& unit, uint32_t command, const Request& rq, Reply& r)
{
    Mixer& m = unit.mixer;
    switch (command)
    {
    case 0:
    {
        if (!rq.has(2))
            return r.vdr(VDR_BAD_LENGTH);
        const uint32_t clock = rq.p(0);
        const uint32_t rate = rq.p(1);
        if ((clock != kKeep && !clockSelectable(unit, clock)) || (rate != kKeep && !rateInRange(unit, rate)))
            return r.vdr(VDR_BAD_PARAMETER);
        if (clock != kKeep)
            m.clock = clock;
        if (rate != kKeep)
            m.rate = rate;
        return;
    }
    case 1:
        r.p(0, m.clock);
        r.p(1, m.rate);
        r.p(2, 0);
        return;
    case 3:
        if (!rq.has(2))
            return r.vdr(VDR_BAD_LENGTH);
        m.flags = (m.flags & ~rq.p(1)) | rq.p(0);
        return;
    case 4:
        r.p(0, m.flags);
        return;
    case 5:
        unit.identifyCount++;
        return;
    default:
        return r.vdr(VDR_BAD_COMMAND);
    }
}

void ioConfig(UnitState& unit, uint32_t command, const Request& rq, Reply& r)
{
    Mixer& m = unit.mixer;
    switch (command)
    {
    case 4:
        if (!rq.has(1))
            return r.vdr(VDR_BAD_LENGTH);
        m.phantom = rq.p(0);
        return;
    case 5:
        r.p(0, m.phantom);
        return;
    case 6:
        if (!rq.has(kIsocWords))
            return r.vdr(VDR_BAD_LENGTH);
        for (int k = 0; k < kIsocWords; ++k)
            m.isoc[k] = rq.p(k);
        return;
    case 7:
        for (int k = 0; k < kIsocWords; ++k)
            r.p(k, m.isoc[k]);
        return;
    default:
        return r.vdr(VDR_BAD_COMMAND);
    }
}

} // namespace

uint32_t crc32(const uint8_t* data, size_t size)
{
    static const auto table = []
    {
        struct Table
        {
            uint32_t t[256];
        } tab{};
        for (uint32_t i = 0; i < 256; ++i)
        {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            tab.t[i] = c;
        }
        return tab;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table.t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

uint32_t sessionCrc(const uint32_t* image)
{
    return crc32(imageBytes(image) + 8, session::kBytes - 8);
}

Counts countsOf(const UnitState& unit)
{
    const uint32_t room = kMaxChannels;
    return {std::min(capsWord(unit, caps::kInputCount), room),
            std::min(capsWord(unit, caps::kOutputCount), room),
            std::min(capsWord(unit, caps::kPlayback48), room)};
}

void factorySession(const UnitState& unit, uint32_t image[session::kQuads])
{
    std::memset(image, 0, session::kBytes);
    uint8_t* bytes = imageBytes(image);
    const Counts n = countsOf(unit);
    const uint32_t inputs = std::min(n.inputs, session::kRoom);
    const uint32_t outputs = std::min(n.outputs, session::kRoom);
    const uint32_t playback = std::min(n.playback, session::kRoom);
    image[session::kSize / 4] = session::kQuads;
    image[session::kVersion / 4] = session::kVersionValue;
    image[session::kRate / 4] = rateInRange(unit, 48000) ? 48000 : capsWord(unit, caps::kMinRate);
    for (uint32_t i = 0; i < inputs; ++i)
    {
        const uint32_t home = i & ~1u;
        const bool analogHome =
            home < outputs && groupTypeOf(unit, true, home) == 0 && groupTypeOf(unit, false, home) == 0;
        for (uint32_t o = 0; o < outputs; ++o)
        {
            const uint32_t at = i * session::kRoom + o;
            image[(session::kMonitorGains + 4 * at) / 4] = kUnity;
            bytes[session::kMonitorPans + at] = (i & 1) ? 255 : 0;
            bytes[session::kMonitorFlags + at] = (analogHome && (o & ~1u) == home) ? 0 : 1;
        }
    }
    for (uint32_t o = 0; o < outputs; ++o)
        image[(session::kOutputGains + 4 * o) / 4] = kUnity;
    for (uint32_t c = 0; c < playback; ++c)
        image[(session::kPlaybackGains + 4 * c) / 4] = kUnity;
    uint32_t* routing = image + session::kRouting / 4;
    routing[2] = 3;
    routing[4] = 0;
    routing[5] = 2;
    routing[6] = 4;
    image[session::kCrc / 4] = sessionCrc(image);
}

void resetKnobs(UnitState& unit)
{
    std::memset(unit.meterOut, 0, sizeof(unit.meterOut));
    std::memset(unit.meterIn, 0, sizeof(unit.meterIn));
    unit.clocks = capsWord(unit, caps::kClockMask) & 0x3F;
    unit.midi = 0;
    std::memset(unit.counters, 0, sizeof(unit.counters));
    unit.flashBusyPolls = kDefaultBusyPolls;
    unit.driverVersion = kDefaultDriverVersion;
    unit.sessionBase = kDefaultSessionBase;
    unit.sessionChunk = 64;
    unit.identifyCount = 0;
    unit.driverFlags = 0;
    unit.bufferSize = kBufferDefault;
    std::memset(unit.faults, 0, sizeof(unit.faults));
    std::memset(unit.stats, 0, sizeof(unit.stats));
    unit.endpointMode = 0;
}

void programFactoryFlash(UnitState& unit, uint8_t* flash, uint32_t firmwareVersion)
{
    if (unit.preset > 0 && unit.preset <= models().size())
    {
        const ModelSpec& m = models()[unit.preset - 1];
        for (uint32_t i = 0; i < m.imageCount; ++i)
            programImage(flash, makeImage(m.images[i], firmwareVersion, 4096));
    }
    uint32_t image[session::kQuads];
    factorySession(unit, image);
    std::memcpy(flash + unit.sessionBase, image, session::kBytes);
}

void bootDevice(UnitState& unit, const uint8_t* flash)
{
    readFirmwareVersions(unit, flash);
    uint32_t image[session::kQuads];
    std::memcpy(image, flash + unit.sessionBase, session::kBytes);
    if (image[session::kSize / 4] != session::kQuads)
        factorySession(unit, image);
    loadMixer(unit, image);
    unit.busyPollsLeft = 0;
    unit.flashLock = 0;
}

uint32_t polledSize(const UnitState& unit)
{
    const uint64_t size =
        64 + 4ull * (uint64_t(capsWord(unit, caps::kMeters1)) + capsWord(unit, caps::kMeters2));
    return uint32_t(std::min<uint64_t>(size, kPolledMax));
}

uint32_t replySize(const UnitState& unit, uint32_t category, uint32_t command)
{
    switch (category)
    {
    case CAT_HWINFO:
        return command == 1 ? polledSize(unit) : command == 3 ? 292 : command == 4 ? 92 : 0;
    case CAT_FLASH:
        return command == 4 ? 32 : command <= 5 ? 308 : 0;
    case CAT_HWCONTROL:
        return command == 1                                     ? 40
               : command == 4                                   ? 32
               : (command == 0 || command == 3 || command == 5) ? 28
                                                                : 0;
    case CAT_PHYS_OUT:
        return command == 8 ? 28 : mixerCommandKnown(category, command) ? 36 : 0;
    case CAT_PHYS_IN:
    case CAT_PLAYBACK_MIX:
        return mixerCommandKnown(category, command) ? 36 : 0;
    case CAT_MONITOR_MIX:
        return mixerCommandKnown(category, command) ? 40 : 0;
    case CAT_IO_CONFIG:
        return command == 5 ? 32 : command == 7 ? 308 : (command == 4 || command == 6) ? 28 : 0;
    default:
        return 0;
    }
}

uint32_t executeVdc(UnitState& unit, uint8_t* flash, const uint32_t* request, uint32_t requestBytes,
                    uint32_t* reply)
{
    std::memset(reply, 0, sizeof(uint32_t) * kReplyMaxWords);
    std::memcpy(reply, request, sizeof(uint32_t) * kPktMaxWords);
    reply[kPktNtStatus] = STATUS_SUCCESS;
    reply[kPktVdr] = VDR_OK;
    const uint32_t category = request[kPktCategory];
    const uint32_t command = request[kPktCommand];
    const uint32_t size = replySize(unit, category, command);
    Request rq{request, requestBytes};
    Reply r{reply};
    if (size == 0)
    {
        r.vdr(VDR_BAD_COMMAND);
        return kPktHeaderBytes;
    }
    switch (category)
    {
    case CAT_HWINFO:
        hwInfo(unit, flash, command, rq, r);
        break;
    case CAT_FLASH:
        flashCommand(unit, flash, command, rq, r);
        break;
    case CAT_HWCONTROL:
        hwControl(unit, command, rq, r);
        break;
    case CAT_IO_CONFIG:
        ioConfig(unit, command, rq, r);
        break;
    default:
        mixerCommand(unit, category, command, rq, r);
        break;
    }
    reply[kPktLength] = (size - 4) / 4;
    return size;
}

uint32_t flashEraseBlockBytes(uint32_t address)
{
    return address < 0x10000 ? 0x2000 : 0x10000;
}

uint32_t flashErase(UnitState& unit, uint8_t* flash, uint32_t address)
{
    if (unit.busyPollsLeft > 0)
        return VDR_BUSY;
    if (address >= kFlashBytes)
        return VDR_FLASH_ERROR;
    const uint32_t block = flashEraseBlockBytes(address);
    std::memset(flash + (address & ~(block - 1)), 0xFF, block);
    unit.busyPollsLeft = unit.flashBusyPolls;
    return VDR_OK;
}

uint32_t flashWrite(UnitState& unit, uint8_t* flash, uint32_t address, uint32_t count, const uint32_t* data)
{
    if (unit.busyPollsLeft > 0)
        return VDR_BUSY;
    if (count > 64)
        return VDR_BAD_PARAMETER;
    if (address % 4 != 0 || uint64_t(address) + 4ull * count > kFlashBytes)
        return VDR_FLASH_ERROR;
    // Programming only clears bits; a quadlet that needs a bit set again must be erased first.
    for (uint32_t i = 0; i < count; ++i)
        if (~loadLe32(flash + address + 4 * i) & data[i])
            return VDR_FLASH_ERROR;
    for (uint32_t i = 0; i < count; ++i)
        storeLe32(flash + address + 4 * i, loadLe32(flash + address + 4 * i) & data[i]);
    return VDR_OK;
}

uint32_t flashRead(const UnitState& unit, const uint8_t* flash, uint32_t address, uint32_t count,
                   uint32_t* out)
{
    if (unit.busyPollsLeft > 0)
        return VDR_BUSY;
    if (count > 64)
        return VDR_BAD_PARAMETER;
    if (address % 4 != 0 || uint64_t(address) + 4ull * count > kFlashBytes)
        return VDR_FLASH_ERROR;
    for (uint32_t i = 0; i < count; ++i)
        out[i] = loadLe32(flash + address + 4 * i);
    return VDR_OK;
}

uint32_t statusWord(const UnitState& unit)
{
    return (unit.clocks & 0xFF) | (unit.midi & 0xFF) << 8;
}

} // namespace sim
