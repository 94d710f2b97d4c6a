#include "console/SettingsGroups.h"

#include "console/ConsoleWindow.h"
#include "console/Settings.h"
#include "device/HwInfoCaps.h"

namespace console
{
namespace
{

constexpr int kFirstRowY = 25;
constexpr int kRowPitch = 28;

void setBold(juce::Label& label)
{
    label.setFont(label.getFont().boldened());
}

} // namespace

// --- ClockSource ---

ClockSource::ClockSource(CwContent& content, Settings& page)
    : juce::GroupComponent("clock source select", "Clock source"), HwCtrl(*content.getControls()),
      content_(content)
{
    const device::HwInfoCaps& caps = content.getHwInfo();
    int lowest = -1;
    for (int clock = 0; clock < device::HwInfoCaps::kClockCount; ++clock)
    {
        if (!caps.supportsClock(uint32_t(clock)))
            continue;
        if (lowest < 0)
            lowest = clock;
        std::string name;
        caps.getClockName(uint32_t(clock), name);
        auto button = std::make_unique<juce::ToggleButton>(juce::String(name));
        button->setBounds(count_ % 2 == 0 ? 18 : 102, kFirstRowY + kRowPitch * (count_ / 2), 80, 24);
        button->setRadioGroupId(kRadioGroup);
        button->addListener(this);
        addAndMakeVisible(*button);
        buttons_[size_t(clock)] = std::move(button);
        ++count_;
    }
    if (buttons_[kAdat] != nullptr)
        buttons_[kAdat]->setVisible(false);
    selected_.store(lowest < 0 ? 0 : lowest);
    setSize(200, ((count_ + 1) / 2) * 26 + 40);
    page.addAndMakeVisible(this);
}

ClockSource::~ClockSource()
{
    for (auto& button : buttons_)
        if (button != nullptr)
            button->removeListener(this);
}

juce::ToggleButton* ClockSource::getButton(int clock) const
{
    return clock >= 0 && clock < int(buttons_.size()) ? buttons_[size_t(clock)].get() : nullptr;
}

void ClockSource::readFromDevice() {}
void ClockSource::writeToDevice() {}
void ClockSource::loadFromState(ConsoleState&, bool) {}
void ClockSource::storeToState(ConsoleState&) {}
void ClockSource::handleCommandMessage(int) {}
void ClockSource::updateLockStatus(const PolledSnapshot&) {}
void ClockSource::buttonClicked(juce::Button*) {}

// --- BufferSize ---

StBufferSizeSlider::StBufferSizeSlider(ConsoleState& state)
    : juce::Slider("buffer size slider"), state_(state)
{
}

juce::String StBufferSizeSlider::getTextFromValue(double)
{
    return {};
}

BufferSize::BufferSize(CwContent& content, Settings& page)
    : juce::GroupComponent("buffer size box", "Buffer size"), HwCtrl(*content.getControls()),
      content_(content), slider_(content.getState())
{
    setBounds((page.getWidth() - 200) / 2, 0, 200, 80);
    page.addAndMakeVisible(this);
    addAndMakeVisible(slider_);
    slider_.setSliderStyle(juce::Slider::LinearHorizontal);
    slider_.setTextBoxStyle(juce::Slider::TextBoxBelow, true, 150, 30);
    slider_.setBounds(10, (80 - 50) / 2, 180, 50);
    slider_.setChangeNotificationOnlyOnRelease(true);
    slider_.addListener(this);
    slider_.setRange(32, 2048, 32);
    content.getHwThread()->queueGet(*this);
}

BufferSize::~BufferSize()
{
    slider_.removeListener(this);
}

void BufferSize::readFromDevice() {}
void BufferSize::writeToDevice() {}
void BufferSize::handleCommandMessage(int) {}
void BufferSize::sliderDragEnded(juce::Slider*) {}

// --- IsocMap ---

juce::String IsocMap::outputLabel(const device::HwInfoCaps& caps, int row)
{
    const uint32_t channel = uint32_t(2 * row);
    const uint8_t type = caps.getOutputMapType(channel);
    if (channel >= caps.getOutputCount() || type == device::HwInfoCaps::kUnused)
        return "Output " + juce::String(channel + 1) + "-" + juce::String(channel + 2);
    const uint8_t group = caps.getOutputMapGroup(channel);
    juce::String text = caps.getOutputGroupName(group);
    if (type != device::HwInfoCaps::kGroupHeadphones)
    {
        text << " out";
        if (caps.getOutputGroupChannels(group) > 2)
        {
            const int index = caps.getOutputMapIndex(channel);
            text << " " << (index + 1) << "-" << (index + 2);
        }
    }
    return text;
}

IsocMap::IsocMap(CwContent& content, Settings& page)
    : juce::GroupComponent("isoc map", "Routing"), HwCtrl(*content.getControls()), content_(content)
{
    setSize(250, 124);
    page.addAndMakeVisible(this);
    const device::HwInfoCaps& caps = content.getHwInfo();
    for (int row = 0; row < kRows; ++row)
    {
        juce::ComboBox& box = boxes_[size_t(row)];
        box.setName("isoc map cb");
        box.setBounds(20, kFirstRowY + kRowPitch * row, 110, 22);
        for (int pair = 0; pair < kRows; ++pair)
            box.addItem("Playback " + juce::String(2 * pair + 1) + "-" + juce::String(2 * pair + 2),
                        pair + 1);
        box.setSelectedItemIndex(row, juce::dontSendNotification);
        box.addListener(this);
        addAndMakeVisible(box);

        juce::Label& label = labels_[size_t(row)];
        label.setText(outputLabel(caps, row), juce::dontSendNotification);
        label.setBounds(box.getRight() + 10, kFirstRowY + kRowPitch * row, 100, 22);
        label.setColour(juce::Label::textColourId, juce::Colours::white);
        setBold(label);
        addAndMakeVisible(label);
    }
}

IsocMap::~IsocMap()
{
    for (juce::ComboBox& box : boxes_)
        box.removeListener(this);
}

void IsocMap::readFromDevice() {}
void IsocMap::writeToDevice() {}
void IsocMap::loadFromState(ConsoleState&, bool) {}
void IsocMap::resetToDefault() {}
void IsocMap::handleCommandMessage(int) {}
void IsocMap::comboBoxChanged(juce::ComboBox*) {}

// --- PhantomPower ---

PhantomPower::PhantomPower(CwContent& content, Settings& page)
    : juce::GroupComponent("phantom power", "Phantom power"), HwCtrl(*content.getControls()),
      content_(content)
{
    setSize(180, 52);
    page.addAndMakeVisible(this);
    button_.setBounds(40, 16, 100, 22);
    button_.addListener(this);
    addAndMakeVisible(button_);
}

PhantomPower::~PhantomPower()
{
    button_.removeListener(this);
}

void PhantomPower::readFromDevice() {}
void PhantomPower::writeToDevice() {}
void PhantomPower::loadFromState(ConsoleState&, bool) {}
void PhantomPower::storeToState(ConsoleState&) {}
void PhantomPower::handleCommandMessage(int) {}
void PhantomPower::buttonClicked(juce::Button*) {}

// --- SpdifFormat ---

SpdifFormat::SpdifFormat(CwContent& content, Settings& page)
    : juce::GroupComponent("spdif format", "S/PDIF format"), HwCtrl(*content.getControls()), content_(content)
{
    setSize(200, 80);
    page.addAndMakeVisible(this);
    for (auto [button, y] : {std::pair{&consumer_, 20}, std::pair{&professional_, 48}})
    {
        button->setBounds(50, y, 100, 22);
        button->setRadioGroupId(kRadioGroup);
        button->addListener(this);
        addAndMakeVisible(*button);
    }
    consumer_.setToggleState(true, juce::dontSendNotification);
}

SpdifFormat::~SpdifFormat()
{
    consumer_.removeListener(this);
    professional_.removeListener(this);
}

void SpdifFormat::readFromDevice() {}
void SpdifFormat::writeToDevice() {}
void SpdifFormat::loadFromState(ConsoleState&, bool) {}
void SpdifFormat::storeToState(ConsoleState&) {}
void SpdifFormat::resetToDefault() {}
void SpdifFormat::handleCommandMessage(int) {}
void SpdifFormat::buttonClicked(juce::Button*) {}

// --- Surround ---

Surround::Surround(CwContent& content, Settings& page)
    : juce::GroupComponent("wave cfg", "Wave devices"), HwCtrl(*content.getControls()), content_(content),
      page_(page)
{
    setSize(200, 80);
    page.addAndMakeVisible(this);
    for (auto [button, y] : {std::pair{&stereo_, 20}, std::pair{&surround_, 48}})
    {
        button->setBounds(35, y, 130, 22);
        button->setRadioGroupId(kRadioGroup);
        button->addListener(this);
        addAndMakeVisible(*button);
    }
    surround_.setToggleState(true, juce::dontSendNotification);
    content.getHwThread()->queueGet(*this);
}

Surround::~Surround()
{
    stereo_.removeListener(this);
    surround_.removeListener(this);
}

void Surround::readFromDevice() {}
void Surround::writeToDevice() {}
void Surround::handleCommandMessage(int) {}
void Surround::buttonClicked(juce::Button*) {}

} // namespace console
