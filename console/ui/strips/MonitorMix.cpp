#include "console/ui/strips/MonitorMix.h"

#include "console/core/ConsoleState.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "device/Vhw.h"

namespace console
{
namespace
{

// Monitor-mix values live in the state block per input and output channel; a store writes both
// channels of the mix's pair.

constexpr uint8_t kMuteBit = 1;
constexpr uint8_t kSoloBit = 2;

int flagOffset(int input, int mix)
{
    return ConsoleState::kMonitorFlags + input * ConsoleState::kMaxChannels + mix;
}

float storedGain(const ConsoleContext& c, int input, int mix)
{
    return c.getState().getMonitorGain(input, mix);
}

void storeGain(ConsoleContext& c, int input, int mix, float db)
{
    c.getState().setMonitorGain(input, mix, db);
    c.getState().setMonitorGain(input, mix + 1, db);
}

int readGain(ConsoleContext& c, int input, int mix, float& db)
{
    return c.getDevice().getMonitorGain(input, mix, db);
}

int sendGain(ConsoleContext& c, int input, int mix)
{
    return c.getDevice().setMonitorGain(input, mix, c.getState().getMonitorGain(input, mix));
}

// The mute (bit 0) and the solo (bit 1) of the input's flag bytes.
template <uint8_t bit> bool storedBit(const ConsoleContext& c, int input, int mix)
{
    return mix >= 0 && mix < ConsoleState::kMaxChannels &&
           (c.getState().getByte(flagOffset(input, mix)) & bit) != 0;
}

template <uint8_t bit> void storeBit(ConsoleContext& c, int input, int mix, bool on)
{
    for (int m : {mix, mix + 1})
        if (m >= 0 && m < ConsoleState::kMaxChannels)
            c.getState().setByteBits(flagOffset(input, m), bit, on ? bit : 0);
}

// The device takes the bit as it lies in the flag byte: 1 for a mute, 2 for a solo.
template <uint8_t bit> int sentBit(const ConsoleContext& c, int input, int mix)
{
    return c.getState().getByte(flagOffset(input, mix)) & bit;
}

// Each analog input is heard on the analog output pair of its own numbers.
bool isHomeMix(const ConsoleContext& c, int input, int mix)
{
    const int home = input & ~1;
    const device::HwInfoCaps& caps = c.getHwInfo();
    return mix == home && caps.getInputMapType(uint32_t(home)) == device::HwInfoCaps::kGroupAnalog &&
           caps.getOutputMapType(uint32_t(home)) == device::HwInfoCaps::kGroupAnalog;
}

void resetMute(ConsoleContext& c, int input, int mix)
{
    storeBit<kMuteBit>(c, input, mix, !isHomeMix(c, input, mix));
}

int readMute(ConsoleContext& c, int input, int mix, int& value)
{
    return c.getDevice().getMonitorMute(input, mix, value);
}

int sendMute(ConsoleContext& c, int input, int mix)
{
    return c.getDevice().setMonitorMute(input, mix, sentBit<kMuteBit>(c, input, mix));
}

void resetSolo(ConsoleContext& c, int input, int mix)
{
    storeBit<kSoloBit>(c, input, mix, false);
}

int readSolo(ConsoleContext& c, int input, int mix, int& value)
{
    return c.getDevice().getMonitorSolo(input, mix, value);
}

int sendSolo(ConsoleContext& c, int input, int mix)
{
    return c.getDevice().setMonitorSolo(input, mix, sentBit<kSoloBit>(c, input, mix));
}

bool isGanged(const ConsoleState& s, int channel)
{
    return s.isInputGanged(channel);
}

void setGanged(ConsoleState& s, bool on, int channel)
{
    s.setInputGanged(on, channel);
}

int inputStrips(const ConsoleContext& c)
{
    return c.getLayout().getInputStripCount();
}

constexpr FaderBinding kGain{.get = storedGain,
                             .put = storeGain,
                             .read = readGain,
                             .write = sendGain,
                             .onLoad = ChannelSet::parity,
                             .onReset = ChannelSet::parity};

constexpr FlagBinding kMute{.get = storedBit<kMuteBit>,
                            .put = storeBit<kMuteBit>,
                            .clear = resetMute,
                            .read = readMute,
                            .write = sendMute,
                            .onLoad = ChannelSet::parity,
                            .onReset = ChannelSet::parity,
                            .grouped = true};

constexpr FlagBinding kSolo{.get = storedBit<kSoloBit>,
                            .put = storeBit<kSoloBit>,
                            .clear = resetSolo,
                            .read = readSolo,
                            .write = sendSolo,
                            .onLoad = ChannelSet::parity,
                            .onReset = ChannelSet::parity,
                            .solo = true,
                            .grouped = true};

constexpr GangBinding kGang{.get = isGanged, .set = setGanged, .count = inputStrips};

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
