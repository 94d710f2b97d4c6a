#pragma once

// The streaming object of one kept interface: it holds the device open, owns the host's double buffers for
// the interface's channels, knows which are registered for copying, moves samples between them and the
// kernel driver's frames in the block shared with it, and names the channels.

#include "asio/DeviceAccess.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace asiodrv
{

// Offsets of the fields of the block shared with the kernel driver that this driver uses.
namespace shared
{
inline constexpr size_t kCompletedBuffers = 0; // u32, raised by the kernel driver each period
inline constexpr size_t kTimeBeforeInput = 8;  // i64, written before the input copy
inline constexpr size_t kTimeAfterOutput = 40; // i64, written after the output copy
inline constexpr size_t kPlaybackTable = 56;   // u64, address of the playback frame-pointer table
inline constexpr size_t kPlaybackFrames = 76;  // u32, playback frames per period
inline constexpr size_t kPlaybackIndex = 80;   // i32, first table entry of the period; < 0 = not running
inline constexpr size_t kCaptureTable = 344;   // u64, address of the capture frame-pointer table
inline constexpr size_t kCaptureTime = 352;    // i64, capture time stamp
inline constexpr size_t kCaptureFrames = 364;  // u32, capture frames per period
inline constexpr size_t kCaptureIndex = 368;   // i32, first table entry of the period; < 0 = not running
inline constexpr size_t kMinimumSize = 376;
} // namespace shared

class DeviceStream
{
public:
    // Largest buffer size (samples per half) a block is made for; anything larger is refused as absurd.
    static constexpr uint32_t kMaxBufferSize = 1u << 16;

    // Opens the device (it stays open for the object's life), takes the channel counts (at most 64 each)
    // and builds the channel maps.
    explicit DeviceStream(vhw* device);
    ~DeviceStream();
    DeviceStream(const DeviceStream&) = delete;
    DeviceStream& operator=(const DeviceStream&) = delete;

    vhw* device() const { return device_; }
    int outputCount() const { return outputCount_; }
    int inputCount() const { return inputCount_; }

    void setBufferSize(uint32_t samples) { bufferSize_ = samples; }
    uint32_t bufferSize() const { return bufferSize_; }

    // One zeroed block of (outputs + inputs) double buffers of the stored size; false when the size is
    // absurd or memory is short.
    bool allocateBuffers();
    void freeBuffers();

    // Channel k's double buffer (two halves of bufferSize samples), or null. An output is registered for
    // copying only when asked (its claim succeeded); an input always is.
    int32_t* outputBuffer(int k, bool registerForCopy);
    int32_t* inputBuffer(int k);

    // The block shared with the kernel driver while streaming is open (null closes).
    void setSharedBlock(void* block);
    void* sharedBlock() const { return shared_; }
    bool isStreamingOpen() const { return shared_ != nullptr; }

    // Read from the shared block while streaming is open: the kernel driver's completed-period count
    // (raised after each period's frames and time stamp are in place), the capture time stamp, and
    // whether both directions run `samples` frames a period.
    uint32_t completedCount() const;
    int64_t captureTime() const;
    bool streamsAt(uint32_t samples) const;

    // The copies of one period: host samples from sampleOffset (half × buffer size) on to the kernel
    // driver's playback frames, and capture frames to the host. They take no lock and allocate nothing.
    void writeOutputs(uint32_t sampleOffset);
    void readInputs(uint32_t sampleOffset);

    // Marks both frame indexes as not running (no copy until the kernel driver's first period).
    void markNotRunning();
    // Zeroes both halves of every registered buffer.
    void clearRegisteredBuffers();

    // The streaming thread's watch on this unit, restarted with the driver's rate before the thread
    // starts. stalled, looked at once per period served, tells a unit pulled out while another unit's
    // periods go on: true when the kernel driver's completed count stood still for `limit` periods in a
    // row, and the count of still periods begins again. The thread's looks at the unit count the ones
    // that got no answer in a row (an answer ends the run), and rateChanged keeps the rate an answer
    // gave: true when it differs from the one seen before.
    void restartWatch(uint32_t rate);
    bool stalled(uint32_t limit);
    uint32_t lookMissed() { return ++missedLooks_; }
    void lookAnswered() { missedLooks_ = 0; }
    bool rateChanged(uint32_t rate);

    // Marks both frame indexes as not running, then starts the device streaming.
    bool start();
    bool stop();

    // Closes the device and frees the buffers.
    void release();

    // "Analog in 1", "ADAT B in 2", "S/PDIF out 1", "Playback 3"; while the driver keeps two or more
    // units, the unit's name comes first (asiodrv::channelName).
    void channelName(int ownUnits, char* text, size_t size, bool isInput, int channel) const;

private:
    void rebuildCopyLists();
    size_t blockSamples() const
    {
        return static_cast<size_t>(outputCount_ + inputCount_) * blockBufferSize_ * 2;
    }

    vhw* device_;
    int outputCount_ = 0;
    int inputCount_ = 0;
    std::unique_ptr<int32_t[]> block_;
    int32_t* outputRegs_[kMaxChannels] = {};
    int32_t* inputRegs_[kMaxChannels] = {};
    // The registered channels for the copy loops: runs of consecutive channels, and the slots of a frame
    // they reach (the highest channel + 1).
    struct ChannelRun
    {
        int first;
        int count;
    };
    ChannelRun outputRuns_[kMaxChannels] = {};
    int outputRunCount_ = 0;
    size_t outputSlots_ = 0;
    ChannelRun inputRuns_[kMaxChannels] = {};
    int inputRunCount_ = 0;
    size_t inputSlots_ = 0;
    uint8_t* shared_ = nullptr;
    uint32_t bufferSize_ = 0;
    uint32_t blockBufferSize_ = 0;
    ChannelMaps maps_;
    bool released_ = false;
    // The watch: the streaming thread's own, and the starting thread's before the thread starts.
    uint32_t watchedCount_ = 0;
    uint32_t stillPeriods_ = 0;
    uint32_t missedLooks_ = 0;
    uint32_t watchedRate_ = 0;
};

} // namespace asiodrv
