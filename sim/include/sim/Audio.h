#pragma once

// The kernel driver's wave devices as the system's audio presents them: each plugged unit's playback
// channels are render endpoints (stereo pairs, or one multichannel endpoint in surround mode, as the
// driver flag stood when the unit was plugged) and, before Vista, mixer devices. An endpoint's channel
// volume and its mute are the unit's playback gain and mute, so every process and every path to them
// (endpoint volume, VDC commands, devsim) sees the same values. platform/ is the only caller in the
// system. Results are HRESULT values with their Windows numbers.

#include <cstdint>
#include <string>
#include <vector>

namespace sim::audio
{

constexpr int32_t kOk = 0;
constexpr int32_t kNoChange = 1; // S_FALSE
constexpr int32_t kInvalidArg = int32_t(0x80070057);
constexpr int32_t kInsufficientBuffer = int32_t(0x8007007A);
constexpr int32_t kNotFound = int32_t(0x80070490);
constexpr int32_t kSetNotFound = int32_t(0x80070492);
constexpr int32_t kDeviceInvalidated = int32_t(0x88890004);

// The volume range of every endpoint, in dB, and its step.
constexpr float kMinDb = -96.0f;
constexpr float kMaxDb = 0.0f;
constexpr float kStepDb = 0.5f;

// An endpoint as found: it stays bound to the plug of its unit it was found in.
struct Endpoint
{
    std::string id;       // the endpoint's device id
    std::string filterId; // the device id of the kernel-streaming filter behind it
    std::string unit;
    uint64_t creationId = 0;
    uint64_t generation = 0;
    uint32_t firstChannel = 0; // the unit's first playback channel it carries
    uint32_t channelCount = 0;
};

// The active render endpoints, units in plug order, each unit's in channel order.
std::vector<Endpoint> renderEndpoints();
// The active endpoint with this id, or the one whose filter has this id; false when there is none.
bool findEndpoint(const std::string& id, Endpoint* out);
bool findFilter(const std::string& filterId, Endpoint* out);

// A property request to an endpoint's kernel-streaming filter: property is a KSPROPERTY (set GUID, id,
// flags; 24 bytes). The filter knows one property, the unit identification (four words: low and high word
// of the unit id, first channel, channel count); a unit in "anonymous" mode knows none.
int32_t ksProperty(const std::string& filterId, const void* property, uint32_t propertyBytes, void* data,
                   uint32_t dataBytes, uint32_t* returned);

// The endpoint volume. channel is the channel within the endpoint; context is 16 bytes (null: none).
// A call on an endpoint whose unit has been pulled or plugged again since it was found answers
// kDeviceInvalidated. A level outside the range answers kInvalidArg; setting the value already there
// answers kOk (volume) or kNoChange (mute) and sends no event. Mute is endpoint-wide: it mutes every
// channel the endpoint carries, and the endpoint reads muted while any of them is.
int32_t getChannelVolume(const Endpoint& endpoint, uint32_t channel, float* db);
int32_t setChannelVolume(const Endpoint& endpoint, uint32_t channel, float db, const uint8_t* context);
int32_t getMute(const Endpoint& endpoint, bool* muted);
int32_t setMute(const Endpoint& endpoint, bool muted, const uint8_t* context);

// Changes of playback volumes and mutes made through the endpoints (by any process), oldest first.
enum : uint32_t
{
    kVolumeChanged = 1,
    kMuteChanged = 2
};
struct VolumeEvent
{
    uint64_t seq = 0;
    std::string unit;
    uint64_t creationId = 0;
    uint32_t firstChannel = 0;
    uint32_t channelCount = 0;
    uint32_t kind = 0;
    uint8_t context[16] = {};
};
// The sequence of the latest event (a listener starts after it).
uint64_t volumeEventSequence();
// The events after seq; *next receives the sequence to ask from next time. The bus keeps the last 64.
std::vector<VolumeEvent> volumeEventsSince(uint64_t seq, uint64_t* next);

// The mixer devices: per unit its playback devices ("<name> Out 1-2" ..., or "<name> Playback" in
// surround mode), then its record device ("<name> In"); names cut to 31 characters.
struct MixerDevice
{
    std::string name;
    std::string unit;
    uint64_t creationId = 0;
    uint32_t firstChannel = 0;
    uint32_t channelCount = 0;
    bool playback = false;
};
std::vector<MixerDevice> mixerDevices();

} // namespace sim::audio
