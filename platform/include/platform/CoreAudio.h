#pragma once

// The system's audio from Vista on: the device enumerator, render endpoints, the kernel-streaming
// filter behind an endpoint (reached through its device topology) with its property requests, and the
// endpoint volume with its change notifications. Ids are plain texts here; everything else keeps its
// Windows form.
//
// Every object may be used from any thread. Change notifications arrive on the process's audio
// notification thread, one at a time, for changes made by any process (this one included) through an
// endpoint volume; each carries the event context its change was made with (GUID_NULL: none). Once
// UnregisterControlChangeNotify has returned, the callback is not called any more (a call in progress
// on another thread has returned; from inside a call it returns at once).

#include "platform/Com.h"

#include <cstdint>
#include <string>

namespace platform
{

enum EDataFlow : uint32_t
{
    eRender = 0,
    eCapture = 1,
    eAll = 2
};

constexpr uint32_t DEVICE_STATE_ACTIVE = 0x1;
constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr uint32_t CLSCTX_ALL = 0x17;
constexpr uint32_t KSPROPERTY_TYPE_GET = 0x1;

// The endpoint's device is gone (its unit pulled or plugged again): find the endpoints again.
constexpr HRESULT AUDCLNT_E_DEVICE_INVALIDATED = HRESULT(0x88890004);

inline constexpr Guid GUID_NULL{};
inline constexpr CLSID CLSID_MMDeviceEnumerator{
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
inline constexpr IID IID_IMMDeviceEnumerator{
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
inline constexpr IID IID_IMMDeviceCollection{
    0x0BD7A1BE, 0x7A1A, 0x44DB, {0x83, 0x97, 0xCC, 0x53, 0x92, 0x38, 0x7B, 0x5E}};
inline constexpr IID IID_IMMDevice{
    0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};
inline constexpr IID IID_IDeviceTopology{
    0x2A07407E, 0x6497, 0x4A18, {0x97, 0x87, 0x32, 0xF7, 0x9B, 0xD0, 0xD9, 0x8F}};
inline constexpr IID IID_IConnector{
    0x9C2C4058, 0x23F5, 0x41DE, {0x87, 0x7A, 0xDF, 0x3A, 0xF2, 0x36, 0xA0, 0x9E}};
inline constexpr IID IID_IKsControl{
    0x28F54685, 0x06FD, 0x11D2, {0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr IID IID_IAudioEndpointVolume{
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};
inline constexpr IID IID_IAudioEndpointVolumeCallback{
    0x657804FA, 0xD6AD, 0x4496, {0x8A, 0x60, 0x35, 0x27, 0x52, 0xAF, 0x4F, 0x89}};

// The most channels an endpoint carries here.
constexpr uint32_t kMaxEndpointChannels = 64;

struct AUDIO_VOLUME_NOTIFICATION_DATA
{
    Guid guidEventContext;
    int32_t bMuted;
    float fMasterVolume; // 0.0 to 1.0
    uint32_t nChannels;
    float afChannelVolumes[kMaxEndpointChannels]; // 0.0 to 1.0, the first nChannels
};

#pragma pack(push, 4)
struct KSPROPERTY
{
    Guid Set;
    uint32_t Id;
    uint32_t Flags;
};
#pragma pack(pop)
static_assert(sizeof(KSPROPERTY) == 24);

class IAudioEndpointVolumeCallback : public IUnknown
{
public:
    virtual HRESULT OnNotify(const AUDIO_VOLUME_NOTIFICATION_DATA* data) = 0;
};

class IAudioEndpointVolume : public IUnknown
{
public:
    // Holds a reference to the callback until it is unregistered (or the endpoint volume is released).
    virtual HRESULT RegisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) = 0;
    virtual HRESULT UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) = 0;
    virtual HRESULT GetChannelCount(uint32_t* count) = 0;
    // A level outside GetVolumeRange answers E_INVALIDARG. context may be null (no context).
    virtual HRESULT SetChannelVolumeLevel(uint32_t channel, float levelDb, const Guid* context) = 0;
    virtual HRESULT GetChannelVolumeLevel(uint32_t channel, float* levelDb) = 0;
    // Mutes every channel of the endpoint; S_FALSE when the mute was already so.
    virtual HRESULT SetMute(int32_t mute, const Guid* context) = 0;
    virtual HRESULT GetMute(int32_t* mute) = 0;
    virtual HRESULT GetVolumeRange(float* minDb, float* maxDb, float* incrementDb) = 0;
};

class IKsControl : public IUnknown
{
public:
    virtual HRESULT KsProperty(const KSPROPERTY* property, uint32_t propertyLength, void* data,
                               uint32_t dataLength, uint32_t* bytesReturned) = 0;
};

class IConnector : public IUnknown
{
public:
    virtual HRESULT GetDeviceIdConnectedTo(std::string* id) = 0;
};

class IDeviceTopology : public IUnknown
{
public:
    virtual HRESULT GetConnector(uint32_t index, IConnector** connector) = 0;
};

class IMMDevice : public IUnknown
{
public:
    // An endpoint activates IAudioEndpointVolume and IDeviceTopology; the device of a kernel-streaming
    // filter (GetDevice with the id its connector names) activates IKsControl.
    virtual HRESULT Activate(const IID& iid, uint32_t clsctx, void* activationParams, void** object) = 0;
    virtual HRESULT GetId(std::string* id) = 0;
};

class IMMDeviceCollection : public IUnknown
{
public:
    virtual HRESULT GetCount(uint32_t* count) = 0;
    virtual HRESULT Item(uint32_t index, IMMDevice** device) = 0;
};

class IMMDeviceEnumerator : public IUnknown
{
public:
    virtual HRESULT EnumAudioEndpoints(EDataFlow flow, uint32_t stateMask, IMMDeviceCollection** devices) = 0;
    virtual HRESULT GetDevice(const std::string& id, IMMDevice** device) = 0;
};

// Makes an object of a class: here only CLSID_MMDeviceEnumerator (REGDB_E_CLASSNOTREG otherwise).
HRESULT coCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t clsctx, const IID& iid, void** object);

} // namespace platform
