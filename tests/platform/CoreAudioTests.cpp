// The system's audio as the simulated kernel driver presents the units: endpoints, their filters'
// identification, the endpoint volume and its notifications.

#include "platform/CoreAudio.h"
#include "platform/DeviceFile.h"
#include "platform/DeviceInterfaces.h"

#include "TempBus.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace
{

using namespace platform;

const Guid kClass{0x3D5A1F20, 0x7C44, 0x4B9E, {0x9E, 0x21, 0x6A, 0x0B, 0x5C, 0x7D, 0x8E, 0x31}};
const Guid kIdentification{0x6F3C2A91, 0x5D8E, 0x4B27, {0xA0, 0xC4, 0x19, 0xE7, 0xD3, 0xB8, 0x5F, 0x62}};

std::vector<ComPtr<IMMDevice>> renderEndpoints()
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    EXPECT_EQ(coCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMMDeviceEnumerator, enumerator.putVoid()),
              S_OK);
    ComPtr<IMMDeviceCollection> collection;
    EXPECT_EQ(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.put()), S_OK);
    uint32_t count = 0;
    collection->GetCount(&count);
    std::vector<ComPtr<IMMDevice>> endpoints(count);
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_EQ(collection->Item(i, endpoints[i].put()), S_OK);
    return endpoints;
}

// The identification words of the filter behind an endpoint, through its topology as a client finds it.
HRESULT identify(IMMDevice& endpoint, uint32_t words[4])
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    coCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                     enumerator.putVoid());
    ComPtr<IDeviceTopology> topology;
    ComPtr<IConnector> connector;
    ComPtr<IMMDevice> filter;
    ComPtr<IKsControl> control;
    std::string id;
    HRESULT hr = endpoint.Activate(IID_IDeviceTopology, CLSCTX_ALL, nullptr, topology.putVoid());
    if (SUCCEEDED(hr))
        hr = topology->GetConnector(0, connector.put());
    if (SUCCEEDED(hr))
        hr = connector->GetDeviceIdConnectedTo(&id);
    if (SUCCEEDED(hr))
        hr = enumerator->GetDevice(id, filter.put());
    if (SUCCEEDED(hr))
        hr = filter->Activate(IID_IKsControl, CLSCTX_INPROC_SERVER, nullptr, control.putVoid());
    if (FAILED(hr))
        return hr;
    KSPROPERTY property{kIdentification, 0, KSPROPERTY_TYPE_GET};
    uint32_t returned = 0;
    return control->KsProperty(&property, sizeof property, words, 16, &returned);
}

ComPtr<IAudioEndpointVolume> volumeOf(IMMDevice& endpoint)
{
    ComPtr<IAudioEndpointVolume> volume;
    EXPECT_EQ(endpoint.Activate(IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr, volume.putVoid()), S_OK);
    return volume;
}

class Recorder : public IAudioEndpointVolumeCallback
{
public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    uint32_t AddRef() override { return 2; }
    uint32_t Release() override { return 1; }
    HRESULT OnNotify(const AUDIO_VOLUME_NOTIFICATION_DATA* data) override
    {
        const std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(*data);
        return S_OK;
    }
    size_t count()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    }
    bool waitFor(size_t n)
    {
        return testsupport::waitUntil([&] { return count() >= n; });
    }
    std::mutex mutex;
    std::vector<AUDIO_VOLUME_NOTIFICATION_DATA> seen;
};

} // namespace

TEST(CoreAudio, UnitsPresentStereoPairsOrInSurroundModeOneEndpointEachIdentifiedByItsFilter)
{
    testsupport::TempBus bus;
    ASSERT_EQ(bus.devsim("plug u1 --model st4"), 0);
    ASSERT_EQ(bus.devsim("plug u2 --model st2"), 0);
    // Surround mode for u2 takes effect when it is plugged again.
    const Handle handle = createFile(DeviceInterfaceSet(kClass).path(1));
    uint32_t block[16] = {0, 0, 10, 0xFFFFFFFF, 2};
    ASSERT_TRUE(deviceIoControl(handle, 0x1D2008, block, sizeof block, block, sizeof block, nullptr));
    closeHandle(handle);
    ASSERT_EQ(bus.devsim("unplug u2"), 0);
    ASSERT_EQ(bus.devsim("plug u2"), 0);
    ASSERT_EQ(bus.devsim("plug u3 --model st2"), 0);
    ASSERT_EQ(bus.devsim("set u3 endpoints anonymous"), 0);

    std::vector<std::vector<uint32_t>> found; // first channel, count
    uint32_t u1Id[2] = {};
    for (auto& endpoint : renderEndpoints())
    {
        uint32_t words[4] = {};
        const HRESULT hr = identify(*endpoint, words);
        if (FAILED(hr))
        {
            found.push_back({});
            continue;
        }
        if (found.empty())
            std::memcpy(u1Id, words, sizeof u1Id);
        found.push_back({words[2], words[3]});
        uint32_t channels = 0;
        volumeOf(*endpoint)->GetChannelCount(&channels);
        EXPECT_EQ(channels, words[3]);
    }
    const std::vector<std::vector<uint32_t>> expected{{0, 2}, {2, 2}, {4, 2}, {6, 2}, {0, 4}, {}, {}};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(u1Id[1] >> 8, 0x3B71u); // the unit id's high word carries the vendor
}

