#include "console/core/HwCtrl.h"

#include "platform/Debug.h"
#include "platform/Time.h"

#include <algorithm>

namespace console
{
namespace
{

constexpr int kRetryPauseMs = 60;

} // namespace

void HwCtrlList::registerControl(HwCtrl& control)
{
    control.listNext_ = head_;
    head_ = &control;
}

void HwCtrlList::unregisterControl(HwCtrl& control)
{
    for (HwCtrl** link = &head_; *link != nullptr; link = &(*link)->listNext_)
    {
        if (*link == &control)
        {
            *link = control.listNext_;
            control.listNext_ = nullptr;
            return;
        }
    }
}

HwCtrl::HwCtrl(HwCtrlList& list) : thread_(list.getHwThread()), list_(list)
{
    list.registerControl(*this);
}

HwCtrl::~HwCtrl()
{
    list_.unregisterControl(*this);
}

uint32_t HwCtrl::getChangeCount() const
{
    std::lock_guard<std::mutex> lock(thread_.getQueueLock());
    return setsQueued_;
}

bool HwCtrl::mayRead(int, uint32_t& changeCount) const
{
    std::lock_guard<std::mutex> lock(thread_.getQueueLock());
    if (setQueued_)
        return false;
    changeCount = setsQueued_;
    return true;
}

void HwCtrl::ResultNotifier::post(juce::Component* component)
{
    target_.store(component);
    triggerAsyncUpdate();
}

void HwCtrl::ResultNotifier::handleAsyncUpdate()
{
    if (juce::Component* component = target_.load())
        component->handleCommandMessage(0);
}

void HwCtrl::handleGetResult(int rval, juce::Component* component)
{
    if (rval == 0)
    {
        if (component != nullptr)
            notifier_.post(component);
        return;
    }
    if (rval < 0)
    {
        platform::debugPrintf("Console - get rval is %d - sleeping", rval);
        platform::sleepMs(kRetryPauseMs);
        thread_.queueGet(*this);
        return;
    }
    platform::debugPrintf("Console - hard error for get - rval %d", rval);
}

void HwCtrl::handleSetResult(int rval)
{
    if (rval == 0)
        return;
    if (rval < 0)
    {
        platform::debugPrintf("Console - set rval is %d - sleeping", rval);
        platform::sleepMs(kRetryPauseMs);
        thread_.requeueSet(*this);
        return;
    }
    platform::debugPrintf("Console - hard error for set - rval %d", rval);
}

void HwCtrlBanked::markDirty(int channel)
{
    if (channel < 0 || channel >= 64)
        return;
    std::lock_guard<std::mutex> lock(getHwThread().getQueueLock());
    dirty_ |= uint64_t(1) << channel;
    ++changes_;
}

void HwCtrlBanked::markDirtyRange(int first, int end, int step)
{
    if (step <= 0)
        return;
    for (int channel = std::max(first, 0); channel < end && channel < 64; channel += step)
        markDirty(channel);
}

int HwCtrlBanked::nextDirty()
{
    std::lock_guard<std::mutex> lock(getHwThread().getQueueLock());
    if (dirty_ == 0)
        return -1;
    const int channel = __builtin_ctzll(dirty_);
    dirty_ &= dirty_ - 1;
    return channel;
}

uint64_t HwCtrlBanked::getDirtyMask() const
{
    std::lock_guard<std::mutex> lock(getHwThread().getQueueLock());
    return dirty_;
}

uint32_t HwCtrlBanked::getChangeCount() const
{
    std::lock_guard<std::mutex> lock(getHwThread().getQueueLock());
    return changes_;
}

bool HwCtrlBanked::mayRead(int channel, uint32_t& changeCount) const
{
    std::lock_guard<std::mutex> lock(getHwThread().getQueueLock());
    if (channel >= 0 && channel < 64 && (dirty_ >> channel & 1) != 0)
        return false;
    changeCount = changes_;
    return true;
}

void HwCtrlBanked::handleBankedSetResult(int channel, int rval)
{
    // The channel must be dirty again before the retry is queued, or the retry would find nothing to
    // send.
    if (rval < 0)
        markDirty(channel);
    handleSetResult(rval);
    if (getDirtyMask() != 0)
        getHwThread().requeueSet(*this);
}

} // namespace console
