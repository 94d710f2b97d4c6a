#pragma once

// The hardware thread of a console window: it drains the window's SET queue, then its GET queue, each
// time it is woken, and carries out the device I/O of the queued controls. When the window closes it
// writes the state block to the device's flash if it changed (its size word last and only once the rest
// reads back right, so that a write cut short or damaged leaves no session), then tells the window it
// has finished.
//
// Threads and waits: the thread never waits on the message thread (the image is prepared for flash and
// the progress view created by stop(), on the message thread, before the thread is told to finish;
// the view is deleted through a posted message). Every device request and every flash stall is
// bounded, so waiting for the thread to end always ends: it is never killed.

#include "console/core/ConsoleState.h"
#include "console/core/FlashProgress.h"
#include "console/core/FlashWriter.h"
#include "console/core/HwCtrl.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace device
{
class vhw;
}

namespace console
{

// What the hardware thread needs of its console window.
class HwThreadHost
{
public:
    virtual ~HwThreadHost() = default;
    // Message thread: the view of the session's flash write (null = none).
    virtual std::unique_ptr<FlashProgress> createFlashProgress() = 0;
    // Hardware thread, its last act, only while the window is attached: the window may be deleted now
    // (the window posts its delete-window message to the application).
    virtual void hardwareThreadFinished() = 0;
};

class hwthread : public juce::Thread, public HwCtrlQueue, private FlashWriter::Listener
{
public:
    hwthread(HwThreadHost* window, ConsoleState& state, device::vhw& device);
    // Stops the thread (without writing flash unless stop() asked for it) and waits for it.
    ~hwthread() override;

    // Any thread: queue the control for a GET unless it is queued already, and wake the thread.
    void queueGet(HwCtrl& control) override;
    // Message thread: store the control's value into the image (every call), then queue it for a SET
    // unless it is queued already, and wake the thread.
    void queueSet(HwCtrl& control) override;
    // Message thread: store the control's value (as queueSet), then mark the channel dirty, then queue
    // the SET and wake the thread.
    void queueChange(HwCtrlBanked& control, int channel) override;
    // Any thread: queue the control for a SET without storing (retries, the next dirty channel, and a
    // loaded session, which the controls send as the image holds it). Each call counts a change of the
    // control, already queued or not.
    void requeueSet(HwCtrl& control) override;

    // Message thread: the window is closing. While the window is attached, the image gets its size,
    // version and CRC words; when it changed since it was read (and may be written), a progress view
    // appears and the thread writes it to flash after leaving its loop. Then the thread is told to
    // finish. Queued controls not yet taken stay undone (their values are in the image).
    void stop();
    // Message thread: detach the window (the application closes it itself): from now on nothing is
    // stored, drained or written to flash, and hardwareThreadFinished is not called.
    void clearWindow() { window_.store(nullptr); }
    HwThreadHost* getWindow() const { return window_.load(); }

    // Message thread: waits up to timeoutMs (-1 = until it ends) for the thread; true when it ended.
    bool waitForStop(int timeoutMs) { return waitForThreadToExit(timeoutMs); }

    // The lock of the queues, the queued flags, the SET counts and every dirty mask of the window's
    // controls. Never held across a device call or a control's operation.
    std::mutex& getQueueLock() override { return queueLock_; }

    device::vhw& getDevice() const override { return device_; }
    ConsoleState& getState() const override { return state_; }
    // The stored session's flash address, known after the final flash step fetched it.
    uint32_t getSessionBase() const { return sessionBase_.load(); }
    // The final flash step's progress view (message thread; null when none is shown).
    FlashProgress* getFlashProgress() const { return progress_.get(); }

private:
    void run() override;
    void drainSet();
    void drainGet();
    void saveSessionToFlash();
    // Erases the session block and writes the snapshot into it, again when it does not read back right;
    // returns the failure to show, or null.
    const char* storeSession(uint32_t base);
    // Writes the snapshot to the erased session block and reads it back, its size word last and only
    // when the rest reads back right; readBack tells whether everything did.
    int writeSession(uint32_t base, bool& readBack);
    void setFlashStatus(const char* text);
    void showFailure(const char* text);
    void flashStepDone(FlashWriter::Step step, uint32_t quads) override;

    // Deletes the progress view on the message thread once the flash step is over.
    class ProgressCloser : public juce::AsyncUpdater
    {
    public:
        explicit ProgressCloser(hwthread& owner) : owner_(owner) {}
        ~ProgressCloser() override { cancelPendingUpdate(); }

    private:
        void handleAsyncUpdate() override;
        hwthread& owner_;
    };

    std::atomic<HwThreadHost*> window_;
    ConsoleState& state_;
    device::vhw& device_;
    std::mutex queueLock_;
    HwCtrl* getHead_ = nullptr; // queues guarded by queueLock_
    HwCtrl* getTail_ = nullptr;
    HwCtrl* setHead_ = nullptr;
    HwCtrl* setTail_ = nullptr;
    bool stopRequested_ = false; // message thread
    std::atomic<bool> flashPending_{false};
    std::unique_ptr<FlashProgress> progress_; // made by stop(), used by the thread, reset by closer_
    // The session is written after the thread was told to finish: that request must not end the write.
    FlashWriter writer_{device_, *this, this, {.interruptible = false, .checkErased = false}};
    float flashProgress_ = 0.0f; // hardware thread
    std::atomic<uint32_t> sessionBase_{0};
    uint32_t snapshot_[ConsoleState::kImageQuads]; // the image as it goes to flash, taken by stop()
    ProgressCloser closer_{*this};
};

} // namespace console
