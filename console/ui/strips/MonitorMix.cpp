#include "console/ui/strips/MonitorMix.h"

#include "console/core/ConsoleState.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/window/ConsoleLayout.h"
#include "device/Vhw.h"

#include <algorithm>

namespace console
{
namespace
{

int flagOffset(int input, int mix)
{
    return ConsoleState::kMonitorFlags + input * ConsoleState::kMaxChannels + mix;
}

} // namespace

int monitorMixCount(const ConsoleContext& content)
{
    return int(std::min<uint32_t>(content.getHwInfo().getOutputCount(), ConsoleState::kMaxChannels));
}

// --- monfader ---

monfader::monfader(ConsoleContext& content, juce::Component& strip, int input)
    : Fader(content, 0), input_(input)
{
    const ConsoleLayout& layout = content.getLayout();
    setName("mon fader " + juce::String(input));
    setBounds(layout.getMonitorFaderBounds());
    setup(strip);
    const juce::Rectangle<int> box = layout.getMonitorFaderValueBox();
    createValueBox(strip, box.getX(), box.getY(), box.getWidth(), box.getHeight(),
                   layout.getMonitorFaderValueFontHeight());
}

void monfader::showFromState()
{
    showLoadedValue(getContent().getState().getMonitorGain(input_, getChannel()));
    shownFromState_ = getValue();
    shownMix_.store(getChannel());
}

void monfader::handleCommandMessage(int)
{
    const int mix = readMix_.exchange(-1);
    if (mix >= 0)
    {
        ConsoleState& state = getContent().getState();
        state.setMonitorGain(input_, mix, readDb_.load());
        state.setMonitorGain(input_, mix + 1, readDb_.load());
    }
    showFromState();
}

void monfader::readFromDevice()
{
    const int mix = shownMix_.load();
    float db = 0.0f;
    const int rval = getContent().getDevice().getMonitorGain(input_, mix, db);
    if (rval == 0)
    {
        readDb_.store(db);
        readMix_.store(mix);
    }
    handleGetResult(rval, this);
}

void monfader::writeToDevice()
{
    const int bank = nextDirty();
    if (bank < 0)
        return;
    ConsoleContext& content = getContent();
    handleBankedSetResult(bank, content.getDevice().setMonitorGain(
                                    input_, bank, content.getState().getMonitorGain(input_, bank)));
}

void monfader::loadFromState(ConsoleState&, bool send)
{
    showFromState();
    if (send)
        markDirtyRange(0, monitorMixCount(getContent()), 2);
}

void monfader::storeToState(ConsoleState& state)
{
    // A stored gain the fader cannot show exactly (off, or between its 0.1 dB steps) stays as it is
    // until the fader is moved.
    const double value = getValue();
    if (value == shownFromState_)
        return;
    state.setMonitorGain(input_, getChannel(), float(value));
    state.setMonitorGain(input_, getChannel() + 1, float(value));
    shownFromState_ = value;
}

void monfader::resetToDefault()
{
    ConsoleState& state = getContent().getState();
    const int mixes = monitorMixCount(getContent());
    for (int mix = 0; mix < mixes; mix += 2)
    {
        state.setMonitorGain(input_, mix, 0.0f);
        state.setMonitorGain(input_, mix + 1, 0.0f);
        markDirty(mix);
    }
    handleCommandMessage(0);
}

// --- MonitorFlagButton ---

MonitorFlagButton::MonitorFlagButton(ConsoleContext& content, int input, uint8_t bit)
    : CtrlGroupedButton(content, 0), input_(input), bit_(bit)
{
}

void MonitorFlagButton::writeBit(ConsoleState& state, int mix, bool on) const
{
    for (int m : {mix, mix + 1})
    {
        if (m < 0 || m >= ConsoleState::kMaxChannels)
            continue;
        const uint8_t byte = state.getByte(flagOffset(input_, m));
        state.setByte(flagOffset(input_, m), uint8_t(on ? byte | bit_ : byte & ~bit_));
    }
}

bool MonitorFlagButton::readBit(const ConsoleState& state, int mix) const
{
    return mix >= 0 && mix < ConsoleState::kMaxChannels &&
           (state.getByte(flagOffset(input_, mix)) & bit_) != 0;
}

void MonitorFlagButton::handleCommandMessage(int commandId)
{
    if (commandId == 0)
    {
        const int mix = readMix_.exchange(-1);
        if (mix >= 0)
        {
            writeBit(getContent().getState(), mix, readOn_.load());
            if (mix == getChannel())
                showValue(readOn_.load());
            soloMayHaveChanged();
        }
    }
    CtrlGroupedButton::handleCommandMessage(commandId);
}

void MonitorFlagButton::readFromDevice()
{
    const int mix = shownMix_.load();
    int value = 0;
    const int rval = deviceGet(mix, value);
    if (rval == 0)
    {
        readOn_.store(value != 0);
        readMix_.store(mix);
    }
    handleGetResult(rval, this);
}

void MonitorFlagButton::writeToDevice()
{
    const int bank = nextDirty();
    if (bank < 0)
        return;
    const int rval = deviceSet(bank, getContent().getState().getByte(flagOffset(input_, bank)) & bit_);
    soloMayHaveChanged();
    handleBankedSetResult(bank, rval);
}

void MonitorFlagButton::loadFromState(ConsoleState& state, bool send)
{
    showValue(readBit(state, getChannel()));
    shownMix_.store(getChannel());
    if (send)
        markDirtyRange(0, monitorMixCount(getContent()), 2);
}

void MonitorFlagButton::storeToState(ConsoleState& state)
{
    writeBit(state, getChannel(), getValue());
}

// --- monmute ---

monmute::monmute(ConsoleContext& content, juce::Component& strip, int input)
    : MonitorFlagButton(content, input, 1)
{
    const ConsoleImages& im = consoleImages();
    setName("mon mute");
    setImages(im.muteUp, im.muteLit, im.mutePressed);
    setBounds(content.getLayout().getMonitorMuteBounds());
    setup(strip);
}

CtrlGroupedButton* monmute::getGroupMember(juce::Component& strip)
{
    return findInStrip<monmute>(strip);
}

int monmute::deviceGet(int mix, int& value)
{
    return getContent().getDevice().getMonitorMute(getInput(), mix, value);
}

int monmute::deviceSet(int mix, int value)
{
    return getContent().getDevice().setMonitorMute(getInput(), mix, value);
}

void monmute::resetToDefault()
{
    ConsoleState& state = getContent().getState();
    const int mixes = monitorMixCount(getContent());
    for (int mix = 0; mix < mixes; mix += 2)
    {
        writeBit(state, mix, true);
        markDirty(mix);
    }
    // Each analog input is heard on the analog output pair of its own numbers.
    const int home = getInput() & ~1;
    const device::HwInfoCaps& caps = getContent().getHwInfo();
    if (home < mixes && caps.getInputMapType(uint32_t(home)) == device::HwInfoCaps::kGroupAnalog &&
        caps.getOutputMapType(uint32_t(home)) == device::HwInfoCaps::kGroupAnalog)
        writeBit(state, home, false);
    loadFromState(state, false);
}

// --- MonSolo ---

MonSolo::MonSolo(ConsoleContext& content, juce::Component& strip, int input)
    : MonitorFlagButton(content, input, 2)
{
    const ConsoleImages& im = consoleImages();
    setName("mon solo " + juce::String(input));
    setImages(im.soloUp, im.soloLit, im.soloPressed);
    setBounds(content.getLayout().getMonitorSoloBounds());
    setup(strip);
}

CtrlGroupedButton* MonSolo::getGroupMember(juce::Component& strip)
{
    return findInStrip<MonSolo>(strip);
}

void MonSolo::loadFromState(ConsoleState& state, bool send)
{
    MonitorFlagButton::loadFromState(state, send);
    soloMayHaveChanged();
}

void MonSolo::soloMayHaveChanged()
{
    getContent().solosChanged();
}

int MonSolo::deviceGet(int mix, int& value)
{
    return getContent().getDevice().getMonitorSolo(getInput(), mix, value);
}

int MonSolo::deviceSet(int mix, int value)
{
    return getContent().getDevice().setMonitorSolo(getInput(), mix, value);
}

void MonSolo::resetToDefault()
{
    ConsoleState& state = getContent().getState();
    const int mixes = monitorMixCount(getContent());
    for (int mix = 0; mix < mixes; mix += 2)
    {
        writeBit(state, mix, false);
        markDirty(mix);
    }
    loadFromState(state, false);
}

// --- MonGang ---

MonGang::MonGang(ConsoleContext& content, juce::Component& box, int channel)
    : content_(content), channel_(channel)
{
    setBounds(content.getLayout().getMonitorGangBounds());
    setup(box);
    reload();
}

void MonGang::clicked()
{
    content_.getState().setInputGanged(getToggleState(), channel_);
}

void MonGang::reload()
{
    setToggleState(content_.getState().isInputGanged(channel_), juce::dontSendNotification);
}

} // namespace console
