#include "console/ui/settings/SettingsGroups.h"

#include "console/core/ConsoleState.h"
#include "console/ui/settings/SettingsPageHost.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "device/HwInfoCaps.h"
#include "device/Vhw.h"
#include "platform/MessageBox.h"

#include <algorithm>

namespace console
{
namespace
{

constexpr int kFirstRowY = 25;
constexpr int kRowPitch = 28;

constexpr uint32_t kProfessionalBit = 1u << 1;

void setBold(juce::Label& label)
{
    label.setFont(label.getFont().boldened());
}

// The second button on for a nonzero value, else the first; the other off first.
void showChoice(juce::Button& first, juce::Button& second, bool secondOn)
{
    (secondOn ? first : second).setToggleState(false, juce::dontSendNotification);
    (secondOn ? second : first).setToggleState(true, juce::dontSendNotification);
}

} // namespace

// --- ClockSource ---

ClockSource::ClockSource(ConsoleContext& content, SettingsPageHost& page)
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
    page.getPageComponent().addAndMakeVisible(this);
    // The unit's source, not the stored session's: another program may have changed it, and a console
    // that ended without storing its session leaves the unit running another.
    content.getHwThread()->queueGet(*this);
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

bool ClockSource::isSupported(int clock) const
{
    return clock >= 0 && clock < int(buttons_.size()) && buttons_[size_t(clock)] != nullptr;
}

void ClockSource::readFromDevice()
{
    // Not while a source of the user's is on its way: the unit's is about to change.
    uint32_t generation = 0;
    if (!read_.begin(0, generation))
        return;
    int rate = 0;
    int clock = 0;
    const int result = content_.getDevice().getClock(rate, clock);
    if (result == 0)
        read_.put(0, int32_t(clock), generation);
    handleGetResult(result, this);
}

void ClockSource::writeToDevice()
{
    handleSetResult(content_.getDevice().setClock(-1, selected_.load()));
}

void ClockSource::loadFromState(ConsoleState& state, bool)
{
    // The index comes from a session file or the device's flash: it must name a clock of this device.
    const int clock = int(state.getWord(ConsoleState::kClockWord));
    if (isSupported(clock))
        selected_.store(clock);
    storeToState(state);
    handleCommandMessage(0);
}

void ClockSource::storeToState(ConsoleState& state)
{
    state.setWord(ConsoleState::kClockWord, uint32_t(selected_.load()));
}

void ClockSource::handleCommandMessage(int)
{
    // A source read before the user's latest choice, load or reset would undo it.
    int channel = 0;
    int32_t unitClock = 0;
    if (read_.take(channel, unitClock) && isSupported(unitClock))
    {
        selected_.store(unitClock);
        storeToState(content_.getState());
    }
    const int selected = selected_.load();
    for (size_t clock = 0; clock < buttons_.size(); ++clock)
        if (buttons_[clock] != nullptr)
            buttons_[clock]->setToggleState(int(clock) == selected, juce::dontSendNotification);
}

void ClockSource::updateLockStatus(const PolledSnapshot& snapshot)
{
    const uint32_t status = snapshot.getStatusWord();
    if (statusShown_ && status == lastStatus_)
        return;
    statusShown_ = true;
    lastStatus_ = status;
    // "Internal" is always there.
    for (size_t clock = 1; clock < buttons_.size(); ++clock)
    {
        juce::ToggleButton* button = buttons_[clock].get();
        const bool detected = snapshot.isClockDetected(uint32_t(clock));
        if (button != nullptr && button->isEnabled() != detected)
            button->setEnabled(detected);
    }
}

void ClockSource::buttonClicked(juce::Button* button)
{
    // The radio group reports the button it turns off as clicked too: only the one turned on counts.
    if (!button->getToggleState())
        return;
    for (size_t clock = 0; clock < buttons_.size(); ++clock)
        if (buttons_[clock].get() == button)
            selected_.store(int(clock));
    content_.getHwThread()->queueSet(*this);
}

// --- BufferSize ---

StBufferSizeSlider::StBufferSizeSlider(ConsoleState& state)
    : juce::Slider("buffer size slider"), state_(state)
{
}

juce::String StBufferSizeSlider::getTextFromValue(double value)
{
    const uint32_t rate = state_.getWord(ConsoleState::kRateWord);
    if (rate == 0)
        return {};
    return juce::String(value, 0) + " samples / " + juce::String(value / double(rate) * 1000.0, 1) + " msec";
}

BufferSize::BufferSize(ConsoleContext& content, SettingsPageHost& page)
    : juce::GroupComponent("buffer size box", "Buffer size"), HwCtrl(*content.getControls()),
      content_(content), slider_(content.getState())
{
    setBounds((page.getPageComponent().getWidth() - 200) / 2, 0, 200, 80);
    page.getPageComponent().addAndMakeVisible(this);
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

void BufferSize::readFromDevice()
{
    // Not while a size of the user's is on its way; a failed read changes nothing and is not repeated.
    uint32_t generation = 0;
    if (!read_.begin(0, generation))
        return;
    device::vhw& device = content_.getDevice();
    if (device.readDriverInfo() != 0)
        return;
    read_.put(0, int32_t(device.getDriverInfo().configuredBufferSize), generation);
    handleGetResult(0, this);
}

void BufferSize::writeToDevice()
{
    // Unknown until the driver's size was first read: nothing to send yet.
    const int size = size_.load();
    if (size <= 0)
        return;
    if (content_.getDevice().setBufferSize(uint32_t(size)) != 0)
    {
        // Refused (an ASIO application holds the device): back to the driver's size, and say why.
        content_.getHwThread()->queueGet(*this);
        refusal_.triggerAsyncUpdate();
    }
}

void BufferSize::handleCommandMessage(int commandId)
{
    if (commandId == 0)
    {
        // A size read before the user's latest drag would undo it.
        int channel = 0;
        int32_t size = 0;
        if (read_.take(channel, size))
            size_.store(size);
        slider_.setValue(size_.load(), juce::dontSendNotification);
    }
    else if (commandId == 1)
        platform::messageBox(kConsoleAlertTitle, kRefusalText, platform::MB_OK);
}

void BufferSize::sliderDragEnded(juce::Slider* slider)
{
    size_.store(int(slider->getValue()));
    // Counted as a change as it is queued: a size read begun before is dropped.
    content_.getHwThread()->queueSet(*this);
}

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

IsocMap::IsocMap(ConsoleContext& content, SettingsPageHost& page)
    : juce::GroupComponent("isoc map", "Routing"), HwCtrl(*content.getControls()), content_(content)
{
    setSize(250, 124);
    page.getPageComponent().addAndMakeVisible(this);
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

IsocMap::Record IsocMap::copyRecord() const
{
    const ConsoleState& state = content_.getState();
    Record record;
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = state.getWord(ConsoleState::kRoutingWords + int(i));
    return record;
}

void IsocMap::storeRecord(const Record& record)
{
    ConsoleState& state = content_.getState();
    for (size_t i = 0; i < record.size(); ++i)
        state.setWord(ConsoleState::kRoutingWords + int(i), record[i]);
}

void IsocMap::readFromDevice()
{
    device::IsocMapRecord record;
    {
        std::lock_guard<std::mutex> lock(routingLock_);
        const Record image = copyRecord();
        std::copy(image.begin(), image.end(), std::begin(record.words));
    }
    const int result = content_.getDevice().getIsocMap(record);
    if (result == 0)
    {
        std::lock_guard<std::mutex> lock(routingLock_);
        std::copy(std::begin(record.words), std::end(record.words), readRecord_.begin());
        haveRead_ = true;
    }
    handleGetResult(result, this);
}

void IsocMap::writeToDevice()
{
    device::IsocMapRecord record;
    {
        std::lock_guard<std::mutex> lock(routingLock_);
        const Record image = copyRecord();
        std::copy(image.begin(), image.end(), std::begin(record.words));
    }
    handleSetResult(content_.getDevice().setIsocMap(record));
}

void IsocMap::loadFromState(ConsoleState&, bool)
{
    handleCommandMessage(0);
}

void IsocMap::resetToDefault()
{
    std::lock_guard<std::mutex> lock(routingLock_);
    Record record{};
    record[2] = kRows;
    for (int row = 0; row < kRows; ++row)
    {
        record[size_t(4 + row)] = uint32_t(2 * row);
        boxes_[size_t(row)].setSelectedItemIndex(row, juce::dontSendNotification);
    }
    storeRecord(record);
}

void IsocMap::handleCommandMessage(int)
{
    std::lock_guard<std::mutex> lock(routingLock_);
    if (haveRead_)
    {
        storeRecord(readRecord_);
        haveRead_ = false;
    }
    const Record record = copyRecord();
    for (int row = 0; row < kRows; ++row)
    {
        // The first playback channel of the pair; an odd one shows the pair that holds it.
        const int pair = int32_t(record[size_t(4 + row)]) / 2;
        if (pair >= 0 && pair < kRows)
            boxes_[size_t(row)].setSelectedItemIndex(pair, juce::dontSendNotification);
        else
            boxes_[size_t(row)].setSelectedId(0, juce::dontSendNotification);
    }
}

void IsocMap::comboBoxChanged(juce::ComboBox*)
{
    std::lock_guard<std::mutex> lock(routingLock_);
    Record record = copyRecord();
    for (int row = 0; row < kRows; ++row)
    {
        // A box that shows no pair leaves its word as it is.
        const int pair = boxes_[size_t(row)].getSelectedItemIndex();
        if (pair >= 0)
            record[size_t(4 + row)] = uint32_t(2 * pair);
    }
    storeRecord(record);
    // The hardware thread takes the queue lock, then (in writeToDevice) this one, never both at once.
    content_.getHwThread()->queueSet(*this);
}

// --- PhantomPower ---

PhantomPower::PhantomPower(ConsoleContext& content, SettingsPageHost& page)
    : juce::GroupComponent("phantom power", "Phantom power"), HwCtrl(*content.getControls()),
      content_(content)
{
    setSize(180, 52);
    page.getPageComponent().addAndMakeVisible(this);
    button_.setBounds(40, 16, 100, 22);
    button_.addListener(this);
    addAndMakeVisible(button_);
    // What the unit runs, not the stored session: a console that ended without storing its session
    // (killed, a power cut) leaves 48 V on the inputs that the session says are off.
    content.getHwThread()->queueGet(*this);
}

PhantomPower::~PhantomPower()
{
    button_.removeListener(this);
}

void PhantomPower::readFromDevice()
{
    // Not while a click of the user's is on its way: the unit's is about to change.
    uint32_t generation = 0;
    if (!read_.begin(0, generation))
        return;
    int value = 0;
    const int result = content_.getDevice().getPhantomPower(value);
    if (result == 0)
        read_.put(0, int32_t(value != 0 ? 1 : 0), generation);
    handleGetResult(result, this);
}

void PhantomPower::writeToDevice()
{
    handleSetResult(content_.getDevice().setPhantomPower(value_.load()));
}

void PhantomPower::loadFromState(ConsoleState& state, bool)
{
    value_.store((state.getWord(ConsoleState::kFlagsWord) & ConsoleState::kPhantomFlag) != 0 ? 1 : 0);
    handleCommandMessage(0);
}

void PhantomPower::storeToState(ConsoleState& state)
{
    state.setWordBits(ConsoleState::kFlagsWord, ConsoleState::kPhantomFlag,
                      value_.load() != 0 ? ConsoleState::kPhantomFlag : 0);
}

void PhantomPower::handleCommandMessage(int)
{
    // A value read before the user's latest click, load or reset would undo it.
    int channel = 0;
    int32_t value = 0;
    if (read_.take(channel, value))
    {
        value_.store(value);
        storeToState(content_.getState());
    }
    button_.setToggleState(value_.load() != 0, juce::dontSendNotification);
}

void PhantomPower::buttonClicked(juce::Button*)
{
    value_.store(button_.getToggleState() ? 1 : 0);
    content_.getHwThread()->queueSet(*this);
}

// --- SpdifFormat ---

SpdifFormat::SpdifFormat(ConsoleContext& content, SettingsPageHost& page)
    : juce::GroupComponent("spdif format", "S/PDIF format"), HwCtrl(*content.getControls()), content_(content)
{
    setSize(200, 80);
    page.getPageComponent().addAndMakeVisible(this);
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

void SpdifFormat::readFromDevice()
{
    int flags = -1;
    const int result = content_.getDevice().getFlags(flags);
    if (result == 0)
        value_.store((uint32_t(flags) & kProfessionalBit) != 0 ? 1 : 0);
    handleGetResult(result, this);
}

void SpdifFormat::writeToDevice()
{
    device::vhw& device = content_.getDevice();
    handleSetResult(value_.load() != 0 ? device.changeFlags(kProfessionalBit, 0)
                                       : device.changeFlags(0, kProfessionalBit));
}

void SpdifFormat::loadFromState(ConsoleState& state, bool)
{
    value_.store((state.getWord(ConsoleState::kFlagsWord) & kProfessionalBit) != 0 ? 1 : 0);
    handleCommandMessage(0);
}

void SpdifFormat::storeToState(ConsoleState& state)
{
    state.setWordBits(ConsoleState::kFlagsWord, kProfessionalBit, value_.load() != 0 ? kProfessionalBit : 0);
}

void SpdifFormat::resetToDefault()
{
    value_.store(0);
    storeToState(content_.getState());
    handleCommandMessage(0);
}

void SpdifFormat::handleCommandMessage(int)
{
    showChoice(consumer_, professional_, value_.load() != 0);
}

void SpdifFormat::buttonClicked(juce::Button* button)
{
    // The radio group reports the button it turns off as clicked too: only the one turned on counts.
    if (!button->getToggleState())
        return;
    value_.store(button == &professional_ ? 1 : 0);
    content_.getHwThread()->queueSet(*this);
}

// --- Surround ---

Surround::Surround(ConsoleContext& content, SettingsPageHost& page)
    : juce::GroupComponent("wave cfg", "Wave devices"), HwCtrl(*content.getControls()), content_(content),
      page_(page)
{
    setSize(200, 80);
    page.getPageComponent().addAndMakeVisible(this);
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

void Surround::readFromDevice()
{
    // Not while a choice of the user's is on its way: the driver's mode is about to change.
    uint32_t generation = 0;
    if (!read_.begin(0, generation))
        return;
    device::vhw& device = content_.getDevice();
    const int result = device.readDriverInfo();
    if (result == 0)
    {
        const int mode = (device.getDriverInfo().flags & device::kDriverFlagSurround) != 0 ? 1 : 0;
        driverMode_.store(mode);
        read_.put(0, int32_t(mode), generation);
    }
    handleGetResult(result, this);
}

void Surround::writeToDevice()
{
    // A session load or "Reset" sends the mode again, but only a mode that is known.
    if (!known_.load())
        return;
    const int mode = value_.load();
    const bool sent = mode != 0 ? content_.getDevice().setDriverFlags(device::kDriverFlagSurround, 0xFFFFFFFF)
                                : content_.getDevice().setDriverFlags(0, ~device::kDriverFlagSurround);
    if (sent)
    {
        driverMode_.store(mode);
        return;
    }
    // Logged, and the buttons show the driver's mode again so that the user can try once more. The mode
    // is handed over as a read's is, so that it cannot replace a choice made during this send.
    handleSetResult(1);
    uint32_t generation = 0;
    if (!read_.begin(0, generation))
        return; // that choice is queued: its own send decides
    read_.put(0, int32_t(driverMode_.load()), generation);
    handleGetResult(0, this);
}

void Surround::handleCommandMessage(int)
{
    // A mode read (or a failed send's) before the user's latest choice would undo it.
    int channel = 0;
    int32_t mode = 0;
    if (read_.take(channel, mode))
    {
        // A failed send while the driver's mode was never learnt leaves it unknown, shown as at the start.
        const bool known = mode != kModeUnknown;
        value_.store(known ? mode : kStartValue);
        known_.store(known);
    }
    showChoice(stereo_, surround_, value_.load() != 0);
}

void Surround::buttonClicked(juce::Button* button)
{
    // The radio group reports the button it turns off as clicked too: only the one turned on counts.
    if (!button->getToggleState())
        return;
    const int on = button == &surround_ ? 1 : 0;
    // While the mode is unknown the button shown on is no mode of the driver's: clicking it is a choice.
    if (on == value_.load() && known_.load())
        return;
    value_.store(on);
    known_.store(true);
    // Counted as a change as it is queued: a mode read begun before is dropped.
    content_.getHwThread()->queueSet(*this);
    if (page_.isRunningOnVista())
        page_.disableForChange();
    else
        platform::messageBox(kConsoleAlertTitle, kRestartText, platform::MB_OK);
}

} // namespace console
