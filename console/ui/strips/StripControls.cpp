#include "console/ui/strips/StripControls.h"

#include "console/core/ConsoleState.h"
#include "console/ui/widgets/ConsoleContext.h"

namespace console
{
namespace
{

// Calls f for every channel of the set around the shown channel.
template <typename F> void forEachChannel(const ConsoleContext& content, ChannelSet set, int shown, F f)
{
    if (set == ChannelSet::own)
    {
        f(shown);
        return;
    }
    const int end = outputChannelCount(content);
    const int step = set == ChannelSet::all ? 1 : 2;
    for (int channel = set == ChannelSet::all ? 0 : shown & 1; channel < end; channel += step)
        f(channel);
}

} // namespace

int outputChannelCount(const ConsoleContext& content)
{
    return Alias::nameCount(content.getHwInfo().getOutputCount());
}

// --- BankedFader ---

BankedFader::BankedFader(ConsoleContext& content, const FaderBinding& binding, int key, int channel)
    : Fader(content, channel), binding_(binding), key_(key), shownChannel_(channel), read_(*this)
{
}

void BankedFader::showFromState()
{
    showLoadedValue(binding_.get(getContent(), key_, getChannel()));
    shownFromState_ = getValue();
    shownChannel_.store(getChannel());
}

void BankedFader::handleCommandMessage(int)
{
    int channel = -1;
    float db = 0.0f;
    // The same gain reads as the same dB: the state block changes only when the device's gain differs.
    if (read_.take(channel, db) && binding_.get(getContent(), key_, channel) != db)
        binding_.put(getContent(), key_, channel, db);
    showFromState();
}

void BankedFader::readFromDevice()
{
    const int channel = shownChannel_.load();
    uint32_t generation = 0;
    if (!read_.begin(channel, generation))
        return;
    float db = 0.0f;
    const int rval = binding_.read(getContent(), key_, channel, db);
    if (rval == 0)
        read_.put(channel, db, generation);
    handleGetResult(rval, this);
}

void BankedFader::writeToDevice()
{
    const int channel = nextDirty();
    if (channel < 0)
        return;
    handleBankedSetResult(channel, binding_.write(getContent(), key_, channel));
}

void BankedFader::loadFromState(ConsoleState&, bool send)
{
    showFromState();
    if (!send)
        return;
    forEachChannel(getContent(), binding_.onLoad, getChannel(), [this](int channel) { markDirty(channel); });
}

void BankedFader::storeToState(ConsoleState&)
{
    const double value = getValue();
    if (value == shownFromState_)
        return;
    binding_.put(getContent(), key_, getChannel(), float(value));
    shownFromState_ = value;
}

void BankedFader::resetToDefault()
{
    forEachChannel(getContent(), binding_.onReset, getChannel(),
                   [this](int channel)
                   {
                       binding_.put(getContent(), key_, channel, 0.0f);
                       markDirty(channel);
                   });
    showFromState();
}

// --- BankedFlagButton ---

BankedFlagButton::BankedFlagButton(ConsoleContext& content, const FlagBinding& binding, int key, int channel)
    : CtrlGroupedButton(content, channel), binding_(binding), key_(key), shownChannel_(channel), read_(*this)
{
}

CtrlGroupedButton* BankedFlagButton::getGroupMember(juce::Component& strip)
{
    for (juce::Component* child : strip.getChildren())
        if (auto* button = dynamic_cast<BankedFlagButton*>(child);
            button != nullptr && &button->binding_ == &binding_)
            return button;
    return nullptr;
}

void BankedFlagButton::clicked(const juce::ModifierKeys& modifiers)
{
    if (binding_.grouped)
        CtrlGroupedButton::clicked(modifiers);
    else
        ToggleBase::clicked();
}

void BankedFlagButton::solosMayHaveChanged()
{
    if (binding_.solo)
        getContent().solosChanged();
}

void BankedFlagButton::handleCommandMessage(int commandId)
{
    int channel = -1;
    float value = 0.0f;
    if (commandId == 0 && read_.take(channel, value))
    {
        const bool on = value != 0.0f;
        if (binding_.get(getContent(), key_, channel) != on)
            binding_.put(getContent(), key_, channel, on);
        if (channel == getChannel())
            showValue(on);
        solosMayHaveChanged();
    }
    CtrlGroupedButton::handleCommandMessage(commandId);
}

void BankedFlagButton::readFromDevice()
{
    const int channel = shownChannel_.load();
    uint32_t generation = 0;
    if (!read_.begin(channel, generation))
        return;
    int value = 0;
    const int rval = binding_.read(getContent(), key_, channel, value);
    if (rval == 0)
        read_.put(channel, value != 0 ? 1.0f : 0.0f, generation);
    handleGetResult(rval, this);
}

void BankedFlagButton::writeToDevice()
{
    const int channel = nextDirty();
    if (channel < 0)
        return;
    const int rval = binding_.write(getContent(), key_, channel);
    solosMayHaveChanged();
    handleBankedSetResult(channel, rval);
}

void BankedFlagButton::loadFromState(ConsoleState&, bool send)
{
    showValue(binding_.get(getContent(), key_, getChannel()));
    shownChannel_.store(getChannel());
    solosMayHaveChanged();
    if (!send)
        return;
    forEachChannel(getContent(), binding_.onLoad, getChannel(), [this](int channel) { markDirty(channel); });
}

void BankedFlagButton::storeToState(ConsoleState&)
{
    binding_.put(getContent(), key_, getChannel(), getValue());
}

void BankedFlagButton::resetToDefault()
{
    forEachChannel(getContent(), binding_.onReset, getChannel(),
                   [this](int channel)
                   {
                       binding_.clear(getContent(), key_, channel);
                       markDirty(channel);
                   });
    loadFromState(getContent().getState(), false);
}

// --- ChannelNameLabel ---

ChannelNameLabel::ChannelNameLabel(ConsoleContext& content, const NameBinding& binding, int channel)
    : Alias(content), binding_(binding), channel_(channel)
{
}

void ChannelNameLabel::range(int& first, int& step, int& end) const
{
    if (binding_.count == nullptr)
    {
        first = channel_;
        step = 1;
        end = channel_ + 1;
        return;
    }
    first = channel_ & 1;
    step = 2;
    end = binding_.count(getContent());
}

void ChannelNameLabel::setChannel(int channel)
{
    commitEdit();
    channel_ = channel;
    setText(binding_.get(getContent().getState(), channel), juce::dontSendNotification);
}

void ChannelNameLabel::clearNames()
{
    ConsoleState& state = getContent().getState();
    int first = 0, step = 1, end = 0;
    range(first, step, end);
    for (int channel = first; channel < end; channel += step)
        binding_.set(state, channel, {});
}

void ChannelNameLabel::reloadText()
{
    ConsoleState& state = getContent().getState();
    const device::HwInfoCaps& caps = getContent().getHwInfo();
    int first = 0, step = 1, end = 0;
    range(first, step, end);
    // The defaults are stored at once, so they travel with the session.
    for (int channel = first; channel < end; channel += step)
    {
        if (binding_.get(state, channel).isNotEmpty())
            continue;
        const auto at = uint32_t(channel);
        const char* group = binding_.inputs ? caps.getInputGroupShortName(caps.getInputMapGroup(at))
                                            : caps.getOutputGroupShortName(caps.getOutputMapGroup(at));
        const int index = int(binding_.inputs ? caps.getInputMapIndex(at) : caps.getOutputMapIndex(at));
        binding_.set(state, channel, defaultName(binding_.prefix, group, index));
    }
    setText(binding_.get(state, channel_), juce::dontSendNotification);
}

void ChannelNameLabel::labelTextChanged(juce::Label*)
{
    binding_.set(getContent().getState(), channel_, getText());
}

// --- StripGang ---

StripGang::StripGang(ConsoleContext& content, const GangBinding& binding, int channel)
    : content_(content), binding_(binding), channel_(channel)
{
}

void StripGang::setChannel(int channel)
{
    channel_ = channel;
    reload();
}

void StripGang::reload()
{
    const bool whole = channel_ + 1 < binding_.count(content_);
    setToggleState(whole && binding_.get(content_.getState(), channel_), juce::dontSendNotification);
}

void StripGang::clicked()
{
    binding_.set(content_.getState(), getToggleState(), channel_);
}

} // namespace console
