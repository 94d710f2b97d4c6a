#include "platform/CoreAudio.h"

#include "AudioService.h"
#include "sim/Audio.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace platform
{
namespace
{

template <class T> const IID& iidOf();
template <> const IID& iidOf<IMMDeviceEnumerator>()
{
    return IID_IMMDeviceEnumerator;
}
template <> const IID& iidOf<IMMDeviceCollection>()
{
    return IID_IMMDeviceCollection;
}
template <> const IID& iidOf<IMMDevice>()
{
    return IID_IMMDevice;
}
template <> const IID& iidOf<IDeviceTopology>()
{
    return IID_IDeviceTopology;
}
template <> const IID& iidOf<IConnector>()
{
    return IID_IConnector;
}
template <> const IID& iidOf<IKsControl>()
{
    return IID_IKsControl;
}
template <> const IID& iidOf<IAudioEndpointVolume>()
{
    return IID_IAudioEndpointVolume;
}

// The reference count and QueryInterface of an object that implements one interface.
template <class Interface> class Object : public Interface
{
public:
    HRESULT QueryInterface(const IID& iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == iidOf<Interface>())
        {
            this->AddRef();
            *object = static_cast<Interface*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return refs_.fetch_add(1) + 1; }
    uint32_t Release() override
    {
        const uint32_t left = refs_.fetch_sub(1) - 1;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    ~Object() override = default;

private:
    std::atomic<uint32_t> refs_{1};
};

// Hands a new object out through QueryInterface and drops the creator's reference.
HRESULT handOut(IUnknown* made, const IID& iid, void** object)
{
    if (made == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = made->QueryInterface(iid, object);
    made->Release();
    return hr;
}

std::vector<uint8_t> contextBytes(const Guid* context)
{
    std::vector<uint8_t> bytes(16, 0);
    if (context != nullptr)
        std::memcpy(bytes.data(), context, 16);
    return bytes;
}

float scalarOf(float db)
{
    return (std::clamp(db, sim::audio::kMinDb, sim::audio::kMaxDb) - sim::audio::kMinDb) /
           (sim::audio::kMaxDb - sim::audio::kMinDb);
}

// A registered callback: the notification thread hands it the changes of its endpoint.
class Notifier : public audioservice::Client
{
public:
    Notifier(IAudioEndpointVolumeCallback* callback, const sim::audio::Endpoint& endpoint)
        : callback_(callback), endpoint_(endpoint)
    {
        callback_->AddRef();
    }
    ~Notifier() override { callback_->Release(); }
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    IAudioEndpointVolumeCallback* callback() const { return callback_; }

    void volumeChanged(const sim::audio::VolumeEvent& event) override
    {
        AUDIO_VOLUME_NOTIFICATION_DATA data{};
        std::memcpy(&data.guidEventContext, event.context, sizeof data.guidEventContext);
        bool muted = false;
        sim::audio::getMute(endpoint_, &muted);
        data.bMuted = muted ? 1 : 0;
        data.nChannels = std::min(endpoint_.channelCount, kMaxEndpointChannels);
        for (uint32_t c = 0; c < data.nChannels; ++c)
        {
            float db = sim::audio::kMinDb;
            sim::audio::getChannelVolume(endpoint_, c, &db);
            data.afChannelVolumes[c] = scalarOf(db);
            data.fMasterVolume = std::max(data.fMasterVolume, data.afChannelVolumes[c]);
        }
        callback_->OnNotify(&data);
    }

private:
    IAudioEndpointVolumeCallback* const callback_;
    const sim::audio::Endpoint endpoint_;
};

class EndpointVolume : public Object<IAudioEndpointVolume>
{
public:
    explicit EndpointVolume(const sim::audio::Endpoint& endpoint) : endpoint_(endpoint) {}

    HRESULT RegisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override
    {
        if (callback == nullptr)
            return E_POINTER;
        auto notifier = std::make_unique<Notifier>(callback, endpoint_);
        audioservice::add(notifier.get(), endpoint_.unit, endpoint_.creationId, endpoint_.firstChannel,
                          endpoint_.channelCount);
        const std::lock_guard<std::mutex> lock(mutex_);
        notifiers_.push_back(std::move(notifier));
        return S_OK;
    }

    HRESULT UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override
    {
        std::unique_ptr<Notifier> notifier;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto it = std::find_if(notifiers_.begin(), notifiers_.end(),
                                         [callback](const auto& n) { return n->callback() == callback; });
            if (it == notifiers_.end())
                return E_INVALIDARG;
            notifier = std::move(*it);
            notifiers_.erase(it);
        }
        audioservice::remove(notifier.get());
        return S_OK;
    }

    HRESULT GetChannelCount(uint32_t* count) override
    {
        if (count == nullptr)
            return E_POINTER;
        *count = endpoint_.channelCount;
        return S_OK;
    }

    HRESULT SetChannelVolumeLevel(uint32_t channel, float levelDb, const Guid* context) override
    {
        return sim::audio::setChannelVolume(endpoint_, channel, levelDb, contextBytes(context).data());
    }

    HRESULT GetChannelVolumeLevel(uint32_t channel, float* levelDb) override
    {
        if (levelDb == nullptr)
            return E_POINTER;
        return sim::audio::getChannelVolume(endpoint_, channel, levelDb);
    }

    HRESULT SetMute(int32_t mute, const Guid* context) override
    {
        return sim::audio::setMute(endpoint_, mute != 0, contextBytes(context).data());
    }

    HRESULT GetMute(int32_t* mute) override
    {
        if (mute == nullptr)
            return E_POINTER;
        bool muted = false;
        const HRESULT hr = sim::audio::getMute(endpoint_, &muted);
        if (SUCCEEDED(hr))
            *mute = muted ? 1 : 0;
        return hr;
    }

    HRESULT GetVolumeRange(float* minDb, float* maxDb, float* incrementDb) override
    {
        if (minDb == nullptr || maxDb == nullptr || incrementDb == nullptr)
            return E_POINTER;
        *minDb = sim::audio::kMinDb;
        *maxDb = sim::audio::kMaxDb;
        *incrementDb = sim::audio::kStepDb;
        return S_OK;
    }

private:
    ~EndpointVolume() override
    {
        // A client that releases without unregistering is not called any more either.
        std::vector<std::unique_ptr<Notifier>> left;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            left.swap(notifiers_);
        }
        for (const auto& n : left)
            audioservice::remove(n.get());
    }

    const sim::audio::Endpoint endpoint_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Notifier>> notifiers_; // guarded by mutex_
};

class KsControl : public Object<IKsControl>
{
public:
    explicit KsControl(std::string filterId) : filterId_(std::move(filterId)) {}

    HRESULT KsProperty(const KSPROPERTY* property, uint32_t propertyLength, void* data, uint32_t dataLength,
                       uint32_t* bytesReturned) override
    {
        return sim::audio::ksProperty(filterId_, property, propertyLength, data, dataLength, bytesReturned);
    }

private:
    const std::string filterId_;
};

class Connector : public Object<IConnector>
{
public:
    explicit Connector(std::string filterId) : filterId_(std::move(filterId)) {}

    HRESULT GetDeviceIdConnectedTo(std::string* id) override
    {
        if (id == nullptr)
            return E_POINTER;
        *id = filterId_;
        return S_OK;
    }

private:
    const std::string filterId_;
};

class DeviceTopology : public Object<IDeviceTopology>
{
public:
    explicit DeviceTopology(std::string filterId) : filterId_(std::move(filterId)) {}

    HRESULT GetConnector(uint32_t index, IConnector** connector) override
    {
        if (connector == nullptr)
            return E_POINTER;
        *connector = nullptr;
        if (index != 0)
            return E_INVALIDARG;
        return handOut(new (std::nothrow) Connector(filterId_), IID_IConnector,
                       reinterpret_cast<void**>(connector));
    }

private:
    const std::string filterId_;
};

// A render endpoint, or (filter set) the device of the kernel-streaming filter behind one.
class Device : public Object<IMMDevice>
{
public:
    Device(const sim::audio::Endpoint& endpoint, bool filter) : endpoint_(endpoint), filter_(filter) {}

    HRESULT Activate(const IID& iid, uint32_t, void*, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (filter_ && iid == IID_IKsControl)
            return handOut(new (std::nothrow) KsControl(endpoint_.filterId), iid, object);
        if (!filter_ && iid == IID_IAudioEndpointVolume)
            return handOut(new (std::nothrow) EndpointVolume(endpoint_), iid, object);
        if (!filter_ && iid == IID_IDeviceTopology)
            return handOut(new (std::nothrow) DeviceTopology(endpoint_.filterId), iid, object);
        return E_NOINTERFACE;
    }

    HRESULT GetId(std::string* id) override
    {
        if (id == nullptr)
            return E_POINTER;
        *id = filter_ ? endpoint_.filterId : endpoint_.id;
        return S_OK;
    }

private:
    const sim::audio::Endpoint endpoint_;
    const bool filter_;
};

class DeviceCollection : public Object<IMMDeviceCollection>
{
public:
    explicit DeviceCollection(std::vector<sim::audio::Endpoint> endpoints) : endpoints_(std::move(endpoints))
    {
    }

    HRESULT GetCount(uint32_t* count) override
    {
        if (count == nullptr)
            return E_POINTER;
        *count = static_cast<uint32_t>(endpoints_.size());
        return S_OK;
    }

    HRESULT Item(uint32_t index, IMMDevice** device) override
    {
        if (device == nullptr)
            return E_POINTER;
        *device = nullptr;
        if (index >= endpoints_.size())
            return E_INVALIDARG;
        return handOut(new (std::nothrow) Device(endpoints_[index], false), IID_IMMDevice,
                       reinterpret_cast<void**>(device));
    }

private:
    const std::vector<sim::audio::Endpoint> endpoints_;
};

class DeviceEnumerator : public Object<IMMDeviceEnumerator>
{
public:
    HRESULT EnumAudioEndpoints(EDataFlow flow, uint32_t stateMask, IMMDeviceCollection** devices) override
    {
        if (devices == nullptr)
            return E_POINTER;
        *devices = nullptr;
        if (flow > eAll)
            return E_INVALIDARG;
        // Only render endpoints exist here, all of them active.
        std::vector<sim::audio::Endpoint> endpoints;
        if (flow != eCapture && (stateMask & DEVICE_STATE_ACTIVE) != 0)
            endpoints = sim::audio::renderEndpoints();
        return handOut(new (std::nothrow) DeviceCollection(std::move(endpoints)), IID_IMMDeviceCollection,
                       reinterpret_cast<void**>(devices));
    }

    HRESULT GetDevice(const std::string& id, IMMDevice** device) override
    {
        if (device == nullptr)
            return E_POINTER;
        *device = nullptr;
        sim::audio::Endpoint endpoint;
        if (sim::audio::findEndpoint(id, &endpoint))
            return handOut(new (std::nothrow) Device(endpoint, false), IID_IMMDevice,
                           reinterpret_cast<void**>(device));
        if (sim::audio::findFilter(id, &endpoint))
            return handOut(new (std::nothrow) Device(endpoint, true), IID_IMMDevice,
                           reinterpret_cast<void**>(device));
        return E_NOTFOUND;
    }
};

} // namespace

HRESULT coCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t, const IID& iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return E_NOINTERFACE; // no aggregation
    if (clsid != CLSID_MMDeviceEnumerator)
        return REGDB_E_CLASSNOTREG;
    return handOut(new (std::nothrow) DeviceEnumerator(), iid, object);
}

} // namespace platform
