#include "asio/DeviceStream.h"

#include "platform/PerformanceCounter.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace asiodrv
{
namespace
{

// The kernel driver writes these fields while we read them: each is loaded once per copy, atomically.
template <typename T> T loadShared(const uint8_t* block, size_t offset)
{
    return __atomic_load_n(reinterpret_cast<const T*>(block + offset), __ATOMIC_ACQUIRE);
}

template <typename T> void storeShared(uint8_t* block, size_t offset, T value)
{
    __atomic_store_n(reinterpret_cast<T*>(block + offset), value, __ATOMIC_RELEASE);
}

// The copies go a tile of frames at a time, channel by channel within the tile: each channel's host
// samples are then written or read as one run, and the tile's frames stay in the cache.
constexpr uint32_t kTile = 16;

int clampChannels(uint32_t n)
{
    return n > static_cast<uint32_t>(kMaxChannels) ? kMaxChannels : static_cast<int>(n);
}

} // namespace

DeviceStream::DeviceStream(vhw* device) : device_(device)
{
    device_->open();
    // The channel count at rates up to 50 kHz is the one this driver streams.
    outputCount_ = clampChannels(device_->caps().playbackChannelsUpTo50k);
    inputCount_ = clampChannels(device_->caps().getInputCount());
    maps_.build(device_->caps());
}

DeviceStream::~DeviceStream()
{
    release();
}

bool DeviceStream::allocateBuffers()
{
    freeBuffers();
    if (bufferSize_ == 0 || bufferSize_ > kMaxBufferSize)
        return false;
    const size_t samples = static_cast<size_t>(outputCount_ + inputCount_) * bufferSize_ * 2;
    if (samples == 0)
        return true;
    block_.reset(new (std::nothrow) int32_t[samples]());
    if (block_ == nullptr)
        return false;
    blockBufferSize_ = bufferSize_;
    return true;
}

void DeviceStream::freeBuffers()
{
    for (int k = 0; k < kMaxChannels; ++k)
    {
        outputRegs_[k] = nullptr;
        inputRegs_[k] = nullptr;
    }
    rebuildCopyLists();
    block_.reset();
    blockBufferSize_ = 0;
}

int32_t* DeviceStream::outputBuffer(int k, bool registerForCopy)
{
    if (block_ == nullptr || k < 0 || k >= outputCount_)
        return nullptr;
    int32_t* buffer = block_.get() + static_cast<size_t>(k) * blockBufferSize_ * 2;
    if (registerForCopy)
    {
        outputRegs_[k] = buffer;
        rebuildCopyLists();
    }
    return buffer;
}

int32_t* DeviceStream::inputBuffer(int k)
{
    if (block_ == nullptr || k < 0 || k >= inputCount_)
        return nullptr;
    int32_t* buffer = block_.get() + static_cast<size_t>(outputCount_ + k) * blockBufferSize_ * 2;
    inputRegs_[k] = buffer;
    rebuildCopyLists();
    return buffer;
}

void DeviceStream::rebuildCopyLists()
{
    copyOutputCount_ = 0;
    copyInputCount_ = 0;
    for (int k = 0; k < kMaxChannels; ++k)
    {
        if (outputRegs_[k] != nullptr)
            copyOutputs_[copyOutputCount_++] = k;
        if (inputRegs_[k] != nullptr)
            copyInputs_[copyInputCount_++] = k;
    }
}

void DeviceStream::setSharedBlock(void* block)
{
    shared_ = static_cast<uint8_t*>(block);
}

void DeviceStream::writeOutputs(uint32_t sampleOffset)
{
    uint8_t* const sb = shared_;
    if (sb == nullptr)
        return;
    const int32_t index = loadShared<int32_t>(sb, shared::kPlaybackIndex);
    if (index < 0)
        return;
    uint32_t frames = loadShared<uint32_t>(sb, shared::kPlaybackFrames);
    const uint64_t tableAddress = loadShared<uint64_t>(sb, shared::kPlaybackTable);
    // Never past the end of a half, whatever period the kernel driver runs.
    if (frames > blockBufferSize_)
        frames = blockBufferSize_;
    if (sampleOffset + frames > 2 * blockBufferSize_)
        frames = 0;
    const auto* table = reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(tableAddress));
    if (table != nullptr)
    {
        for (uint32_t first = 0; first < frames; first += kTile)
        {
            const uint32_t count = frames - first < kTile ? frames - first : kTile;
            uint32_t* tile[kTile];
            for (uint32_t j = 0; j < count; ++j)
                tile[j] = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(table[index + first + j]));
            for (int c = 0; c < copyOutputCount_; ++c)
            {
                const int n = copyOutputs_[c];
                const int32_t* host = outputRegs_[n] + sampleOffset + first;
                for (uint32_t j = 0; j < count; ++j)
                    tile[j][n] = __builtin_bswap32(static_cast<uint32_t>(host[j]) >> 8);
            }
        }
    }
    storeShared<int64_t>(sb, shared::kTimeAfterOutput, platform::queryPerformanceCounter());
}

