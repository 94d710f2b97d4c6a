#include "console/HwThread.h"

#include "console/ConsoleState.h"
#include "console/FlashProgressWindow.h"
#include "device/Vhw.h"
#include "platform/Debug.h"
#include "platform/Time.h"

#include <algorithm>

namespace console
{
namespace
{

constexpr uint32_t kStallMs = 2000;
constexpr uint32_t kReadyPollMs = 100;
constexpr uint32_t kSmallBlockLimit = 0x10000;
constexpr uint32_t kSmallBlock = 8192;
constexpr uint32_t kLargeBlock = 65536;
constexpr uint32_t kMaxChunk = 64;
constexpr float kProgressPerStep = 0.018181818f; // about one 55th: the erase blocks and the 53 writes
constexpr int kFailureShownMs = 1000;

} // namespace

hwthread::hwthread(HwThreadHost* window, ConsoleState& state, device::vhw& device)
    : juce::Thread("hwthread"), window_(window), state_(state), device_(device)
{
}

hwthread::~hwthread()
{
    clearWindow();
    signalThreadShouldExit();
    notify();
    waitForThreadToExit(-1);
}

void hwthread::queueGet(HwCtrl& control)
{
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        if (!control.getQueued_)
        {
            control.getNext_ = nullptr;
            if (getTail_ != nullptr)
                getTail_->getNext_ = &control;
            else
                getHead_ = &control;
            getTail_ = &control;
            control.getQueued_ = true;
        }
    }
    notify();
}

void hwthread::queueSet(HwCtrl& control)
{
    if (window_.load() != nullptr)
        control.storeToState(state_);
    requeueSet(control);
}

void hwthread::requeueSet(HwCtrl& control)
{
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        if (!control.setQueued_)
        {
            control.setNext_ = nullptr;
            if (setTail_ != nullptr)
                setTail_->setNext_ = &control;
            else
                setHead_ = &control;
            setTail_ = &control;
            control.setQueued_ = true;
        }
    }
    notify();
}

void hwthread::stop()
{
    if (stopRequested_)
        return;
    stopRequested_ = true;
    if (HwThreadHost* window = window_.load(); window != nullptr && state_.prepareFlashSave(snapshot_))
    {
        progress_ = std::make_unique<FlashProgressWindow>(window->getProgressAnchor(), false);
        flashPending_.store(true);
    }
    signalThreadShouldExit();
    notify();
}

void hwthread::run()
{
    while (!threadShouldExit())
    {
        wait(-1);
        drainSet();
        drainGet();
    }
    if (flashPending_.load())
        saveSessionToFlash();
    if (HwThreadHost* window = window_.load())
        window->hardwareThreadFinished();
}

void hwthread::drainSet()
{
    while (!threadShouldExit() && window_.load() != nullptr)
    {
        HwCtrl* control;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            control = setHead_;
            if (control == nullptr)
                return;
            setHead_ = control->setNext_;
            if (setHead_ == nullptr)
                setTail_ = nullptr;
            control->setNext_ = nullptr;
            control->setQueued_ = false;
        }
        control->writeToDevice();
    }
}

void hwthread::drainGet()
{
    while (!threadShouldExit() && window_.load() != nullptr)
    {
        HwCtrl* control;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            control = getHead_;
            if (control == nullptr)
                return;
            getHead_ = control->getNext_;
            if (getHead_ == nullptr)
                getTail_ = nullptr;
            control->getNext_ = nullptr;
            control->getQueued_ = false;
        }
        control->readFromDevice();
    }
}

void hwthread::showProgress(float progress)
{
    if (progress_ != nullptr)
        progress_->setProgress(progress);
}

void hwthread::showFailure(const char* text)
{
    if (progress_ != nullptr)
        progress_->setStatus(text);
    // Long enough to be read before the window goes.
    sleep(kFailureShownMs);
}

void hwthread::saveSessionToFlash()
{
    float progress = 0.0f;
    uint32_t base = 0;
    if (const int result = device_.getSessionBase(base); result != 0)
    {
        platform::debugPrintf("Console - unable to read session base address - rval %d", result);
        showFailure("Unable to read session base address");
        closer_.triggerAsyncUpdate();
        return;
    }
    sessionBase_.store(base);

    const char* failure = nullptr;
    if (const int result = device_.flashLock(1); result != 0)
    {
        platform::debugPrintf("Console - flash lock failed - rval %d", result);
        failure = "Unable to lock flash memory";
    }
    else if (const int erased = eraseSessionArea(progress); erased != 0)
    {
        platform::debugPrintf("Console - flash erase failed - rval %d", erased);
        failure = "Unable to erase flash memory";
    }
    else if (const int written = writeSessionArea(progress); written != 0)
    {
        platform::debugPrintf("Console - flash write failed - rval %d", written);
        failure = "Unable to write flash memory";
    }

    if (failure == nullptr && progress_ != nullptr)
    {
        progress_->setMinimumStep(0.0f);
        progress_->setProgress(1.0f);
    }
    sleep(100);
    device_.flashLock(0);
    if (failure != nullptr)
        showFailure(failure);
    closer_.triggerAsyncUpdate();
}

int hwthread::eraseSessionArea(float& progress)
{
    if (progress_ != nullptr)
        progress_->setStatus("erasing...");
    const uint32_t base = sessionBase_.load();
    // Every block the session touches, whatever the base's alignment.
    const uint64_t end = uint64_t(base) + ConsoleState::kImageBytes;
    uint64_t address = base;
    uint32_t lastProgress = platform::getTickCount();
    while (address < end)
    {
        if (platform::getTickCount() - lastProgress >= kStallMs)
            return 1;
        const uint64_t block = address < kSmallBlockLimit ? kSmallBlock : kLargeBlock;
        address &= ~(block - 1);
        const int result = device_.flashErase(uint32_t(address));
        if (result < 0)
            continue;
        if (result > 0)
            return result;
        if (const int ready = waitFlashReady(); ready != 0)
            return ready;
        progress += kProgressPerStep;
        showProgress(progress);
        address += block;
        lastProgress = platform::getTickCount();
    }
    return 0;
}

int hwthread::writeSessionArea(float& progress)
{
    if (progress_ != nullptr)
    {
        progress_->setStatus("writing...");
        progress_->setMinimumStep(0.2f);
    }
    uint32_t address = sessionBase_.load();
    const uint32_t* source = snapshot_;
    uint32_t remaining = ConsoleState::kImageQuads;
    uint32_t lastProgress = platform::getTickCount();
    while (remaining > 0)
    {
        if (platform::getTickCount() - lastProgress >= kStallMs)
            return 1;
        const uint32_t count = std::min(remaining, kMaxChunk);
        const int result = device_.flashWrite(address, count, source);
        if (result < 0)
            continue;
        if (result > 0)
            return result;
        progress += kProgressPerStep;
        showProgress(progress);
        remaining -= count;
        address += 4 * count;
        source += count;
        lastProgress = platform::getTickCount();
    }
    return 0;
}

int hwthread::waitFlashReady()
{
    const uint32_t start = platform::getTickCount();
    for (;;)
    {
        bool ready = false;
        const int result = device_.flashGetStatus(ready);
        if (result > 0)
            return result;
        if (result == 0 && ready)
            return 0;
        wait(int(kReadyPollMs));
        if (platform::getTickCount() - start >= kStallMs)
            return 1;
    }
}

void hwthread::ProgressCloser::handleAsyncUpdate()
{
    owner_.progress_.reset();
}

} // namespace console
