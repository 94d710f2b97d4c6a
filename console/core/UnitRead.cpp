#include "console/core/UnitRead.h"

#include "console/core/ConsoleState.h"
#include "device/Vhw.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace console
{

enum class UnitRead::Field : uint8_t
{
    clock, // with the rate
    flags, // with phantom power
    routing,
    outGain,
    outMute,
    outNominal,
    inNominal,
    playGain,
    playMute,
    playSolo,
    monGain,
    monFlags, // mute and solo
    monPan
};

namespace
{

constexpr uint8_t kAllBits = 0xFF;
constexpr uint8_t kMonitorMuteBit = 1;
constexpr uint8_t kMonitorSoloBit = 2;
// The parts before the mixes of the inputs: the settings, the outputs, the inputs and the playback.
constexpr int kFixedParts = 4;

int clampCount(uint32_t count)
{
    return int(std::min<uint32_t>(count, ConsoleState::kMaxChannels));
}

} // namespace

UnitRead::UnitRead(HwCtrlList& list, Listener& listener)
    : HwCtrl(list), listener_(listener),
      inputs_(clampCount(list.getHwThread().getDevice().getCaps().getInputCount())),
      outputs_(clampCount(list.getHwThread().getDevice().getCaps().getOutputCount())),
      playback_(clampCount(list.getHwThread().getDevice().getCaps().getPlaybackChannels(48000))),
      values_(size_t(ConsoleState::kImageBytes))
{
    read_.reserve(size_t(3 * ConsoleState::kMaxChannels));
}

UnitRead::~UnitRead()
{
    cancelPendingUpdate();
}

int UnitRead::partCount() const
{
    return kFixedParts + inputs_;
}

UnitRead::Part UnitRead::partAt(int part) const
{
    switch (part)
    {
    case 0:
        return {{Field::clock, Field::flags, Field::routing}, 3, 1, 0};
    case 1:
        return {{Field::outGain, Field::outMute, Field::outNominal}, 3, outputs_, 0};
    case 2:
        return {{Field::inNominal}, 1, inputs_, 0};
    case 3:
        return {{Field::playGain, Field::playMute, Field::playSolo}, 3, playback_, 0};
    default:
        return {{Field::monGain, Field::monFlags, Field::monPan}, 3, outputs_, part - kFixedParts};
    }
}

UnitRead::Place UnitRead::placeOf(Field field, int channel, int input)
{
    using S = ConsoleState;
    const int record = channel * S::kRecordBytes;
    const int mix = input * S::kMaxChannels + channel;
    switch (field)
    {
    case Field::clock:
        return {4 * S::kClockWord, 8, kAllBits};
    case Field::flags:
        return {4 * S::kFlagsWord, 4, kAllBits};
    case Field::routing:
        return {4 * S::kRoutingWords, 4 * S::kRoutingWordCount, kAllBits};
    case Field::outGain:
        return {4 * (S::kOutputGainWords + channel), 4, kAllBits};
    case Field::outMute:
        return {S::kOutputRecords + record, 1, kAllBits};
    case Field::outNominal:
        return {S::kOutputRecords + record + 1, 1, kAllBits};
    case Field::inNominal:
        return {S::kInputRecords + record, 1, kAllBits};
    case Field::playGain:
        return {4 * (S::kPlaybackGainWords + channel), 4, kAllBits};
    case Field::playMute:
        return {S::kPlaybackRecords + record, 1, kAllBits};
    case Field::playSolo:
        return {S::kPlaybackRecords + record + 1, 1, kAllBits};
    case Field::monGain:
        return {4 * (S::kMonitorGainWords + mix), 4, kAllBits};
    case Field::monFlags:
        return {S::kMonitorFlags + mix, 1, kMonitorMuteBit | kMonitorSoloBit};
    case Field::monPan:
        return {S::kMonitorPans + mix, 1, kAllBits};
    }
    return {0, 0, 0};
}

int UnitRead::readValue(Field field, int channel, int input, uint8_t* value)
{
    device::vhw& device = getHwThread().getDevice();
    uint32_t word = 0;
    int result = 0;
    if (field == Field::clock)
    {
        int rate = 0;
        int clock = 0;
        result = device.getClock(rate, clock);
        const uint32_t words[2] = {uint32_t(clock), uint32_t(rate)};
        std::memcpy(value, words, sizeof words);
        return result;
    }
    if (field == Field::routing)
    {
        // The request's first two words carry no meaning for the unit.
        device::IsocMapRecord record{};
        result = device.getIsocMap(record);
        std::memcpy(value, record.words, sizeof record.words);
        return result;
    }
    if (field == Field::flags)
    {
        int flags = 0;
        int phantom = 0;
        result = device.getFlags(flags);
        // A unit without phantom power need not answer for it.
        if (result == 0 && device.getCaps().hasPhantomPower())
            result = device.getPhantomPower(phantom);
        word =
            (uint32_t(flags) & ~ConsoleState::kPhantomFlag) | (phantom != 0 ? ConsoleState::kPhantomFlag : 0);
    }
    else
    {
        // The mixer's get commands, in the order of the fields from outGain on; a monitor-mix value is
        // one input's in the mix of an output channel.
        static constexpr std::pair<uint32_t, uint32_t> kGets[] = {
            {device::kCatPhysOut, device::kMixGetGain},     {device::kCatPhysOut, device::kMixGetMute},
            {device::kCatPhysOut, device::kMixGetNominal},  {device::kCatPhysIn, device::kMixGetNominal},
            {device::kCatPlaybackMix, device::kMixGetGain}, {device::kCatPlaybackMix, device::kMixGetMute},
            {device::kCatPlaybackMix, device::kMixGetSolo}, {device::kCatMonitorMix, device::kMixGetGain},
            {device::kCatMonitorMix, device::kMixGetMute},  {device::kCatMonitorMix, device::kMixGetPan}};
        const auto [category, command] = kGets[int(field) - int(Field::outGain)];
        const bool monitor = category == device::kCatMonitorMix;
        const int first = monitor ? input : channel;
        const int mix = monitor ? channel : 0;
        result = device.getMixerWord(category, command, first, mix, word);
        if (field == Field::monFlags)
        {
            const bool muted = word != 0;
            if (result == 0)
                result = device.getMixerWord(category, device::kMixGetSolo, first, mix, word);
            word = (muted ? kMonitorMuteBit : 0) | (word != 0 ? kMonitorSoloBit : 0);
        }
    }
    // A word field as it lies in the image; a byte field as its first byte.
    if (placeOf(field, channel, input).count == 4)
        std::memcpy(value, &word, sizeof word);
    else
        value[0] = uint8_t(word);
    return result;
}

void UnitRead::start()
{
    ConsoleState& state = getHwThread().getState();
    for (int part = 0; part < partCount(); ++part)
    {
        const Part p = partAt(part);
        for (int item = 0; item < p.fieldCount * p.channels; ++item)
        {
            const Place place = placeOf(p.fields[item % p.fieldCount], item / p.fieldCount, p.input);
            state.awaitUnitValue(place.offset, place.count, place.mask);
        }
    }
    part_.store(0);
    getHwThread().queueGet(*this);
}

bool UnitRead::isReading() const
{
    const int part = part_.load();
    return part >= 0 && part < partCount();
}

void UnitRead::readFromDevice()
{
    const int part = part_.load();
    if (part < 0 || part >= partCount())
        return;
    const Part p = partAt(part);
    uint8_t value[4 * ConsoleState::kRoutingWordCount];
    for (; item_ < p.fieldCount * p.channels; ++item_)
    {
        const Field field = p.fields[item_ % p.fieldCount];
        const int channel = item_ / p.fieldCount;
        const int result = readValue(field, channel, p.input, value);
        if (result < 0)
        {
            // Read again from this value on, after the pause.
            handleGetResult(result, nullptr);
            return;
        }
        if (result > 0)
        {
            handleGetResult(result, nullptr); // logged; the value stays awaited
            continue;
        }
        const Place place = placeOf(field, channel, p.input);
        std::lock_guard<std::mutex> lock(readLock_);
        std::memcpy(values_.data() + place.offset, value, size_t(place.count));
        read_.push_back(place);
    }
    item_ = 0;
    triggerAsyncUpdate();
}

void UnitRead::handleAsyncUpdate()
{
    ConsoleState& state = getHwThread().getState();
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(readLock_);
        for (const Place& place : read_)
            changed =
                state.putUnitValue(place.offset, values_.data() + place.offset, place.count, place.mask) ||
                changed;
        read_.clear();
    }
    const int next = part_.load() + 1;
    part_.store(next);
    // A unit without a session runs what was read: once every value is in, the image is whole (a value
    // it refused to read stays awaited, and that alone keeps the image from flash). A read cut short
    // is never stored.
    if (next == partCount() && state.foundNoSession())
        state.markWholeImage();
    if (changed)
        listener_.unitValuesArrived();
    if (next < partCount())
        getHwThread().queueGet(*this);
}

} // namespace console
