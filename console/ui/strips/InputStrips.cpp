#include "console/ui/strips/InputStrips.h"

#include "console/core/ConsoleState.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "device/Vhw.h"

namespace console
{
namespace
{

int recordOffset(int input)
{
    return ConsoleState::kInputRecords + input * ConsoleState::kRecordBytes;
}

juce::String storedName(const ConsoleState& s, int input)
{
    return s.getInputAlias(input);
}

void storeName(ConsoleState& s, int input, const juce::String& name)
{
    s.setInputAlias(input, name);
}

// The nominal switch's one channel is its input.
bool isNominalOn(const ConsoleContext& c, int, int input)
{
    return c.getState().getByte(recordOffset(input)) == 2;
}

// A stored value other than 0 or 2 (shown as off) stays until the switch is used.
void storeNominal(ConsoleContext& c, int, int input, bool on)
{
    if (isNominalOn(c, 0, input) != on)
        c.getState().setByte(recordOffset(input), on ? 2 : 0);
}

void resetNominal(ConsoleContext& c, int, int input)
{
    c.getState().setByte(recordOffset(input), 0);
}

int readNominal(ConsoleContext& c, int, int input, int& value)
{
    return c.getDevice().getInputNominal(input, value);
}

int sendNominal(ConsoleContext& c, int, int input)
{
    return c.getDevice().setInputNominal(input, isNominalOn(c, 0, input) ? 2 : 0);
}

constexpr NameBinding kName{
    .get = storedName, .set = storeName, .prefix = "In ", .inputs = true, .count = nullptr};

constexpr FlagBinding kNominal{.get = isNominalOn,
                               .put = storeNominal,
                               .clear = resetNominal,
                               .read = readNominal,
                               .write = sendNominal,
                               .onLoad = ChannelSet::own,
                               .onReset = ChannelSet::own};

} // namespace

// --- InAlias ---

InAlias::InAlias(ConsoleContext& content, juce::Component& strip, int input)
    : ChannelNameLabel(content, kName, input)
{
    setBounds(content.getLayout().getInputAliasBounds());
    attach(strip);
}

// --- InNominal ---

InNominal::InNominal(ConsoleContext& content, juce::Component& strip, int input)
    : BankedFlagButton(content, kNominal, input, input)
{
    const ConsoleImages& im = consoleImages();
    setName("in nominal " + juce::String(input));
    setImages(im.nominalPlus4, im.nominalMinus10, im.nominalPressed);
    setBounds(content.getLayout().getInputNominalBounds());
    setup(strip);
}

// --- InPanKnob ---

InPanKnob::InPanKnob(ConsoleContext& content, juce::Component& strip, int input)
    : PanKnob(content, strip), input_(input), read_(*this)
{
}

float InPanKnob::getPanFromState()
{
    return getContent().getState().getMonitorPan(input_, getChannel());
}

void InPanKnob::setPanInState(float pan)
{
    getContent().getState().setMonitorPan(input_, getChannel(), pan);
}

void InPanKnob::handleCommandMessage(int commandId)
{
    int mix = -1;
    float pan = 0.0f;
    ConsoleState& state = getContent().getState();
    if (read_.take(mix, pan) && state.getMonitorPan(input_, mix) != pan)
        state.setMonitorPan(input_, mix, pan);
    PanKnob::handleCommandMessage(commandId);
}

void InPanKnob::readFromDevice()
{
    const int mix = shownMix_.load();
    uint32_t generation = 0;
    if (!read_.begin(mix, generation))
        return;
    float pan = 0.0f;
    const int rval = getContent().getDevice().getMonitorPan(input_, mix, pan);
    if (rval == 0)
        read_.put(mix, pan, generation);
    handleGetResult(rval, this);
}

void InPanKnob::writeToDevice()
{
    const int bank = nextDirty();
    if (bank < 0)
        return;
    ConsoleContext& content = getContent();
    handleBankedSetResult(bank, content.getDevice().setMonitorPan(
                                    input_, bank, content.getState().getMonitorPan(input_, bank)));
}

void InPanKnob::loadFromState(ConsoleState&, bool send)
{
    setValue(getPanFromState(), juce::dontSendNotification);
    shownMix_.store(getChannel());
    if (!send)
        return;
    markDirtyRange(0, outputChannelCount(getContent()), 2);
}

void InPanKnob::resetToDefault()
{
    ConsoleState& state = getContent().getState();
    const float pan = (input_ & 1) != 0 ? 1.0f : 0.0f;
    const int mixes = outputChannelCount(getContent());
    for (int mix = 0; mix < mixes; mix += 2)
    {
        state.setMonitorPan(input_, mix, pan);
        markDirty(mix);
    }
    loadFromState(state, false);
}

// --- InMeter ---

InMeter::InMeter(ConsoleContext& content, juce::Component& strip)
{
    const ConsoleImages& im = consoleImages();
    setBounds(content.getLayout().getInputMeterBounds());
    setImages(im.meterLit, im.meterUnlit);
    attach(strip);
}

// --- instrip ---

instrip::instrip(ConsoleContext& content, int input)
    : input_(input), background_(consoleImages().stripBackground),
      upperLabel_("upper label " + juce::String(input),
                  juce::String(int(content.getHwInfo().getInputMapIndex(uint32_t(input))) + 1)),
      name_(content, *this, input), nominal_(content.getHwInfo().hasInputNominal(uint32_t(input))
                                                 ? std::make_unique<InNominal>(content, *this, input)
                                                 : nullptr),
      solo_(content, *this, input), mute_(content, *this, input), pan_(content, *this, input),
      meter_(content, *this), fader_(content, *this, input)
{
    const ConsoleLayout& layout = content.getLayout();
    setOpaque(true);
    upperLabel_.setJustificationType(juce::Justification::centred);
    upperLabel_.setColour(juce::Label::textColourId, layout.getInputLabelColour());
    upperLabel_.setColour(juce::Label::backgroundColourId, juce::Colours::transparentBlack);
    upperLabel_.setBounds(layout.getInputLabelBounds());
    layout.applyStripLabelFont(upperLabel_);
    addAndMakeVisible(upperLabel_);
    // The fader's rectangle reaches over the meter's, though its track and thumb are drawn to the right
    // of it. With the opaque meter on top, a meter's repaint paints the meter alone, not the fader too;
    // the meter lets clicks through to the fader.
    meter_.toFront(false);
}

void instrip::setMix(int mix)
{
    mix_ = mix;
    fader_.setChannel(mix);
    mute_.setChannel(mix);
    solo_.setChannel(mix);
    pan_.setChannel(mix);
}

void instrip::linkGang(Gang* gang, instrip& partner)
{
    fader_.setGang(gang, &partner.fader_);
    mute_.setGang(gang, &partner.mute_);
    solo_.setGang(gang, &partner.solo_);
    if (nominal_ != nullptr && partner.nominal_ != nullptr)
        nominal_->setGang(gang, partner.nominal_.get());
    pan_.setGang(gang, &partner.pan_);
    if (gang != nullptr && input_ % 2 == 0)
    {
        gang_ = gang;
        gang->setTopLeftPosition(gang->getX() + getX(), gang->getY());
    }
}

void instrip::updateMeter(const PolledSnapshot& snapshot)
{
    meter_.setLevel(snapshot.getInputMeter(uint32_t(input_)));
}

void instrip::paint(juce::Graphics& g)
{
    g.drawImageAt(background_, 0, 0);
}

// --- instripbox ---

instripbox::instripbox(ConsoleContext& content, juce::Component& page)
    : header_(content, *this), count_(content.getLayout().getInputStripCount())
{
    const ConsoleLayout& layout = content.getLayout();
    setBounds(layout.getInputSectionBounds());
    setOpaque(true);
    page.addAndMakeVisible(this);

    const int width = layout.getStripWidth();
    const int top = header_.getBottom();
    int x = 0;
    for (int i = 0; i < count_; ++i)
    {
        strips_[size_t(i)] = std::make_unique<instrip>(content, i);
        strips_[size_t(i)]->setBounds(x, top, width, getHeight() - header_.getHeight());
        addAndMakeVisible(*strips_[size_t(i)]);
        x += width;
    }
    // One gang per pair; an odd last input has no partner and no gang.
    for (int i = 0; i + 1 < count_; i += 2)
    {
        gangs_.push_back(std::make_unique<MonGang>(content, *this, i));
        Gang* gang = gangs_.back().get();
        strips_[size_t(i)]->linkGang(gang, *strips_[size_t(i) + 1]);
        strips_[size_t(i) + 1]->linkGang(gang, *strips_[size_t(i)]);
    }
}

instrip* instripbox::getInputStrip(int index) const
{
    return index >= 0 && index < count_ ? strips_[size_t(index)].get() : nullptr;
}

void instripbox::setMix(int mix)
{
    for (int i = 0; i < count_; ++i)
        strips_[size_t(i)]->setMix(mix);
}

void instripbox::updateMeters(const PolledSnapshot& snapshot)
{
    for (int i = 0; i < count_; ++i)
        strips_[size_t(i)]->updateMeter(snapshot);
}

} // namespace console
