#include "console/ui/strips/MonitorMix.h"

#include "console/core/ConsoleState.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/window/ConsoleLayout.h"
#include "device/Vhw.h"

namespace console
{
namespace
{

constexpr uint8_t kMuteBit = 1;
constexpr uint8_t kSoloBit = 2;

int flagOffset(int input, int mix)
{
    return ConsoleState::kMonitorFlags + input * ConsoleState::kMaxChannels + mix;
}

bool readBit(const ConsoleContext& content, int input, int mix, uint8_t bit)
{
    return mix >= 0 && mix < ConsoleState::kMaxChannels &&
           (content.getState().getByte(flagOffset(input, mix)) & bit) != 0;
}

// The bit in the flag bytes of both channels of the mix's pair.
void writeBit(ConsoleContext& content, int input, int mix, uint8_t bit, bool on)
{
    ConsoleState& state = content.getState();
    for (int m : {mix, mix + 1})
    {
        if (m < 0 || m >= ConsoleState::kMaxChannels)
            continue;
        const uint8_t byte = state.getByte(flagOffset(input, m));
        state.setByte(flagOffset(input, m), uint8_t(on ? byte | bit : byte & ~bit));
    }
}

int sentBit(const ConsoleContext& content, int input, int mix, uint8_t bit)
{
    return content.getState().getByte(flagOffset(input, mix)) & bit;
}

// Each analog input is heard on the analog output pair of its own numbers.
bool isHomeMix(const ConsoleContext& content, int input, int mix)
{
    const int home = input & ~1;
    const device::HwInfoCaps& caps = content.getHwInfo();
    return mix == home && caps.getInputMapType(uint32_t(home)) == device::HwInfoCaps::kGroupAnalog &&
           caps.getOutputMapType(uint32_t(home)) == device::HwInfoCaps::kGroupAnalog;
}

constexpr FaderBinding kGain{
    [](const ConsoleContext& c, int input, int mix) { return c.getState().getMonitorGain(input, mix); },
    [](ConsoleContext& c, int input, int mix, float db)
    {
        c.getState().setMonitorGain(input, mix, db);
        c.getState().setMonitorGain(input, mix + 1, db);
    },
    [](ConsoleContext& c, int input, int mix, float& db)
    { return c.getDevice().getMonitorGain(input, mix, db); },
    [](ConsoleContext& c, int input, int mix)
    { return c.getDevice().setMonitorGain(input, mix, c.getState().getMonitorGain(input, mix)); },
    ChannelSet::parity,
    ChannelSet::parity};

constexpr FlagBinding kMute{
    [](const ConsoleContext& c, int input, int mix) { return readBit(c, input, mix, kMuteBit); },
    [](ConsoleContext& c, int input, int mix, bool on) { writeBit(c, input, mix, kMuteBit, on); },
    [](ConsoleContext& c, int input, int mix)
    { writeBit(c, input, mix, kMuteBit, !isHomeMix(c, input, mix)); },
    [](ConsoleContext& c, int input, int mix, int& value)
    { return c.getDevice().getMonitorMute(input, mix, value); },
    [](ConsoleContext& c, int input, int mix)
    { return c.getDevice().setMonitorMute(input, mix, sentBit(c, input, mix, kMuteBit)); },
    ChannelSet::parity,
    ChannelSet::parity,
    false,
    true};

constexpr FlagBinding kSolo{
    [](const ConsoleContext& c, int input, int mix) { return readBit(c, input, mix, kSoloBit); },
    [](ConsoleContext& c, int input, int mix, bool on) { writeBit(c, input, mix, kSoloBit, on); },
    [](ConsoleContext& c, int input, int mix) { writeBit(c, input, mix, kSoloBit, false); },
    [](ConsoleContext& c, int input, int mix, int& value)
    { return c.getDevice().getMonitorSolo(input, mix, value); },
    [](ConsoleContext& c, int input, int mix)
    { return c.getDevice().setMonitorSolo(input, mix, sentBit(c, input, mix, kSoloBit)); },
    ChannelSet::parity,
    ChannelSet::parity,
    true,
    true};

constexpr GangBinding kGang{[](const ConsoleState& s, int channel) { return s.isInputGanged(channel); },
                            [](ConsoleState& s, bool on, int channel) { s.setInputGanged(on, channel); },
                            [](const ConsoleContext& c) { return c.getLayout().getInputStripCount(); }};

} // namespace

monfader::monfader(ConsoleContext& content, juce::Component& strip, int input)
    : BankedFader(content, kGain, input, 0)
{
    const ConsoleLayout& layout = content.getLayout();
    setName("mon fader " + juce::String(input));
    setBounds(layout.getMonitorFaderBounds());
    setup(strip);
    const juce::Rectangle<int> box = layout.getMonitorFaderValueBox();
    createValueBox(strip, box.getX(), box.getY(), box.getWidth(), box.getHeight(),
                   layout.getMonitorFaderValueFontHeight());
}

monmute::monmute(ConsoleContext& content, juce::Component& strip, int input)
    : BankedFlagButton(content, kMute, input, 0)
{
    const ConsoleImages& im = consoleImages();
    setName("mon mute");
    setImages(im.muteUp, im.muteLit, im.mutePressed);
    setBounds(content.getLayout().getMonitorMuteBounds());
    setup(strip);
}

MonSolo::MonSolo(ConsoleContext& content, juce::Component& strip, int input)
    : BankedFlagButton(content, kSolo, input, 0)
{
    const ConsoleImages& im = consoleImages();
    setName("mon solo " + juce::String(input));
    setImages(im.soloUp, im.soloLit, im.soloPressed);
    setBounds(content.getLayout().getMonitorSoloBounds());
    setup(strip);
}

MonGang::MonGang(ConsoleContext& content, juce::Component& box, int channel)
    : StripGang(content, kGang, channel)
{
    setBounds(content.getLayout().getMonitorGangBounds());
    setup(box);
    reload();
}

} // namespace console
