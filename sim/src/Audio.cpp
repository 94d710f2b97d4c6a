#include "sim/Audio.h"
#include "simos/CommandWords.h"

#include "AudioDevices.h"
#include "Device.h"
#include "Models.h"
#include "Shared.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sim::audio
{
namespace
{

enum : uint32_t
{
    kModeOn = 0,
    kModeOff = 1,
    kModeAnonymous = 2
};

// The identification property: its set GUID as it lies in a KSPROPERTY (Data1, Data2, Data3 little-endian,
// then Data4), property id 0, flags KSPROPERTY_TYPE_GET.
constexpr uint8_t kIdentificationSet[16] = {0x91, 0x2A, 0x3C, 0x6F, 0x8E, 0x5D, 0x27, 0x4B,
                                            0xA0, 0xC4, 0x19, 0xE7, 0xD3, 0xB8, 0x5F, 0x62};
constexpr uint32_t kKsPropertyBytes = 24;
constexpr uint32_t kKsTypeGet = 1;
constexpr uint32_t kIdentificationBytes = 16;

constexpr const char* kDefaultName = "Doranth";
constexpr size_t kMixerNameChars = 31;

struct Wave
{
    uint32_t first;
    uint32_t count;
};

// The unit's wave devices: stereo pairs (a last odd channel alone), or one device in surround mode.
std::vector<Wave> wavesOf(const UnitState& u)
{
    std::vector<Wave> waves;
    const uint32_t n = std::min<uint32_t>(u.waveChannels, kMaxChannels);
    if (!u.hasCaps || u.endpointMode == kModeOff || n == 0)
        return waves;
    if (u.waveSurround != 0)
        waves.push_back({0, n});
    else
        for (uint32_t c = 0; c < n; c += 2)
            waves.push_back({c, std::min<uint32_t>(2, n - c)});
    return waves;
}

std::string endpointId(const std::string& unit, uint32_t first)
{
    return "{0.0.0.00000000}.{" + unit + "#play" + std::to_string(first) + "}";
}

std::string filterId(const std::string& unit, uint32_t first)
{
    return "{2}.\\\\?\\doranth#" + unit + "#wave" + std::to_string(first);
}

// The name the driver gives the unit's wave devices: its "unique_name", else the family's.
std::string deviceName(const UnitState& u)
{
    if (u.hasUniqueName == 0 || u.uniqueNameSize == 0)
        return kDefaultName;
    const size_t size = std::min<size_t>(u.uniqueNameSize, kUniqueNameBytes);
    return std::string(u.uniqueName, strnlen(u.uniqueName, size));
}

// Calls fn(slot, unit slot, state) for every plugged unit, in plug order. Under the bus lock.
template <class Fn> void forEachPlugged(Bus& bus, Fn fn)
{
    std::vector<std::pair<uint64_t, int>> order;
    for (int i = 0; i < kMaxUnits; ++i)
    {
        const UnitSlot& s = bus.header().units[i];
        if (s.inUse && s.plugged)
            order.emplace_back(s.plugSeq, i);
    }
    std::sort(order.begin(), order.end());
    for (const auto& [seq, slot] : order)
        if (std::shared_ptr<UnitFiles> files = bus.files(slot, false, nullptr))
            fn(slot, bus.header().units[slot], files->state());
}

Endpoint endpointOf(const UnitSlot& s, const Wave& w)
{
    Endpoint e;
    e.id = endpointId(s.name, w.first);
    e.filterId = filterId(s.name, w.first);
    e.unit = s.name;
    e.creationId = s.creationId;
    e.generation = s.generation;
    e.firstChannel = w.first;
    e.channelCount = w.count;
    return e;
}

// The unit of an endpoint still presented as it was found (same plug, same channels); null otherwise.
// Under the bus lock.
UnitState* liveUnit(Bus& bus, const Endpoint& e, int* slotOut = nullptr)
{
    const int slot = bus.findUnit(e.unit);
    if (slot < 0)
        return nullptr;
    const UnitSlot& s = bus.header().units[slot];
    if (!s.plugged || s.creationId != e.creationId || s.generation != e.generation)
        return nullptr;
    std::shared_ptr<UnitFiles> files = bus.files(slot, false, nullptr);
    if (!files)
        return nullptr;
    for (const Wave& w : wavesOf(files->state()))
        if (w.first == e.firstChannel && w.count == e.channelCount)
        {
            if (slotOut != nullptr)
                *slotOut = slot;
            return &files->state(); // the bus's cache keeps the mapping
        }
    return nullptr;
}

// The same conversion as the device's gain commands, so a level set through an endpoint and one sent as
// a VDC command land on the same gain.
uint32_t dbToGain(float db)
{
    const float f = static_cast<float>(static_cast<double>(db) * 0.05);
    const float g = static_cast<float>(std::pow(10.0, static_cast<double>(f)));
    const double r = std::nearbyint(static_cast<double>(g) * 16777216.0);
    return r >= 4294967295.0 ? 0xFFFFFFFFu : r > 0.0 ? static_cast<uint32_t>(r) : 0u;
}

// What the endpoint reads for a gain: the level, held within the endpoint's range.
float levelOf(uint32_t gain)
{
    if (gain == 0)
        return kMinDb;
    const float ratio = static_cast<float>(static_cast<double>(gain) / 16777216.0);
    const float db = static_cast<float>(20.0 * std::log10(static_cast<double>(ratio)));
    return std::clamp(db, kMinDb, kMaxDb);
}

void pushVolumeEvent(Bus& bus, const UnitSlot& s, uint32_t first, uint32_t count, uint32_t kind,
                     const uint8_t* context)
{
    BusHeader& h = bus.header();
    const uint64_t seq = h.volumeSeq + 1;
    sim::VolumeEvent& e = h.volumeEvents[seq % kVolumeRing];
    e = sim::VolumeEvent{};
    e.seq = seq;
    e.creationId = s.creationId;
    std::memcpy(e.unit, s.name, strnlen(s.name, kNameBytes - 1)); // the rest stays zero
    e.firstChannel = first;
    e.channelCount = count;
    e.kind = kind;
    if (context != nullptr)
        std::memcpy(e.context, context, sizeof e.context);
    h.volumeSeq = seq;
}

int32_t setVolumeLocked(Bus& bus, const Endpoint& e, uint32_t channel, float db, const uint8_t* context)
{
    int slot = -1;
    UnitState* u = liveUnit(bus, e, &slot);
    if (u == nullptr)
        return kDeviceInvalidated;
    if (channel >= e.channelCount || !(db >= kMinDb && db <= kMaxDb))
        return kInvalidArg;
    uint32_t& gain = u->mixer.playGain[e.firstChannel + channel];
    const uint32_t value = dbToGain(db);
    if (gain != value)
    {
        gain = value;
        pushVolumeEvent(bus, bus.header().units[slot], e.firstChannel + channel, 1, kVolumeChanged, context);
    }
    return kOk;
}

int32_t setMuteLocked(Bus& bus, const Endpoint& e, bool muted, const uint8_t* context)
{
    int slot = -1;
    UnitState* u = liveUnit(bus, e, &slot);
    if (u == nullptr)
        return kDeviceInvalidated;
    bool changed = false;
    for (uint32_t c = e.firstChannel; c < e.firstChannel + e.channelCount; ++c)
    {
        changed = changed || u->mixer.playMute[c] != (muted ? 1u : 0u);
        u->mixer.playMute[c] = muted ? 1 : 0;
    }
    if (!changed)
        return kNoChange;
    pushVolumeEvent(bus, bus.header().units[slot], e.firstChannel, e.channelCount, kMuteChanged, context);
    return kOk;
}

bool parseNumber(const std::string& text, uint32_t* value)
{
    uint64_t v = 0;
    if (!os::parseCommandNumber(text, 0xFFFFFFFFull, &v))
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// A level such as -12 or -3.5: a digit, a point or a minus first (no blank, no plus, as every number of
// the command line).
bool parseDb(const std::string& text, float* value)
{
    const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == first ||
        (!std::isdigit(static_cast<unsigned char>(text[first])) && text[first] != '.'))
        return false;
    char* end = nullptr;
    const float v = std::strtof(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

} // namespace

// --- the system's audio ---

std::vector<Endpoint> renderEndpoints()
{
    std::vector<Endpoint> endpoints;
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return endpoints;
    BusLock lock(*bus);
    forEachPlugged(*bus,
                   [&](int, const UnitSlot& s, const UnitState& u)
                   {
                       for (const Wave& w : wavesOf(u))
                           endpoints.push_back(endpointOf(s, w));
                   });
    return endpoints;
}

bool findEndpoint(const std::string& id, Endpoint* out)
{
    for (Endpoint& e : renderEndpoints())
        if (e.id == id)
        {
            *out = std::move(e);
            return true;
        }
    return false;
}

bool findFilter(const std::string& filterId, Endpoint* out)
{
    for (Endpoint& e : renderEndpoints())
        if (e.filterId == filterId)
        {
            *out = std::move(e);
            return true;
        }
    return false;
}

int32_t ksProperty(const std::string& filter, const void* property, uint32_t propertyBytes, void* data,
                   uint32_t dataBytes, uint32_t* returned)
{
    if (returned != nullptr)
        *returned = 0;
    if (property == nullptr || propertyBytes < kKsPropertyBytes)
        return kInvalidArg;
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return kNotFound;
    const auto* p = static_cast<const uint8_t*>(property);
    BusLock lock(*bus);
    bool found = false;
    uint32_t words[4] = {};
    uint32_t mode = kModeOn;
    forEachPlugged(*bus,
                   [&](int, const UnitSlot& s, const UnitState& u)
                   {
                       for (const Wave& w : wavesOf(u))
                           if (!found && filterId(s.name, w.first) == filter)
                           {
                               found = true;
                               mode = u.endpointMode;
                               words[0] = loadLe32(u.caps + caps::kIdLow);
                               words[1] = loadLe32(u.caps + caps::kIdHigh);
                               words[2] = w.first;
                               words[3] = w.count;
                           }
                   });
    if (!found)
        return kNotFound;
    if (mode == kModeAnonymous || std::memcmp(p, kIdentificationSet, 16) != 0 || loadLe32(p + 16) != 0)
        return kSetNotFound;
    if (loadLe32(p + 20) != kKsTypeGet)
        return kNotFound;
    if (data == nullptr || dataBytes < kIdentificationBytes)
    {
        if (returned != nullptr)
            *returned = kIdentificationBytes;
        return kInsufficientBuffer;
    }
    for (int i = 0; i < 4; ++i)
        storeLe32(static_cast<uint8_t*>(data) + 4 * i, words[i]);
    if (returned != nullptr)
        *returned = kIdentificationBytes;
    return kOk;
}

int32_t getChannelVolume(const Endpoint& e, uint32_t channel, float* db)
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return kDeviceInvalidated;
    BusLock lock(*bus);
    UnitState* u = liveUnit(*bus, e);
    if (u == nullptr)
        return kDeviceInvalidated;
    if (channel >= e.channelCount || db == nullptr)
        return kInvalidArg;
    *db = levelOf(u->mixer.playGain[e.firstChannel + channel]);
    return kOk;
}

int32_t setChannelVolume(const Endpoint& e, uint32_t channel, float db, const uint8_t* context)
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return kDeviceInvalidated;
    BusLock lock(*bus);
    return setVolumeLocked(*bus, e, channel, db, context);
}

int32_t getMute(const Endpoint& e, bool* muted)
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return kDeviceInvalidated;
    BusLock lock(*bus);
    UnitState* u = liveUnit(*bus, e);
    if (u == nullptr)
        return kDeviceInvalidated;
    if (muted == nullptr)
        return kInvalidArg;
    *muted = false;
    for (uint32_t c = e.firstChannel; c < e.firstChannel + e.channelCount; ++c)
        *muted = *muted || u->mixer.playMute[c] != 0;
    return kOk;
}

