#pragma once

// The device-bound controls of a console window. Every control whose value lives in the device is an
// HwCtrl: a change on screen stores the value into the state block and queues the control for a SET on
// the window's hardware thread; polls and failed reads queue it for a GET. The thread calls the
// control's device operations; their results reach the screen only through the control's component's
// handleCommandMessage(0), on the message thread.

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace device
{
class vhw;
}

namespace console
{

class ConsoleState;
class HwCtrl;
class HwCtrlBanked;

// What the controls need of the hardware thread that serves them (hwthread): its queues with their lock,
// and the device and state it works on.
class HwCtrlQueue
{
public:
    // Any thread: queue the control for a GET unless it is queued already, and wake the thread.
    virtual void queueGet(HwCtrl& control) = 0;
    // Message thread: store the control's value into the image, then queue it for a SET.
    virtual void queueSet(HwCtrl& control) = 0;
    // Message thread, a change on screen of a banked control's channel: store the control's value into
    // the image, then mark the channel dirty, then queue the SET. In this order: the thread may take a
    // marked channel at any moment and sends what the image holds then.
    virtual void queueChange(HwCtrlBanked& control, int channel) = 0;
    // Any thread: queue the control for a SET without storing. Every SET queued, by this or queueSet,
    // counts as a change of the control (HwCtrl::getChangeCount).
    virtual void requeueSet(HwCtrl& control) = 0;
    // The lock of the queues, the queued flags, the SET counts and every dirty mask of the window's
    // controls.
    virtual std::mutex& getQueueLock() = 0;
    virtual device::vhw& getDevice() const = 0;
    virtual ConsoleState& getState() const = 0;

protected:
    ~HwCtrlQueue() = default;
};

// The list of every device-bound control of one window, newest first, with the window's hardware
// thread. Message thread.
class HwCtrlList
{
public:
    explicit HwCtrlList(HwCtrlQueue& thread) : thread_(thread) {}
    HwCtrlList(const HwCtrlList&) = delete;
    HwCtrlList& operator=(const HwCtrlList&) = delete;

    HwCtrlQueue& getHwThread() const { return thread_; }
    HwCtrl* getFirst() const { return head_; }

    // Pushes the control at the head (every HwCtrl does it when constructed) and takes it out again.
    void registerControl(HwCtrl& control);
    void unregisterControl(HwCtrl& control);

private:
    HwCtrlQueue& thread_;
    HwCtrl* head_ = nullptr;
};

class HwCtrl
{
public:
    // Joins the list; the list's hardware thread becomes the control's.
    explicit HwCtrl(HwCtrlList& list);
    // The hardware thread must have stopped, or must never run this control again.
    virtual ~HwCtrl();
    HwCtrl(const HwCtrl&) = delete;
    HwCtrl& operator=(const HwCtrl&) = delete;

    // Hardware thread: read the value from the device and report with handleGetResult. A value read
    // is kept in the control (never stored into the image or a widget from this thread).
    virtual void readFromDevice() = 0;
    // Hardware thread: send what the image holds and report with handleSetResult.
    virtual void writeToDevice() = 0;
    // Message thread: take the value from the image without notifying listeners; with send (a session
    // load), prepare everything for sending: a banked control marks every channel it keeps, shown or
    // not (every solo of the session, not only those on screen). The caller then queues the SET
    // without storing, so the image is sent as it was loaded.
    virtual void loadFromState(ConsoleState& state, bool send) = 0;
    // Message thread: write the control's current value into the image.
    virtual void storeToState(ConsoleState& state) = 0;
    // Message thread: set the default, store it and show it (the caller then queues the SET).
    virtual void resetToDefault() = 0;

    // Hardware thread. 0: component's handleCommandMessage(0) follows on the message thread (several
    // results before it runs give one call); negative: a debug line, 60 ms pause, GET queued again;
    // positive: a debug line, dropped. The component must live as long as the control.
    void handleGetResult(int rval, juce::Component* component);
    // Hardware thread. 0: nothing; negative: a debug line, 60 ms pause, SET queued again; positive: a
    // debug line, dropped (the image keeps the value the user set).
    void handleSetResult(int rval);

    HwCtrl* getNextInList() const { return listNext_; }
    HwCtrlQueue& getHwThread() const { return thread_; }

    // Any thread: the changes of the control so far (wrapping), against which a device read is checked
    // (DeviceRead). Here every SET queued counts (a click, a session load, a reset, a retry), in the same
    // step under the queue lock as it is queued, so the thread cannot take a SET whose change is not
    // counted yet.
    virtual uint32_t getChangeCount() const;
    // Hardware thread, before a read (channel is for controls that have channels): false while the
    // device still holds a value that a change replaces, here while a SET is queued that the thread has
    // not taken yet; otherwise true, with the change count, in one step under the queue lock.
    virtual bool mayRead(int channel, uint32_t& changeCount) const;

private:
    friend class hwthread;
    friend class HwCtrlList;

    // Delivers read results to the message thread without allocating.
    class ResultNotifier : public juce::AsyncUpdater
    {
    public:
        ~ResultNotifier() override { cancelPendingUpdate(); }
        void post(juce::Component* component);

    private:
        void handleAsyncUpdate() override;
        std::atomic<juce::Component*> target_{nullptr};
    };

    HwCtrl* getNext_ = nullptr; // the queue links and flags are guarded by the thread's queue lock
    HwCtrl* setNext_ = nullptr;
    HwCtrl* listNext_ = nullptr; // message thread
    bool setQueued_ = false;
    bool getQueued_ = false;
    uint32_t setsQueued_ = 0; // guarded by the thread's queue lock
    HwCtrlQueue& thread_;
    HwCtrlList& list_;
    ResultNotifier notifier_;
};

// A control that shows one of several channels (or mixes) at a time: a dirty mask says which channels
// still have to be sent, and each SET turn sends one of them.
class HwCtrlBanked : public HwCtrl
{
public:
    using HwCtrl::HwCtrl;

    // Any thread; channels 0 to 63. Each mark counts as a change of the control (getChangeCount).
    void markDirty(int channel);
    // For channel = first, first + step, ... below end.
    void markDirtyRange(int first, int end, int step);
    // The lowest dirty channel, cleared; -1 when none.
    int nextDirty();
    uint64_t getDirtyMask() const;

    // Any thread: the marks made so far (wrapping). Whatever the control gives the device to take (a
    // move, a click, a load with send, a reset) is marked, so a device read begun before the latest mark
    // may undo it. The SETs a banked control queues (one per channel sent) are not counted.
    uint32_t getChangeCount() const override;
    // Hardware thread, before a read of channel: false while the channel is dirty (the device still
    // holds the value its change replaces, and the thread has yet to send it); otherwise true, with the
    // change count, in one step under the queue lock.
    bool mayRead(int channel, uint32_t& changeCount) const override;

    // Hardware thread, after sending channel: a "try again" marks the channel dirty again before the
    // retry; then, while channels are dirty, the control is queued for the next one.
    void handleBankedSetResult(int channel, int rval);

private:
    uint64_t dirty_ = 0;   // guarded by the thread's queue lock
    uint32_t changes_ = 0; // guarded by the thread's queue lock
};

} // namespace console