void DeviceStream::readInputs(uint32_t sampleOffset)
{
    uint8_t* const sb = shared_;
    if (sb == nullptr)
        return;
    storeShared<int64_t>(sb, shared::kTimeBeforeInput, platform::queryPerformanceCounter());
    const int32_t index = loadShared<int32_t>(sb, shared::kCaptureIndex);
    if (index < 0)
        return;
    uint32_t frames = loadShared<uint32_t>(sb, shared::kCaptureFrames);
    const uint64_t tableAddress = loadShared<uint64_t>(sb, shared::kCaptureTable);
    if (frames > blockBufferSize_)
        frames = blockBufferSize_;
    if (sampleOffset + frames > 2 * blockBufferSize_)
        frames = 0;
    const auto* table = reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(tableAddress));
    if (table == nullptr)
        return;
    for (uint32_t first = 0; first < frames; first += kTile)
    {
        const uint32_t count = frames - first < kTile ? frames - first : kTile;
        const uint32_t* tile[kTile];
        for (uint32_t j = 0; j < count; ++j)
            tile[j] = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(table[index + first + j]));
        for (int c = 0; c < copyInputCount_; ++c)
        {
            const int n = copyInputs_[c];
            int32_t* host = inputRegs_[n] + sampleOffset + first;
            for (uint32_t j = 0; j < count; ++j)
                host[j] = static_cast<int32_t>(__builtin_bswap32(tile[j][n]) << 8);
        }
    }
}

void DeviceStream::markNotRunning()
{
    if (shared_ != nullptr)
    {
        storeShared<int32_t>(shared_, shared::kPlaybackIndex, -1);
        storeShared<int32_t>(shared_, shared::kCaptureIndex, -1);
    }
}

void DeviceStream::clearRegisteredBuffers()
{
    for (int k = 0; k < kMaxChannels; ++k)
    {
        if (outputRegs_[k] != nullptr)
            std::memset(outputRegs_[k], 0, static_cast<size_t>(blockBufferSize_) * 2 * sizeof(int32_t));
        if (inputRegs_[k] != nullptr)
            std::memset(inputRegs_[k], 0, static_cast<size_t>(blockBufferSize_) * 2 * sizeof(int32_t));
    }
}

bool DeviceStream::start()
{
    markNotRunning();
    return device_->startStreaming();
}

bool DeviceStream::stop()
{
    return device_->stopStreaming();
}

void DeviceStream::release()
{
    if (!released_)
    {
        device_->close();
        released_ = true;
    }
    freeBuffers();
}

void DeviceStream::channelName(int listedDevices, char* text, size_t size, bool isInput, int channel) const
{
    if (text == nullptr || size == 0)
        return;
    char part[32];
    char group[16]; // the longest group name is "Headphones"
    if (isInput)
    {
        const int g = maps_.inputMapGroup(channel);
        if (g < 0)
        {
            std::snprintf(part, sizeof part, "Input %d", channel + 1);
        }
        else
        {
            maps_.inputGroupName(g, group, sizeof group);
            std::snprintf(part, sizeof part, "%s in %d", group, maps_.inputMapIndex(channel) + 1);
        }
    }
    else if (maps_.hasOutputRouting())
    {
        std::snprintf(part, sizeof part, "Playback %d", channel + 1);
    }
    else
    {
        const int g = maps_.outputMapGroup(channel);
        if (g < 0)
        {
            std::snprintf(part, sizeof part, "Output %d", channel + 1);
        }
        else
        {
            maps_.outputGroupName(g, group, sizeof group);
            std::snprintf(part, sizeof part, "%s out %d", group, maps_.outputMapIndex(channel) + 1);
        }
    }
    if (listedDevices >= 2)
        std::snprintf(text, size, "%s %s", device_->uniqueName(), part);
    else
        std::snprintf(text, size, "%s", part);
}

} // namespace asiodrv
