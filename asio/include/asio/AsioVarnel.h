#pragma once

// The driver object as COM sees it: IASIO over the counted, aggregatable CUnknown. Every slot forwards to
// AsioDriver; results become ASIO errors in toAsioError alone.

#include "asio/AsioDriver.h"
#include "asio/ComServer.h"

namespace asiodrv
{

class AsioVarnel final : public IASIO, public CUnknown
{
public:
    // The class table's create function: a new object's non-delegating unknown, or null without memory.
    static INonDelegatingUnknown* createInstance(IUnknown* outer, HRESULT* hr);

    explicit AsioVarnel(IUnknown* outer);
    ~AsioVarnel() override = default;

    // The driver's class id as interface id gives IASIO.
    HRESULT NonDelegatingQueryInterface(const IID& riid, void** object) override;

    HRESULT QueryInterface(const IID& riid, void** object) override
    {
        return ownerQueryInterface(riid, object);
    }
    ULONG AddRef() override { return ownerAddRef(); }
    ULONG Release() override { return ownerRelease(); }

    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    int32_t getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
    ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
    ASIOError setClockSource(int32_t reference) override;
    ASIOError getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(int32_t selector, void* opt) override;
    ASIOError outputReady() override;

    AsioDriver& driver() { return driver_; }

private:
    // Released from a host callback on the streaming thread, the object goes when that thread ends.
    void destroy() override;
    static void destroyNow(void* object);

    AsioDriver driver_;
};

} // namespace asiodrv
