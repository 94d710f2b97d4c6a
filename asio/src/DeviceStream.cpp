#include "asio/DeviceStream.h"

#include "platform/Memory.h"
#include "platform/PerformanceCounter.h"

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

// A frame slot holds a host sample's upper 24 bits as a big-endian word whose upper byte is 0; capture
// ignores that byte. Each direction is one shift and one byte swap.
inline uint32_t toSlot(int32_t sample)
{
    return __builtin_bswap32(static_cast<uint32_t>(sample) >> 8);
}

inline int32_t fromSlot(uint32_t slot)
{
    return static_cast<int32_t>(__builtin_bswap32(slot) << 8);
}

// The copies move a tile of frames equally spaced in memory (stride slots apart) for a run of channels
// whose host buffers lie hostStride samples apart: a transposition, done in blocks of kLanes channels or
// frames. Each inner loop has a fixed count, so the compiler turns it into vector code, and where the
// processor has AVX2 that version is taken. A tile of kTile frames keeps what a block touches in the
// cache whatever the buffer size.
constexpr size_t kLanes = 8;
constexpr uint32_t kTile = 32;

// The AVX2 version is picked by a resolver that the loader runs while it relocates the program, before
// ThreadSanitizer's run-time is set up; instrumented, it crashes there, so a ThreadSanitizer build has
// the default version only.
#if defined(__SANITIZE_THREAD__)
#define STRELLIS_VECTOR_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define STRELLIS_VECTOR_CLONES
#endif
#endif
#ifndef STRELLIS_VECTOR_CLONES
#define STRELLIS_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// Host samples of `channels` channels, `frames` frames each, into the frames' slots.
STRELLIS_VECTOR_CLONES void copyToFrames(const int32_t* __restrict host, size_t hostStride,
                                         uint32_t* __restrict frame, size_t stride, size_t channels,
                                         size_t frames)
{
    size_t c = 0;
    for (; c + kLanes <= channels; c += kLanes)
        for (size_t j = 0; j < frames; ++j)
            for (size_t k = 0; k < kLanes; ++k)
                frame[j * stride + c + k] = toSlot(host[(c + k) * hostStride + j]);
    for (; c < channels; ++c)
        for (size_t j = 0; j < frames; ++j)
            frame[j * stride + c] = toSlot(host[c * hostStride + j]);
}

// The frames' slots of `channels` channels into their host samples.
STRELLIS_VECTOR_CLONES void copyFromFrames(const uint32_t* __restrict frame, size_t stride,
                                           int32_t* __restrict host, size_t hostStride, size_t channels,
                                           size_t frames)
{
    for (size_t c = 0; c < channels; ++c)
    {
        const uint32_t* const slots = frame + c;
        int32_t* const samples = host + c * hostStride;
        size_t j = 0;
        for (; j + kLanes <= frames; j += kLanes)
            for (size_t k = 0; k < kLanes; ++k)
                samples[j + k] = fromSlot(slots[(j + k) * stride]);
        for (; j < frames; ++j)
            samples[j] = fromSlot(slots[j * stride]);
    }
}

// Calls copy(first frame, its slots, stride in slots, frames) for the period's frames in runs of at most
// kTile whose addresses in the kernel driver's table go up by the same step: the table is read once per
// frame, not once per sample. A step below minStride slots (frames that would overlap in the channels
// copied) ends a run, so each frame is then copied on its own.
template <typename Copy>
void forEachRun(const uint64_t* table, int32_t index, uint32_t frames, size_t minStride, Copy copy)
{
    uint32_t j = 0;
    while (j < frames)
    {
        const uint64_t first = table[index + j];
        uint32_t count = 1;
        uint64_t step = 0;
        if (j + 1 < frames)
        {
            const uint64_t next = table[index + j + 1];
            if (next > first && (next - first) % sizeof(uint32_t) == 0 &&
                (next - first) / sizeof(uint32_t) >= minStride)
            {
                step = next - first;
                count = 2;
                while (count < kTile && j + count < frames &&
                       table[index + j + count] - table[index + j + count - 1] == step)
                    ++count;
            }
        }
        copy(j, reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(first)), step / sizeof(uint32_t), count);
        j += count;
    }
}

} // namespace

