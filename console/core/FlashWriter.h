#pragma once

// Writing a region of the device's flash, as the firmware update and the hardware thread's session save
// both do it: erase every block the region covers (8 KB blocks below 0x10000, 64 KB above), wait after
// each erase until the flash is ready, and write the data in chunks of at most 64 quadlets; reading the
// flash back (compare, blank check) walks the same chunks. A request the device asks to repeat ("try
// again") is sent again after a 10 ms pause; a step that makes no progress for 2000 ms fails.
//
// Runs on the thread given at construction: its wait() makes the pauses (a notify() cuts one short) and,
// when the writer is interruptible, its exit request ends the operation. Time is the platform's tick
// count, so on a manual clock the pauses pass at once. Nothing is allocated.

#include <juce_core/juce_core.h>

#include <cstdint>

namespace device
{
class vhw;
}

namespace console
{

class FlashWriter
{
public:
    static constexpr uint32_t kStallMs = 2000;
    static constexpr uint32_t kMaxChunk = 64;

    // Where the last operation ended early.
    enum class Failure
    {
        None,
        Interrupted, // the thread was asked to stop
        Erase,       // an erase was refused, or no block was erased for kStallMs
        Status,      // the status request failed
        NotReady,    // the flash did not become ready within kStallMs
        Read,        // a read was refused or stalled
        NotBlank,    // an erased block does not read back blank
        Write        // a write was refused or stalled
    };

    // What the work has done, for the caller's progress display.
    enum class Step
    {
        BlockErased, // a block is erased and the flash ready again
        ChunkRead,   // a chunk was read (and matched, for a check)
        ChunkWritten
    };

    class Listener
    {
    public:
        virtual ~Listener() = default;
        // On the writer's thread; quads: the chunk's size (the block's for BlockErased).
        virtual void flashStepDone(Step step, uint32_t quads) = 0;
    };

    struct Options
    {
        bool interruptible = false; // the thread's exit request ends an operation
        bool checkErased = false;   // each erased block is read back where the region lies: all 1s
    };

    FlashWriter(device::vhw& device, juce::Thread& thread, Listener* listener, Options options);
    FlashWriter(const FlashWriter&) = delete;
    FlashWriter& operator=(const FlashWriter&) = delete;

    // Each operation returns 0, or the device's failure code (1 for a stall, a failed check or an
    // interruption) and leaves the reason in getFailure().

    // Compares quads quadlets of flash from address with data; identical turns false at the first
    // difference, which ends the comparison with 0.
    int compare(uint32_t address, const uint32_t* data, uint32_t quads, bool& identical);
    // Erases every block that [address, address + 4 x quads) overlaps, whatever the alignment.
    int erase(uint32_t address, uint32_t quads);
    // Polls the flash status every 100 ms until it is ready.
    int waitReady();
    // Writes quads quadlets of data from address.
    int write(uint32_t address, const uint32_t* data, uint32_t quads);

    Failure getFailure() const { return failure_; }

private:
    enum class Verdict
    {
        Next,
        StopDone,
        StopFailed
    };
    template <class Io, class Check>
    int walkChunks(uint64_t address, uint64_t end, Failure ioFailure, Step step, Io io, Check check);
    bool interrupted();
    int fail(Failure failure, int code);
    void pauseBeforeRetry();
    void pause(int milliseconds);
    void stepDone(Step step, uint32_t quads);

    device::vhw& device_;
    juce::Thread& thread_;
    Listener* listener_;
    const Options options_;
    Failure failure_ = Failure::None;
    uint32_t readBuffer_[kMaxChunk] = {};
};

} // namespace console