TEST(CoreAudio, EndpointVolumeKeepsToItsRangeAndToThePlugItWasFoundIn)
{
    testsupport::TempBus bus;
    ASSERT_EQ(bus.devsim("plug u1 --model st2"), 0);
    ComPtr<IAudioEndpointVolume> volume = volumeOf(*renderEndpoints().at(1));
    float minDb = 0.0f;
    float maxDb = 0.0f;
    float step = 0.0f;
    ASSERT_EQ(volume->GetVolumeRange(&minDb, &maxDb, &step), S_OK);
    EXPECT_EQ(volume->SetChannelVolumeLevel(0, minDb - 1.0f, nullptr), E_INVALIDARG);
    EXPECT_EQ(volume->SetChannelVolumeLevel(2, maxDb, nullptr), E_INVALIDARG);
    EXPECT_EQ(volume->SetChannelVolumeLevel(1, -20.0f, nullptr), S_OK);
    float db = 0.0f;
    EXPECT_EQ(volume->GetChannelVolumeLevel(1, &db), S_OK);
    EXPECT_NEAR(db, -20.0f, 0.01f);
    EXPECT_EQ(volume->SetMute(1, nullptr), S_OK);
    EXPECT_EQ(volume->SetMute(1, nullptr), S_FALSE);
    ASSERT_EQ(bus.devsim("dump u1"), 0);
    EXPECT_NE(bus.out.find("play 2 gain 16777216 (0.00 dB) mute 1"), std::string::npos) << bus.out;
    EXPECT_NE(bus.out.find("(-20.00 dB) mute 1"), std::string::npos) << bus.out;

    ASSERT_EQ(bus.devsim("unplug u1"), 0);
    ASSERT_EQ(bus.devsim("plug u1"), 0);
    EXPECT_EQ(volume->SetChannelVolumeLevel(1, -10.0f, nullptr), AUDCLNT_E_DEVICE_INVALIDATED);
    int32_t muted = 0;
    EXPECT_EQ(volume->GetMute(&muted), AUDCLNT_E_DEVICE_INVALIDATED);
}

TEST(CoreAudio, ACallbackHearsEachChangeWithItsContextAndNothingOnceUnregistered)
{
    testsupport::TempBus bus;
    ASSERT_EQ(bus.devsim("plug u1 --model st4"), 0);
    const auto endpoints = renderEndpoints();
    ComPtr<IAudioEndpointVolume> first = volumeOf(*endpoints.at(0));
    ComPtr<IAudioEndpointVolume> second = volumeOf(*endpoints.at(1));
    Recorder heard;
    Recorder sentinel;
    ASSERT_EQ(first->RegisterControlChangeNotify(&heard), S_OK);
    ASSERT_EQ(second->RegisterControlChangeNotify(&sentinel), S_OK);

    const Guid context{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    ASSERT_EQ(first->SetChannelVolumeLevel(1, -6.0f, &context), S_OK);
    ASSERT_EQ(bus.devsim("mute u1 0 1"), 0);
    ASSERT_TRUE(heard.waitFor(2));
    EXPECT_EQ(heard.seen[0].guidEventContext, context);
    EXPECT_EQ(heard.seen[0].nChannels, 2u);
    EXPECT_LT(heard.seen[0].afChannelVolumes[1], heard.seen[0].afChannelVolumes[0]);
    EXPECT_EQ(heard.seen[1].guidEventContext, GUID_NULL);
    EXPECT_EQ(heard.seen[1].bMuted, 1);

    // Changes are delivered in order: once the sentinel hears the later one, the earlier has been handed out.
    ASSERT_EQ(first->UnregisterControlChangeNotify(&heard), S_OK);
    ASSERT_EQ(bus.devsim("volume u1 0 -3"), 0);
    ASSERT_EQ(bus.devsim("volume u1 2 -3"), 0);
    ASSERT_TRUE(sentinel.waitFor(1));
    EXPECT_EQ(heard.count(), 2u);
    EXPECT_EQ(second->UnregisterControlChangeNotify(&sentinel), S_OK);
    EXPECT_EQ(second->UnregisterControlChangeNotify(&sentinel), E_INVALIDARG);
}
