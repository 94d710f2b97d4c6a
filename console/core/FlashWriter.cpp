#include "console/core/FlashWriter.h"

#include "device/Vhw.h"
#include "platform/Time.h"

#include <algorithm>

namespace console
{
namespace
{

constexpr uint64_t kSmallBlockLimit = 0x10000;
constexpr uint64_t kSmallBlock = 8192;
constexpr uint64_t kLargeBlock = 65536;
constexpr int kReadyPollMs = 100;
// A request the device asks to repeat is sent again after this pause, not in a tight loop: the device
// is busy (or its bus is resetting), and hammering it only keeps the bus and the device's lock busy.
constexpr int kRetryPauseMs = 10;

uint32_t elapsedSince(uint32_t tick)
{
    return platform::getTickCount() - tick;
}

} // namespace

FlashWriter::FlashWriter(device::vhw& device, juce::Thread& thread, Listener* listener, Options options)
    : device_(device), thread_(thread), listener_(listener), options_(options)
{
}

bool FlashWriter::interrupted()
{
    return options_.interruptible && thread_.threadShouldExit();
}

int FlashWriter::fail(Failure failure, int code)
{
    failure_ = failure;
    return code;
}

void FlashWriter::pauseBeforeRetry()
{
    pause(kRetryPauseMs);
}

void FlashWriter::pause(int milliseconds)
{
    if (!platform::skipWaitOnManualClock(uint32_t(milliseconds)))
        thread_.wait(milliseconds);
}

void FlashWriter::stepDone(Step step, uint32_t quads)
{
    if (listener_ != nullptr)
        listener_->flashStepDone(step, quads);
}

template <class Io, class Check>
int FlashWriter::walkChunks(uint64_t address, uint64_t end, Failure ioFailure, Step step, Io io, Check check)
{
    uint64_t offset = 0;
    uint32_t lastChunk = platform::getTickCount();
    while (address < end)
    {
        if (interrupted())
            return fail(Failure::Interrupted, 1);
        if (elapsedSince(lastChunk) >= kStallMs)
            return fail(ioFailure, 1);
        const auto count = uint32_t(std::min<uint64_t>((end - address) / 4, kMaxChunk));
        const int result = io(uint32_t(address), count, offset);
        if (result < 0)
        {
            pauseBeforeRetry();
            continue;
        }
        if (result > 0)
            return fail(ioFailure, result);
        switch (check(count, offset))
        {
        case Verdict::StopDone:
            return 0;
        case Verdict::StopFailed:
            return 1;
        case Verdict::Next:
            break;
        }
        address += 4 * uint64_t(count);
        offset += count;
        lastChunk = platform::getTickCount();
        stepDone(step, count);
    }
    return 0;
}

int FlashWriter::compare(uint32_t address, const uint32_t* data, uint32_t quads, bool& identical)
{
    failure_ = Failure::None;
    identical = true;
    return walkChunks(
        address, address + 4 * uint64_t(quads), Failure::Read, Step::ChunkRead,
        [this](uint32_t at, uint32_t count, uint64_t) { return device_.flashRead(at, count, readBuffer_); },
        [this, data, &identical](uint32_t count, uint64_t offset)
        {
            if (std::equal(readBuffer_, readBuffer_ + count, data + offset))
                return Verdict::Next;
            identical = false;
            return Verdict::StopDone;
        });
}

int FlashWriter::erase(uint32_t address, uint32_t quads)
{
    failure_ = Failure::None;
    const uint64_t start = address;
    const uint64_t end = start + 4 * uint64_t(quads);
    uint64_t block = start;
    uint32_t lastBlock = platform::getTickCount();
    while (block < end)
    {
        if (interrupted())
            return fail(Failure::Interrupted, 1);
        if (elapsedSince(lastBlock) >= kStallMs)
            return fail(Failure::Erase, 1);
        const uint64_t size = block < kSmallBlockLimit ? kSmallBlock : kLargeBlock;
        block &= ~(size - 1);
        const int result = device_.flashErase(uint32_t(block));
        if (result < 0)
        {
            pauseBeforeRetry();
            continue;
        }
        if (result > 0)
            return fail(Failure::Erase, result);
        if (const int ready = waitReady(); ready != 0)
            return ready;
        stepDone(Step::BlockErased, uint32_t(size / 4));

        if (options_.checkErased)
        {
            // Blank where the region will go: a bit that stays 0 after an erase cannot be written to 1.
            const int checked = walkChunks(
                std::max(block, start), std::min(block + size, end), Failure::Read, Step::ChunkRead,
                [this](uint32_t at, uint32_t count, uint64_t)
                { return device_.flashRead(at, count, readBuffer_); },
                [this](uint32_t count, uint64_t)
                {
                    if (std::all_of(readBuffer_, readBuffer_ + count,
                                    [](uint32_t q) { return q == 0xFFFFFFFFu; }))
                        return Verdict::Next;
                    failure_ = Failure::NotBlank;
                    return Verdict::StopFailed;
                });
            if (checked != 0)
                return checked;
        }
        block += size;
        lastBlock = platform::getTickCount();
    }
    return 0;
}

int FlashWriter::waitReady()
{
    failure_ = Failure::None;
    const uint32_t start = platform::getTickCount();
    while (elapsedSince(start) < kStallMs)
    {
        bool ready = false;
        const int result = device_.flashGetStatus(ready);
        if (result > 0)
            return fail(Failure::Status, result);
        if (result == 0 && ready)
            return 0;
        pause(kReadyPollMs);
        if (interrupted())
            return fail(Failure::Interrupted, 1);
    }
    return fail(Failure::NotReady, 1);
}

int FlashWriter::write(uint32_t address, const uint32_t* data, uint32_t quads)
{
    failure_ = Failure::None;
    return walkChunks(
        address, address + 4 * uint64_t(quads), Failure::Write, Step::ChunkWritten,
        [this, data](uint32_t at, uint32_t count, uint64_t offset)
        { return device_.flashWrite(at, count, data + offset); },
        [](uint32_t, uint64_t) { return Verdict::Next; });
}

} // namespace console
