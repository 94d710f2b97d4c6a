#include "console/ui/settings/SampleRate.h"

#include "console/core/ConsoleState.h"
#include "console/ui/settings/SettingsPageHost.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "device/Vhw.h"

namespace console
{
namespace
{

constexpr int kGroupWidth = 200;
constexpr int kRowPitch = 28;
constexpr int kFirstRowY = 25;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 22;
constexpr int kDisplayHeight = 60;

} // namespace

juce::String formatSampleRate(int rate)
{
    if (rate % 1000 == 0)
        return juce::String(rate / 1000) + " kHz";
    return juce::String(rate / 1000) + "." + juce::String((rate % 1000) / 100) + " kHz";
}

// --- StSampleRateLock ---

StSampleRateLock::StSampleRateLock(ConsoleContext& content)
    : juce::ToggleButton("Locked"), HwCtrl(*content.getControls()), content_(content)
{
    content.getHwThread()->queueGet(*this);
}

void StSampleRateLock::readFromDevice()
{
    // Not while a click's lock is on its way: the driver's is about to change.
    uint32_t generation = 0;
    if (!read_.begin(0, generation))
        return;
    bool locked = false;
    const int result = content_.getDevice().isSampleRateLocked(locked);
    if (result == 0)
        read_.put(0, int32_t(locked ? 1 : 0), generation);
    handleGetResult(result, this);
}

void StSampleRateLock::writeToDevice()
{
    // A session load or "Reset" sends the lock again, but only a lock that is known: the button's start
    // state is no setting of the driver's.
    if (!known_.load())
        return;
    handleSetResult(content_.getDevice().setSampleRateLock(lock_.load()) ? 0 : 1);
}

void StSampleRateLock::handleCommandMessage(int commandId)
{
    // Other ids are the button's own (a triggered click).
    if (commandId != 0)
    {
        juce::ToggleButton::handleCommandMessage(commandId);
        return;
    }
    // A lock read before the user's latest click would undo it.
    int channel = 0;
    int32_t locked = 0;
    if (read_.take(channel, locked))
    {
        lock_.store(locked != 0);
        known_.store(true);
    }
    setToggleState(lock_.load(), juce::dontSendNotification);
}

void StSampleRateLock::clicked()
{
    lock_.store(getToggleState());
    known_.store(true);
    content_.getHwThread()->queueSet(*this);
}

// --- SampleRate ---

SampleRate::SampleRate(ConsoleContext& content, SettingsPageHost& page)
    : juce::GroupComponent("sample rate select", "Sample rate"), HwCtrl(*content.getControls()),
      content_(content), page_(page), vista_(page.isRunningOnVista())
{
    const device::HwInfoCaps& caps = content.getHwInfo();
    for (int rate : kSampleRates)
        if (uint32_t(rate) >= caps.getMinSampleRate() && uint32_t(rate) <= caps.getMaxSampleRate())
            rates_[size_t(count_++)] = rate;

    const int rows = (count_ + 1) / 2;
    setSize(kGroupWidth, rows * kRowPitch + 40 + (vista_ ? 0 : kRowPitch));
    page.getPageComponent().addAndMakeVisible(this);

    const int half = kGroupWidth / 2;
    for (int k = 0; k < count_; ++k)
    {
        const int column = k % 2;
        auto button = std::make_unique<juce::ToggleButton>(formatSampleRate(rates_[size_t(k)]));
        const int x = column * half + (half - kButtonWidth) / 2 + (column == 0 ? 4 : -4);
        button->setBounds(x, kFirstRowY + kRowPitch * (k / 2), kButtonWidth, kButtonHeight);
        button->setRadioGroupId(kRadioGroup);
        button->addListener(this);
        addAndMakeVisible(*button);
        buttons_[size_t(k)] = std::move(button);
    }
    if (count_ > 0)
        buttons_[0]->setToggleState(true, juce::dontSendNotification);

    if (vista_)
        setText("Core Audio sample rate");
    else
    {
        lock_ = std::make_unique<StSampleRateLock>(content);
        lock_->setBounds(60, kFirstRowY + kRowPitch * (rows - 1) + 34, kButtonWidth, kButtonHeight);
        addAndMakeVisible(*lock_);
    }
    content.getHwThread()->queueGet(*this);
}

SampleRate::~SampleRate()
{
    for (auto& button : buttons_)
        if (button != nullptr)
            button->removeListener(this);
}

juce::ToggleButton* SampleRate::getButton(int k) const
{
    return k >= 0 && k < count_ ? buttons_[size_t(k)].get() : nullptr;
}

int SampleRate::getButtonRate(int k) const
{
    return k >= 0 && k < count_ ? rates_[size_t(k)] : 0;
}

bool SampleRate::isOffered(int rate) const
{
    for (int k = 0; k < count_; ++k)
        if (rates_[size_t(k)] == rate)
            return true;
    return false;
}

int SampleRate::shownRate() const
{
    const ConsoleState& state = content_.getState();
    return vista_ ? state.getSampleRate() : int(state.getWord(ConsoleState::kRateWord));
}

void SampleRate::readFromDevice()
{
    // Not while a write is on its way: what the device has now is about to change.
    uint32_t generation = 0;
    if (!read_.begin(0, generation))
        return;
    device::vhw& device = content_.getDevice();
    int rate = 0;
    int result;
    if (vista_)
    {
        uint32_t driverRate = 0;
        result = device.getDriverSampleRate(driverRate);
        rate = int(driverRate);
    }
    else
    {
        int clock = 0;
        result = device.getClock(rate, clock);
    }
    if (result == 0)
        read_.put(0, int32_t(rate), generation);
    handleGetResult(result, this);
}

void SampleRate::writeToDevice()
{
    device::vhw& device = content_.getDevice();
    changePending_.store(false);
    if (vista_)
    {
        // 0 until the driver's rate was first read: nothing to send yet.
        const int rate = content_.getState().getSampleRate();
        if (isOffered(rate))
            handleSetResult(device.setDriverSampleRate(uint32_t(rate)));
        return;
    }
    const int rate = int(content_.getState().getWord(ConsoleState::kRateWord));
    if (!isOffered(rate))
        return;
    // A locked rate is unlocked for the change and locked again after it, keeping the other driver flags.
    const bool locked = lock_ != nullptr && lock_->getLockValue();
    if (locked)
        device.setDriverFlags(0, ~device::kDriverFlagRateLocked);
    const int result = device.setClock(rate, -1);
    if (locked)
        device.setDriverFlags(device::kDriverFlagRateLocked, 0xFFFFFFFF);
    handleSetResult(result);
}

void SampleRate::loadFromState(ConsoleState& state, bool send)
{
    // The loaded rate is about to be sent: a rate read before the load must not put the old one back. A
    // read still under way is dropped by the SET the caller queues next; one already made, here.
    if (send)
        read_.discard();
    const device::HwInfoCaps& caps = content_.getHwInfo();
    const uint32_t rate = state.getWord(ConsoleState::kRateWord);
    if (rate >= caps.getMinSampleRate() && rate <= caps.getMaxSampleRate())
        handleCommandMessage(0);
}

void SampleRate::handleCommandMessage(int)
{
    // A rate read before the latest click, session load or reset would undo it.
    int channel = 0;
    int32_t readRate = 0;
    if (read_.take(channel, readRate))
    {
        ConsoleState& state = content_.getState();
        if (vista_)
            state.setSampleRate(readRate);
        else
            state.setWord(ConsoleState::kRateWord, uint32_t(readRate));
    }
    const int rate = shownRate();
    for (int k = 0; k < count_; ++k)
        buttons_[size_t(k)]->setToggleState(rates_[size_t(k)] == rate, juce::dontSendNotification);
    page_.refreshBufferSizeText();
}

void SampleRate::refresh(const PolledSnapshot& snapshot)
{
    // Against the rate the group shows: on Vista image word 28 is the display's, which follows the clock
    // at every poll, so a rate set elsewhere would never be read into the Core Audio rate.
    if (!changePending_.load() && snapshot.driverInfo.sampleRate != uint32_t(shownRate()))
        content_.getHwThread()->queueGet(*this);
}

void SampleRate::buttonClicked(juce::Button* button)
{
    // The radio group reports the button it turns off as clicked too: only the one turned on counts.
    if (!button->getToggleState())
        return;
    int k = 0;
    while (k < count_ && buttons_[size_t(k)].get() != button)
        ++k;
    if (k < count_)
    {
        ConsoleState& state = content_.getState();
        if (vista_)
            state.setSampleRate(rates_[size_t(k)]);
        else
            state.setWord(ConsoleState::kRateWord, uint32_t(rates_[size_t(k)]));
    }
    if (vista_)
        page_.disableForChange();
    else
        page_.refreshBufferSizeText();
    changePending_.store(true);
    // Counted as a change as it is queued: a rate read begun before is dropped.
    content_.getHwThread()->queueSet(*this);
}

// --- SampleRateDisplay ---

SampleRateDisplay::SampleRateDisplay(ConsoleContext& content, SettingsPageHost& page)
    : juce::GroupComponent("sample rate display", "Sample rate"), HwCtrl(*content.getControls()),
      content_(content), page_(page)
{
    setSize(kGroupWidth, kDisplayHeight);
    page.getPageComponent().addAndMakeVisible(this);
    label_.setBounds((kGroupWidth - 100) / 2, (kDisplayHeight - 20) / 2 + 4, 100, 20);
    label_.setJustificationType(juce::Justification::centred);
    label_.setColour(juce::Label::outlineColourId, juce::Colours::white);
    label_.setColour(juce::Label::backgroundColourId, juce::Colours::black);
    label_.setColour(juce::Label::textColourId, juce::Colour(0, 210, 0));
    label_.setFont(label_.getFont().boldened());
    addAndMakeVisible(label_);
    content.getHwThread()->queueGet(*this);
}

void SampleRateDisplay::readFromDevice()
{
    int rate = 0;
    int clock = 0;
    const int result = content_.getDevice().getClock(rate, clock);
    if (result == 0)
    {
        readRate_.store(rate);
        haveRead_.store(true);
    }
    handleGetResult(result, this);
}

void SampleRateDisplay::handleCommandMessage(int)
{
    if (haveRead_.exchange(false))
    {
        ConsoleState& state = content_.getState();
        if (state.getWord(ConsoleState::kRateWord) != uint32_t(readRate_.load()))
            state.setWord(ConsoleState::kRateWord, uint32_t(readRate_.load()));
    }
    label_.setText(formatSampleRate(int(content_.getState().getWord(ConsoleState::kRateWord))),
                   juce::dontSendNotification);
    page_.refreshBufferSizeText();
}

void SampleRateDisplay::refresh(const PolledSnapshot&)
{
    content_.getHwThread()->queueGet(*this);
}

} // namespace console