DeviceStream::DeviceStream(vhw* device) : device_(device)
{
    device_->open();
    outputCount_ = unitChannels(device_->caps(), false);
    inputCount_ = unitChannels(device_->caps(), true);
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
    // The copies touch these buffers every period: they stay resident (where the system allows).
    platform::lockMemory(block_.get(), samples * sizeof(int32_t));
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
    if (block_ != nullptr)
        platform::unlockMemory(block_.get(), blockSamples() * sizeof(int32_t));
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
    // Registered channels in runs of consecutive numbers whose buffers follow each other in the block.
    auto build = [this](int32_t* const* regs, ChannelRun* runs, int& runCount, size_t& slots)
    {
        runCount = 0;
        slots = 0;
        const size_t hostStride = static_cast<size_t>(blockBufferSize_) * 2;
        for (int k = 0; k < kMaxChannels; ++k)
        {
            if (regs[k] == nullptr)
                continue;
            ChannelRun* last = runCount > 0 ? &runs[runCount - 1] : nullptr;
            if (last != nullptr && last->first + last->count == k &&
                regs[k] == regs[last->first] + static_cast<size_t>(last->count) * hostStride)
                ++last->count;
            else
                runs[runCount++] = ChannelRun{k, 1};
            slots = static_cast<size_t>(k) + 1;
        }
    };
    build(outputRegs_, outputRuns_, outputRunCount_, outputSlots_);
    build(inputRegs_, inputRuns_, inputRunCount_, inputSlots_);
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
    if (table != nullptr && outputRunCount_ > 0)
    {
        const size_t hostStride = static_cast<size_t>(blockBufferSize_) * 2;
        forEachRun(table, index, frames, outputSlots_,
                   [&](uint32_t first, uint32_t* frame, size_t stride, uint32_t count)
                   {
                       for (int r = 0; r < outputRunCount_; ++r)
                       {
                           const ChannelRun& run = outputRuns_[r];
                           copyToFrames(outputRegs_[run.first] + sampleOffset + first, hostStride,
                                        frame + run.first, stride, static_cast<size_t>(run.count), count);
                       }
                   });
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
    if (table == nullptr || inputRunCount_ == 0)
        return;
    const size_t hostStride = static_cast<size_t>(blockBufferSize_) * 2;
    forEachRun(table, index, frames, inputSlots_,
               [&](uint32_t first, const uint32_t* frame, size_t stride, uint32_t count)
               {
                   for (int r = 0; r < inputRunCount_; ++r)
                   {
                       const ChannelRun& run = inputRuns_[r];
                       copyFromFrames(frame + run.first, stride, inputRegs_[run.first] + sampleOffset + first,
                                      hostStride, static_cast<size_t>(run.count), count);
                   }
               });
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

uint32_t DeviceStream::completedCount() const
{
    return shared_ != nullptr ? loadShared<uint32_t>(shared_, shared::kCompletedBuffers) : 0;
}

int64_t DeviceStream::captureTime() const
{
    return shared_ != nullptr ? loadShared<int64_t>(shared_, shared::kCaptureTime) : 0;
}

bool DeviceStream::streamsAt(uint32_t samples) const
{
    return shared_ != nullptr && loadShared<uint32_t>(shared_, shared::kCaptureFrames) == samples &&
           loadShared<uint32_t>(shared_, shared::kPlaybackFrames) == samples;
}

void DeviceStream::restartWatch(uint32_t rate)
{
    watchedCount_ = completedCount();
    stillPeriods_ = 0;
    missedLooks_ = 0;
    watchedRate_ = rate;
}

bool DeviceStream::rateChanged(uint32_t rate)
{
    if (rate == watchedRate_)
        return false;
    watchedRate_ = rate;
    return true;
}

bool DeviceStream::stalled(uint32_t limit)
{
    if (shared_ == nullptr)
        return false;
    const uint32_t count = completedCount();
    if (count != watchedCount_)
    {
        watchedCount_ = count;
        stillPeriods_ = 0;
        return false;
    }
    if (++stillPeriods_ < limit)
        return false;
    stillPeriods_ = 0;
    return true;
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

void DeviceStream::channelName(int ownUnits, char* text, size_t size, bool isInput, int channel) const
{
    asiodrv::channelName(maps_, device_->uniqueName(), ownUnits >= 2, isInput, channel, text, size);
}

} // namespace asiodrv
