#include "console/SampleRate.h"

#include "console/ConsoleWindow.h"
#include "console/Settings.h"

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

StSampleRateLock::StSampleRateLock(CwContent& content)
    : juce::ToggleButton("Locked"), HwCtrl(*content.getControls()), content_(content)
{
    content.getHwThread()->queueGet(*this);
}

void StSampleRateLock::readFromDevice() {}

void StSampleRateLock::writeToDevice() {}

void StSampleRateLock::handleCommandMessage(int)
{
    setToggleState(lock_.load(), juce::dontSendNotification);
}

void StSampleRateLock::clicked()
{
    lock_.store(getToggleState());
    content_.getHwThread()->queueSet(*this);
}

// --- SampleRate ---

SampleRate::SampleRate(CwContent& content, Settings& page)
    : juce::GroupComponent("sample rate select", "Sample rate"), HwCtrl(*content.getControls()),
      content_(content), page_(page), vista_(page.isRunningOnVista())
{
    const device::HwInfoCaps& caps = content.getHwInfo();
    for (int rate : kSampleRates)
        if (uint32_t(rate) >= caps.getMinSampleRate() && uint32_t(rate) <= caps.getMaxSampleRate())
            rates_[size_t(count_++)] = rate;

    const int rows = (count_ + 1) / 2;
    setSize(kGroupWidth, rows * kRowPitch + 40 + (vista_ ? 0 : kRowPitch));
    page.addAndMakeVisible(this);

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

void SampleRate::readFromDevice() {}

void SampleRate::writeToDevice() {}

void SampleRate::loadFromState(ConsoleState& state, bool)
{
    const device::HwInfoCaps& caps = content_.getHwInfo();
    const uint32_t rate = state.getWord(ConsoleState::kRateWord);
    if (rate >= caps.getMinSampleRate() && rate <= caps.getMaxSampleRate())
        handleCommandMessage(0);
}

void SampleRate::handleCommandMessage(int)
{
    const int rate = shownRate();
    for (int k = 0; k < count_; ++k)
        buttons_[size_t(k)]->setToggleState(rates_[size_t(k)] == rate, juce::dontSendNotification);
    page_.refreshBufferSizeText();
}

void SampleRate::refresh(const PolledSnapshot&) {}

void SampleRate::buttonClicked(juce::Button*) {}

// --- SampleRateDisplay ---

SampleRateDisplay::SampleRateDisplay(CwContent& content, Settings& page)
    : juce::GroupComponent("sample rate display", "Sample rate"), HwCtrl(*content.getControls()),
      content_(content), page_(page)
{
    setSize(kGroupWidth, kDisplayHeight);
    page.addAndMakeVisible(this);
    label_.setBounds((kGroupWidth - 100) / 2, (kDisplayHeight - 20) / 2 + 4, 100, 20);
    label_.setJustificationType(juce::Justification::centred);
    label_.setColour(juce::Label::outlineColourId, juce::Colours::white);
    label_.setColour(juce::Label::backgroundColourId, juce::Colours::black);
    label_.setColour(juce::Label::textColourId, juce::Colour(0, 210, 0));
    label_.setFont(label_.getFont().boldened());
    addAndMakeVisible(label_);
    content.getHwThread()->queueGet(*this);
}

void SampleRateDisplay::readFromDevice() {}

void SampleRateDisplay::handleCommandMessage(int)
{
    label_.setText(formatSampleRate(int(content_.getState().getWord(ConsoleState::kRateWord))),
                   juce::dontSendNotification);
    page_.refreshBufferSizeText();
}

void SampleRateDisplay::refresh(const PolledSnapshot&) {}

} // namespace console
