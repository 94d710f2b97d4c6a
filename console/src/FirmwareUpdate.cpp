#include "console/FirmwareUpdate.h"

#include "console/ConsoleState.h"
#include "console/FlashProgressWindow.h"
#include "platform/MessageBox.h"
#include "platform/Time.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <string>

namespace console
{
namespace
{

constexpr uint32_t kMaxChunk = 64;
constexpr uint32_t kSmallBlockLimit = 0x10000;
constexpr uint32_t kSmallBlock = 8192;
constexpr uint32_t kLargeBlock = 65536;
constexpr int kReadyPollMs = 100;
// A request the device asks to repeat is sent again after this pause, not in a tight loop.
constexpr int kRetryPauseMs = 10;

const char* const kUnableToRead = "Unable to read flash memory";
const char* const kUnableToErase = "Unable to erase flash memory";
const char* const kUnableToWrite = "Unable to write flash memory";
const char* const kInterrupted = "Flash update interrupted";

std::mutex runningMutex;
std::set<std::string> runningUpdates; // device paths, guarded by runningMutex

// Marks a device's update as running for a scope.
class RunningUpdate
{
public:
    explicit RunningUpdate(const device::vhw& device) : path_(device.getDevicePath())
    {
        std::lock_guard<std::mutex> lock(runningMutex);
        runningUpdates.insert(path_);
    }
    ~RunningUpdate()
    {
        std::lock_guard<std::mutex> lock(runningMutex);
        runningUpdates.erase(path_);
    }
    RunningUpdate(const RunningUpdate&) = delete;
    RunningUpdate& operator=(const RunningUpdate&) = delete;

private:
    std::string path_;
};

uint32_t elapsedSince(uint32_t tick)
{
    return platform::getTickCount() - tick;
}

} // namespace

bool isFirmwareUpdateRunning(const device::vhw& device)
{
    std::lock_guard<std::mutex> lock(runningMutex);
    return runningUpdates.count(device.getDevicePath()) != 0;
}

FlashThread::FlashThread(device::vhw& device, FlashProgressWindow* window,
                         const juce::Array<juce::File>& files)
    : juce::Thread("FlashThread"), device_(&device), window_(window), files_(files)
{
}

FlashThread::~FlashThread()
{
    signalThreadShouldExit();
    notify();
    waitForThreadToExit(-1);
}

void FlashThread::run()
{
    const bool openedHere = !device_->isOpen();
    if (openedHere)
        device_->open();

    bool done = true;
    for (int i = 0; i < files_.size(); ++i)
    {
        showImageTitle(i);
        juce::MemoryBlock content;
        if (!files_[i].loadFileAsData(content))
            content.reset();
        if (!image_.parse(content.getData(), content.getSize(), files_[i].getFullPathName(), result_))
        {
            done = false;
            break;
        }
        header_ = image_.header();
        step_ = 1.0f / float(header_.quadCount);
        if (window_ != nullptr)
            window_->setDescription(image_.describe());
        if (flashImage() != 0)
        {
            done = false;
            break;
        }
    }
    if (done)
    {
        eraseSessionBlock();
        result_ = "Flash update complete.  Please turn your device off and back on to apply the update.";
    }

    closeProgressWindow();
    if (openedHere)
        device_->close();
}

void FlashThread::showImageTitle(int index)
{
    if (window_ != nullptr)
        window_->setTitle(juce::String(device_->getUniqueName()) +
                          juce::String::formatted(" - Updating image %d of %d", index + 1, files_.size()));
}

bool FlashThread::stopping()
{
    if (!threadShouldExit())
        return false;
    result_ = kInterrupted;
    return true;
}

void FlashThread::setStatus(const char* text)
{
    if (window_ != nullptr)
        window_->setStatus(text);
}

void FlashThread::resetPass()
{
    accumulated_ = 0.0f;
    if (window_ != nullptr)
        window_->resetProgress();
}

void FlashThread::advance(uint32_t quads)
{
    accumulated_ += step_ * float(quads);
    if (window_ != nullptr)
        window_->setProgress(accumulated_);
}

int FlashThread::flashImage()
{
    setStatus("reading...");
    bool identical = false;
    if (const int result = compareFlash(identical); result != 0)
        return result;
    if (identical)
        return 0;

    device_->flashLock(1);
    setStatus("erasing...");
    int result = eraseFlash(header_);
    if (result == 0)
    {
        setStatus("writing...");
        result = writeFlash();
    }
    // The lock is released whatever happened, so the device is not left locked.
    device_->flashLock(0);
    if (result != 0)
        return result;

    setStatus("verifying...");
    result = compareFlash(identical);
    if (window_ != nullptr)
    {
        window_->setMinimumStep(0.0f);
        window_->setProgress(1.0f);
    }
    sleep(100);
    if (result != 0)
        return result;
    if (!identical)
    {
        result_ = "Verification failed - flash memory does not match the image";
        return 1;
    }
    return 0;
}

template <class Io, class Check>
int FlashThread::walkChunks(uint64_t address, uint64_t end, const char* ioFailure, Io io, Check check)
{
    uint64_t offset = 0;
    uint32_t lastChunk = platform::getTickCount();
    while (address < end)
    {
        if (stopping())
            return 1;
        if (elapsedSince(lastChunk) >= kStallMs)
        {
            result_ = ioFailure;
            return 1;
        }
        const uint32_t count = uint32_t(std::min<uint64_t>((end - address) / 4, kMaxChunk));
        const int result = io(uint32_t(address), count, offset);
        if (result < 0)
        {
            wait(kRetryPauseMs);
            continue;
        }
        if (result > 0)
        {
            result_ = ioFailure;
            return result;
        }
        switch (check(count, offset))
        {
        case ChunkCheck::StopDone:
            return 0;
        case ChunkCheck::StopFailed:
            return 1;
        case ChunkCheck::Next:
            break;
        }
        address += 4 * uint64_t(count);
        offset += count;
        lastChunk = platform::getTickCount();
        advance(count);
    }
    return 0;
}

int FlashThread::compareFlash(bool& identical)
{
    identical = true;
    resetPass();
    const uint64_t start = header_.address;
    return walkChunks(
        start, start + 4 * uint64_t(header_.quadCount), kUnableToRead,
        [this](uint32_t address, uint32_t count, uint64_t)
        { return device_->flashRead(address, count, readBuffer_); },
        [this, &identical](uint32_t count, uint64_t offset)
        {
            if (std::equal(readBuffer_, readBuffer_ + count, image_.data() + offset))
                return ChunkCheck::Next;
            identical = false;
            return ChunkCheck::StopDone;
        });
}

int FlashThread::eraseFlash(const DatImageHeader& header)
{
    resetPass();
    // Every block the image overlaps, whatever its alignment; each block is checked blank where the
    // image will go.
    const uint64_t start = header.address;
    const uint64_t end = start + 4 * uint64_t(header.quadCount);
    uint64_t block = start;
    uint32_t lastBlock = platform::getTickCount();
    while (block < end)
    {
        if (stopping())
            return 1;
        if (elapsedSince(lastBlock) >= kStallMs)
        {
            result_ = kUnableToErase;
            return 1;
        }
        const uint64_t size = block < kSmallBlockLimit ? kSmallBlock : kLargeBlock;
        block &= ~(size - 1);
        const int result = device_->flashErase(uint32_t(block));
        if (result < 0)
        {
            wait(kRetryPauseMs);
            continue;
        }
        if (result > 0)
        {
            result_ = kUnableToErase;
            return result;
        }
        if (const int ready = waitFlashReady(); ready != 0)
            return ready;

        const int checked = walkChunks(
            std::max(block, start), std::min(block + size, end), kUnableToRead,
            [this](uint32_t address, uint32_t count, uint64_t)
            { return device_->flashRead(address, count, readBuffer_); },
            [this](uint32_t count, uint64_t)
            {
                if (std::all_of(readBuffer_, readBuffer_ + count,
                                [](uint32_t q) { return q == 0xFFFFFFFFu; }))
                    return ChunkCheck::Next;
                result_ = "Verification failed - unable to erase flash memory";
                return ChunkCheck::StopFailed;
            });
        if (checked != 0)
            return checked;
        block += size;
        lastBlock = platform::getTickCount();
    }
    return 0;
}

int FlashThread::waitFlashReady()
{
    const uint32_t start = platform::getTickCount();
    while (elapsedSince(start) < kStallMs)
    {
        bool ready = false;
        const int result = device_->flashGetStatus(ready);
        if (result > 0)
        {
            result_ = "Unable to get flash memory status";
            return result;
        }
        if (result == 0 && ready)
            return 0;
        wait(kReadyPollMs);
        if (stopping())
            return 1;
    }
    return 1;
}

int FlashThread::writeFlash()
{
    resetPass();
    const uint64_t start = header_.address;
    return walkChunks(
        start, start + 4 * uint64_t(header_.quadCount), kUnableToWrite,
        [this](uint32_t address, uint32_t count, uint64_t offset)
        { return device_->flashWrite(address, count, image_.data() + offset); },
        [](uint32_t, uint64_t) { return ChunkCheck::Next; });
}

void FlashThread::eraseSessionBlock()
{
    // The interface starts with its default mixer: every block of the stored session goes. Failures
    // here are not reported; the firmware is in place.
    uint32_t base = 0;
    if (device_->getSessionBase(base) != 0)
        return;
    DatImageHeader session{};
    session.address = base;
    session.quadCount = ConsoleState::kImageQuads;
    const juce::String kept = result_;
    eraseFlash(session);
    result_ = kept;
}

void FlashThread::closeProgressWindow()
{
    if (window_ != nullptr)
        window_->signalFinished();
}

bool checkFirmware(device::vhw& device, bool force, const juce::String& prompt)
{
    // A second check while this device's update runs (a re-arrival during the update's modal loop)
    // must neither ask again nor open a window.
    if (isFirmwareUpdateRunning(device))
        return false;

    const auto& caps = device.getCaps();
    uint32_t dsp = caps.getDspVersion();
    const uint32_t arm = caps.getArmVersion();
    const FirmwareEntry* entry = findFirmwareEntry(device);
    if (entry == nullptr)
        return true;

    juce::String text =
        prompt.isEmpty() ? juce::String("\nWould you like to update your firmware now?") : prompt;
    // Only units without a flash lock report a DSP version worth judging.
    if (!caps.hasNoFlashLock())
        dsp = entry->requiredVersion;
    const bool outOfDate = dsp < entry->requiredVersion || arm < entry->requiredVersion ||
                           (dsp & 0xF) == 0xE || (arm & 0xF) == 0xE;
    if (outOfDate)
        text = "\nThe firmware for this device is out of date.\n" + text;
    else if (!force)
        return true;

    if (platform::messageBox(device.getUniqueName(), text.toStdString(), platform::MB_YESNO) ==
        platform::IDYES)
        startFirmwareUpdate(device, *entry);
    return false;
}

juce::String startFirmwareUpdate(device::vhw& device, const FirmwareEntry& entry)
{
    juce::Array<juce::File> files;
    for (int i = 0; i < entry.imageCount; ++i)
    {
        const juce::File file = firmwareFilePath(entry.images[i], "dat");
        if (!file.existsAsFile())
        {
            const juce::String text = "Unable to locate file " + file.getFullPathName();
            platform::messageBox(device.getUniqueName(), text.toStdString(), platform::MB_OK);
            return text;
        }
        files.add(file);
    }

    RunningUpdate running(device);
    auto window = std::make_unique<FlashProgressWindow>(nullptr, true);
    auto thread = std::make_unique<FlashThread>(device, window.get(), files);
    thread->startThread();
    window->runModalLoopUntilFinished();
    window->setVisible(false);
    // The thread has signalled its end; only closing the device is left.
    thread->waitForThreadToExit(-1);
    const juce::String result = thread->getResultText();
    thread.reset();
    window.reset();
    platform::messageBox(device.getUniqueName(), result.toStdString(), platform::MB_OK);
    return result;
}

} // namespace console
