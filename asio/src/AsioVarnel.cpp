#include "asio/AsioVarnel.h"

#include "asio/DriverIdentity.h"

#include <cstdio>
#include <new>

namespace asiodrv
{

INonDelegatingUnknown* AsioVarnel::createInstance(IUnknown* outer, HRESULT*)
{
    return new (std::nothrow) AsioVarnel(outer);
}

AsioVarnel::AsioVarnel(IUnknown* outer) : CUnknown("ASIOVARNEL", outer) {}

void AsioVarnel::destroy()
{
    if (!driver_.deferDestruction(&AsioVarnel::destroyNow, this))
        delete this;
}

void AsioVarnel::destroyNow(void* object)
{
    delete static_cast<AsioVarnel*>(object);
}

HRESULT AsioVarnel::NonDelegatingQueryInterface(const IID& riid, void** object)
{
    if (object != nullptr && isEqualGuid(riid, CLSID_AsioStrellis))
        return exposeInterface(static_cast<IASIO*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

ASIOBool AsioVarnel::init(void*)
{
    return driver_.init() ? ASIOTrue : ASIOFalse;
}

void AsioVarnel::getDriverName(char* name)
{
    if (name != nullptr)
        std::snprintf(name, kAsioNameSize, "%s", AsioDriver::driverName());
}

int32_t AsioVarnel::getDriverVersion()
{
    return AsioDriver::driverVersion();
}

void AsioVarnel::getErrorMessage(char* string)
{
    driver_.errorMessage(string, kAsioErrorMessageSize);
}

ASIOError AsioVarnel::start()
{
    return toAsioError(driver_.start());
}

ASIOError AsioVarnel::stop()
{
    return toAsioError(driver_.stop());
}

ASIOError AsioVarnel::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels)
{
    return toAsioError(driver_.getChannels(numInputChannels, numOutputChannels));
}

ASIOError AsioVarnel::getLatencies(int32_t* inputLatency, int32_t* outputLatency)
{
    return toAsioError(driver_.getLatencies(inputLatency, outputLatency));
}

ASIOError AsioVarnel::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                    int32_t* granularity)
{
    return toAsioError(driver_.getBufferSize(minSize, maxSize, preferredSize, granularity));
}

ASIOError AsioVarnel::canSampleRate(ASIOSampleRate sampleRate)
{
    return toAsioError(driver_.canSampleRate(sampleRate));
}

ASIOError AsioVarnel::getSampleRate(ASIOSampleRate* sampleRate)
{
    return toAsioError(driver_.getSampleRate(sampleRate));
}

ASIOError AsioVarnel::setSampleRate(ASIOSampleRate sampleRate)
{
    return toAsioError(driver_.setSampleRate(sampleRate));
}

ASIOError AsioVarnel::getClockSources(ASIOClockSource* clocks, int32_t* numSources)
{
    return toAsioError(driver_.getClockSources(clocks, numSources));
}

ASIOError AsioVarnel::setClockSource(int32_t reference)
{
    return toAsioError(driver_.setClockSource(reference));
}

ASIOError AsioVarnel::getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp)
{
    return toAsioError(driver_.getSamplePosition(samplePosition, timeStamp));
}

ASIOError AsioVarnel::getChannelInfo(ASIOChannelInfo* info)
{
    return toAsioError(driver_.getChannelInfo(info));
}

ASIOError AsioVarnel::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                    ASIOCallbacks* callbacks)
{
    return toAsioError(driver_.createBuffers(bufferInfos, numChannels, bufferSize, callbacks));
}

ASIOError AsioVarnel::disposeBuffers()
{
    return toAsioError(driver_.disposeBuffers());
}

ASIOError AsioVarnel::controlPanel()
{
    // A changed buffer size asks the host for a reset, from the streaming thread while this call waits for
    // it, or from here. A host may answer by releasing the driver: the object stays until this call is done.
    NonDelegatingAddRef();
    const ASIOError result = toAsioError(driver_.controlPanel());
    NonDelegatingRelease();
    return result;
}

ASIOError AsioVarnel::future(int32_t, void*)
{
    return ASE_NotPresent;
}

ASIOError AsioVarnel::outputReady()
{
    return toAsioError(driver_.outputReady());
}

} // namespace asiodrv
