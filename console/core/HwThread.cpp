#include "console/core/HwThread.h"

#include "console/core/ConsoleState.h"
#include "device/Vhw.h"
#include "platform/Debug.h"
#include "platform/Time.h"

namespace console
{
namespace
{

constexpr float kProgressPerStep = 0.018181818f; // about one 55th: the erase blocks and the 54 writes
constexpr int kFailureShownMs = 1000;
constexpr uint32_t kErasedQuad = 0xFFFFFFFFu;
// How often the session block is written when it does not read back as written.
constexpr int kSessionWrites = 2;

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

void hwthread::queueChange(HwCtrlBanked& control, int channel)
{
    // Marked before it is stored, a channel could be taken and sent with its old value in between,
    // leaving nothing to send once the new one is stored.
    if (window_.load() != nullptr)
        control.storeToState(state_);
    control.markDirty(channel);
    requeueSet(control);
}

void hwthread::requeueSet(HwCtrl& control)
{
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        // Counted with the queueing: a read that found nothing queued began before this count.
        ++control.setsQueued_;
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
        progress_ = window->createFlashProgress();
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

void hwthread::setFlashStatus(const char* text)
{
    if (progress_ != nullptr)
        progress_->setStatus(text);
}

void hwthread::showFailure(const char* text)
{
    setFlashStatus(text);
    // Long enough to be read before the view goes.
    platform::sleepMs(kFailureShownMs);
}

void hwthread::flashStepDone(FlashWriter::Step step, uint32_t)
{
    // One step per erased block and per written chunk: about one 55th of the bar each.
    if (step == FlashWriter::Step::ChunkRead)
        return;
    flashProgress_ += kProgressPerStep;
    if (progress_ != nullptr)
        progress_->setProgress(flashProgress_);
}

void hwthread::saveSessionToFlash()
{
    flashProgress_ = 0.0f;
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
    else
        failure = storeSession(base);

    if (failure == nullptr && progress_ != nullptr)
    {
        progress_->setMinimumStep(0.0f);
        progress_->setProgress(1.0f);
    }
    platform::sleepMs(100);
    device_.flashLock(0);
    if (failure != nullptr)
        showFailure(failure);
    closer_.triggerAsyncUpdate();
}

const char* hwthread::storeSession(uint32_t base)
{
    // A worn cell can take a write without complaint and keep a wrong bit. The block becomes the session
    // only once it reads back as written; otherwise it is erased (programming only clears bits, so the
    // wrong bit cannot be written over) and written once more, and after a second mismatch it stays
    // without its size word: the unit starts on its factory session rather than on a damaged one.
    for (int attempt = 1;; ++attempt)
    {
        if (attempt > 1)
        {
            flashProgress_ = 0.0f;
            if (progress_ != nullptr)
                progress_->resetProgress();
        }
        setFlashStatus("erasing...");
        if (const int erased = writer_.erase(base, ConsoleState::kImageQuads); erased != 0)
        {
            platform::debugPrintf("Console - flash erase failed - rval %d", erased);
            return "Unable to erase flash memory";
        }
        setFlashStatus("writing...");
        if (progress_ != nullptr)
            progress_->setMinimumStep(0.2f);
        bool readBack = false;
        if (const int written = writeSession(base, readBack); written != 0)
        {
            if (writer_.getFailure() == FlashWriter::Failure::Read)
            {
                platform::debugPrintf("Console - flash read failed - rval %d", written);
                return "Unable to read flash memory";
            }
            platform::debugPrintf("Console - flash write failed - rval %d", written);
            return "Unable to write flash memory";
        }
        if (readBack)
            return nullptr;
        platform::debugPrintf("Console - flash does not read back as written (write %d of %d)", attempt,
                              kSessionWrites);
        if (attempt == kSessionWrites)
            return "Unable to write flash memory";
    }
}

int hwthread::writeSession(uint32_t base, bool& readBack)
{
    // The unit and the console take the block for a session only when its size word is right. Written
    // first, it would make a block cut short after it (the unit pulled, the console killed, a failing or
    // worn flash) a session of erased values: every gain +48 dB, phantom power on. So the block goes
    // with that quadlet left erased and is read back, and the quadlet alone goes last, once the rest
    // matches: programming only clears bits, so the erased quadlet can still take it. The bytes in flash
    // at the end are the image's.
    readBack = false;
    const uint32_t sizeWord = snapshot_[ConsoleState::kSizeWord];
    snapshot_[ConsoleState::kSizeWord] = kErasedQuad;
    int result = writer_.write(base, snapshot_, ConsoleState::kImageQuads);
    if (result == 0)
        result = writer_.compare(base, snapshot_, ConsoleState::kImageQuads, readBack);
    snapshot_[ConsoleState::kSizeWord] = sizeWord;
    const uint32_t sizeAddress = base + 4 * ConsoleState::kSizeWord;
    if (result == 0 && readBack)
        result = writer_.write(sizeAddress, &snapshot_[ConsoleState::kSizeWord], 1);
    if (result == 0 && readBack)
        result = writer_.compare(sizeAddress, &snapshot_[ConsoleState::kSizeWord], 1, readBack);
    return result;
}

void hwthread::ProgressCloser::handleAsyncUpdate()
{
    owner_.progress_.reset();
}

} // namespace console