int32_t setMute(const Endpoint& e, bool muted, const uint8_t* context)
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return kDeviceInvalidated;
    BusLock lock(*bus);
    return setMuteLocked(*bus, e, muted, context);
}

uint64_t volumeEventSequence()
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return 0;
    BusLock lock(*bus);
    return bus->header().volumeSeq;
}

std::vector<VolumeEvent> volumeEventsSince(uint64_t seq, uint64_t* next)
{
    std::vector<VolumeEvent> events;
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
    {
        if (next != nullptr)
            *next = seq;
        return events;
    }
    BusLock lock(*bus);
    const BusHeader& h = bus->header();
    if (next != nullptr)
        *next = h.volumeSeq;
    const uint64_t oldest = h.volumeSeq > uint64_t(kVolumeRing) ? h.volumeSeq - kVolumeRing + 1 : 1;
    for (uint64_t s = std::max(seq + 1, oldest); s <= h.volumeSeq; ++s)
    {
        const sim::VolumeEvent& stored = h.volumeEvents[s % kVolumeRing];
        VolumeEvent e;
        e.seq = stored.seq;
        e.unit = std::string(stored.unit, strnlen(stored.unit, kNameBytes));
        e.creationId = stored.creationId;
        e.firstChannel = stored.firstChannel;
        e.channelCount = stored.channelCount;
        e.kind = stored.kind;
        std::memcpy(e.context, stored.context, sizeof e.context);
        events.push_back(std::move(e));
    }
    return events;
}

std::vector<MixerDevice> mixerDevices()
{
    std::vector<MixerDevice> mixers;
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return mixers;
    BusLock lock(*bus);
    forEachPlugged(*bus,
                   [&](int, const UnitSlot& s, const UnitState& u)
                   {
                       const std::vector<Wave> waves = wavesOf(u);
                       if (waves.empty())
                           return;
                       const std::string name = deviceName(u);
                       auto add = [&](const std::string& text, uint32_t first, uint32_t count, bool playback)
                       {
                           MixerDevice m;
                           m.name = text.substr(0, kMixerNameChars);
                           m.unit = s.name;
                           m.creationId = s.creationId;
                           m.firstChannel = first;
                           m.channelCount = count;
                           m.playback = playback;
                           mixers.push_back(std::move(m));
                       };
                       for (const Wave& w : waves)
                       {
                           if (u.waveSurround != 0)
                               add(name + " Playback", w.first, w.count, true);
                           else if (w.count == 1)
                               add(name + " Out " + std::to_string(w.first + 1), w.first, 1, true);
                           else
                               add(name + " Out " + std::to_string(w.first + 1) + "-" +
                                       std::to_string(w.first + w.count),
                                   w.first, w.count, true);
                       }
                       add(name + " In", 0, 0, false);
                   });
    return mixers;
}

// --- devsim ---

void latchLayout(UnitState& unit)
{
    constexpr uint32_t kSurroundFlag = 2; // driver flag bit 1
    unit.waveSurround = (unit.driverFlags & kSurroundFlag) != 0 ? 1 : 0;
    unit.waveChannels = countsOf(unit).playback;
}

bool setEndpointKnob(UnitState& unit, const std::string& value, std::string& why)
{
    if (value == "on")
        unit.endpointMode = kModeOn;
    else if (value == "off")
        unit.endpointMode = kModeOff;
    else if (value == "anonymous")
        unit.endpointMode = kModeAnonymous;
    else
    {
        why = "endpoints takes on, off or anonymous";
        return false;
    }
    return true;
}

std::vector<std::string> dumpLines(const UnitState& unit)
{
    static const char* const modes[] = {"on", "off", "anonymous"};
    std::string line = "endpoints " + std::string(modes[std::min<uint32_t>(unit.endpointMode, 2)]) + ", " +
                       (unit.waveSurround != 0 ? "surround" : "stereo") + ", " +
                       std::to_string(unit.waveChannels) + " channels:";
    for (const Wave& w : wavesOf(unit))
        line += " " + std::to_string(w.first) + "+" + std::to_string(w.count);
    return {line};
}

int devsimCommand(const std::string& command, const std::vector<std::string>& args, std::string& out,
                  std::string& err)
{
    auto fail = [&err](int status, const std::string& why)
    {
        err += "devsim: " + why + "\n";
        return status;
    };
    constexpr int kFailed = 1;
    constexpr int kUsage = 2;
    std::string why;
    std::shared_ptr<Bus> bus = Bus::current(&why);
    if (command == "endpoints")
    {
        if (!args.empty())
            return fail(kUsage, os::unexpectedWord(args[0], "endpoints"));
        if (!bus)
            return fail(kFailed, why);
        for (const Endpoint& e : renderEndpoints())
            out += "endpoint " + e.id + " " + e.unit + " channels " + std::to_string(e.firstChannel) + "-" +
                   std::to_string(e.firstChannel + e.channelCount - 1) + "\n";
        int index = 0;
        for (const MixerDevice& m : mixerDevices())
            out += "mixer " + std::to_string(index++) + " \"" + m.name + "\" " + m.unit +
                   (m.playback ? " playback\n" : " record\n");
        return 0;
    }

    const bool mute = command == "mute";
    if (args.size() > 3)
        return fail(kUsage,
                    os::unexpectedWord(args[3], command + " " + args[0] + " " + args[1] + " " + args[2]));
    if (args.size() != 3)
        return fail(kUsage, command + (mute ? " takes a unit, a playback channel and 0 or 1"
                                            : " takes a unit, a playback channel and a level in dB"));
    uint32_t channel = 0;
    if (!parseNumber(args[1], &channel))
        return fail(kUsage, "not a playback channel: " + args[1]);
    float db = 0.0f;
    if (!mute && !parseDb(args[2], &db))
        return fail(kUsage, "not a level in dB: " + args[2]);
    if (mute && args[2] != "0" && args[2] != "1")
        return fail(kUsage, "mute takes 0 or 1: " + args[2]);
    if (!bus)
        return fail(kFailed, why);

    BusLock lock(*bus);
    const int slot = bus->findUnit(args[0]);
    if (slot < 0)
        return fail(kFailed, "no unit named " + args[0]);
    const UnitSlot& s = bus->header().units[slot];
    std::shared_ptr<UnitFiles> files = bus->files(slot, false, &why);
    if (!files)
        return fail(kFailed, why);
    if (!s.plugged)
        return fail(kFailed, args[0] + " is not plugged in");
    // The user's volume control moves the endpoint that carries the channel, within its range.
    for (const Wave& w : wavesOf(files->state()))
        if (channel >= w.first && channel < w.first + w.count)
        {
            const Endpoint e = endpointOf(s, w);
            const int32_t result =
                mute ? setMuteLocked(*bus, e, args[2] == "1", nullptr)
                     : setVolumeLocked(*bus, e, channel - w.first, std::clamp(db, kMinDb, kMaxDb), nullptr);
            return result >= 0 ? 0 : fail(kFailed, "the endpoint refused the change");
        }
    return fail(kFailed, "no endpoint of " + args[0] + " carries playback channel " + args[1]);
}

} // namespace sim::audio
