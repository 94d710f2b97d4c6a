#include "console/ui/strips/MasterStrips.h"

#include "console/core/ConsoleState.h"
#include "console/ui/strips/StripHeaders.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"
#include "console/ui/window/ConsoleLayout.h"
#include "device/Vhw.h"

#include <initializer_list>

namespace console
{
namespace
{

constexpr float kValueFontHeight = 12.5f;

bool isAnalogOutput(const ConsoleContext& content, int channel)
{
    return content.getHwInfo().getOutputMapType(uint32_t(channel)) == device::HwInfoCaps::kGroupAnalog;
}

} // namespace

int outputChannelCount(const ConsoleContext& content)
{
    return Alias::nameCount(content.getHwInfo().getOutputCount());
}

// --- MasterFader ---

MasterFader::MasterFader(ConsoleContext& content, juce::Component& box, int k) : Fader(content, k)
{
    const ConsoleLayout& layout = content.getLayout();
    setName("master fader " + juce::String(k));
    setBounds(layout.getMasterFaderBounds(k));
    setup(box);
    const juce::Rectangle<int> valueBox = layout.getMasterFaderValueBox(k);
    createValueBox(box, valueBox.getX(), valueBox.getY(), valueBox.getWidth(), valueBox.getHeight(),
                   kValueFontHeight);
}

void MasterFader::showFromState()
{
    showLoadedValue(getContent().getState().getOutputGain(getChannel()));
    shownFromState_ = getValue();
    shownChannel_.store(getChannel());
}

void MasterFader::handleCommandMessage(int)
{
    const int channel = readChannel_.exchange(-1);
    if (channel >= 0)
        getContent().getState().setOutputGain(channel, readDb_.load());
    showFromState();
}

void MasterFader::readFromDevice()
{
    const int channel = shownChannel_.load();
    float db = 0.0f;
    const int rval = getContent().getDevice().getOutputGain(channel, db);
    if (rval == 0)
    {
        readDb_.store(db);
        readChannel_.store(channel);
    }
    handleGetResult(rval, this);
}

void MasterFader::writeToDevice()
{
    const int bank = nextDirty();
    if (bank < 0)
        return;
    ConsoleContext& content = getContent();
    handleBankedSetResult(bank,
                          content.getDevice().setOutputGain(bank, content.getState().getOutputGain(bank)));
}

void MasterFader::loadFromState(ConsoleState&, bool send)
{
    showFromState();
    if (send)
        markDirtyRange(getChannel() & 1, outputChannelCount(getContent()), 2);
}

void MasterFader::storeToState(ConsoleState& state)
{
    const double value = getValue();
    if (value == shownFromState_)
        return;
    state.setOutputGain(getChannel(), float(value));
    shownFromState_ = value;
}

void MasterFader::resetToDefault()
{
    ConsoleState& state = getContent().getState();
    const int outputs = outputChannelCount(getContent());
    for (int i = getChannel() & 1; i < outputs; i += 2)
    {
        state.setOutputGain(i, 0.0f);
        markDirty(i);
    }
    handleCommandMessage(0);
}

// --- OutputRecordButton ---

OutputRecordButton::OutputRecordButton(ConsoleContext& content, int k, int byteIndex, uint8_t onValue)
    : ToggleBanked(content, k), byteIndex_(byteIndex), onValue_(onValue)
{
}

int OutputRecordButton::offsetOf(int channel) const
{
    return ConsoleState::kOutputRecords + channel * ConsoleState::kRecordBytes + byteIndex_;
}

void OutputRecordButton::handleCommandMessage(int commandId)
{
    if (commandId == 0)
    {
        const int channel = readChannel_.exchange(-1);
        if (channel >= 0)
        {
            const bool on = readOn_.load();
            ConsoleState& state = getContent().getState();
            if (storesFor(channel) && isOn(state.getByte(offsetOf(channel))) != on)
                state.setByte(offsetOf(channel), on ? onValue_ : 0);
            if (channel == getChannel())
                showValue(on);
        }
    }
    ToggleBanked::handleCommandMessage(commandId);
}

void OutputRecordButton::readFromDevice()
{
    const int channel = shownChannel_.load();
    int value = 0;
    const int rval = deviceGet(channel, value);
    if (rval == 0)
    {
        readOn_.store(value != 0);
        readChannel_.store(channel);
    }
    handleGetResult(rval, this);
}

void OutputRecordButton::writeToDevice()
{
    const int bank = nextDirty();
    if (bank < 0)
        return;
    const bool on = isOn(getContent().getState().getByte(offsetOf(bank)));
    handleBankedSetResult(bank, deviceSet(bank, on ? onValue_ : 0));
}

void OutputRecordButton::loadFromState(ConsoleState& state, bool send)
{
    showValue(isOn(state.getByte(offsetOf(getChannel()))));
    shownChannel_.store(getChannel());
    if (send)
        markDirtyRange(getChannel() & 1, outputChannelCount(getContent()), 2);
}

void OutputRecordButton::storeToState(ConsoleState& state)
{
    const int channel = getChannel();
    if (storesFor(channel) && isOn(state.getByte(offsetOf(channel))) != getValue())
        state.setByte(offsetOf(channel), getValue() ? onValue_ : 0);
}

void OutputRecordButton::resetToDefault()
{
    showValue(false);
    ConsoleState& state = getContent().getState();
    const int outputs = outputChannelCount(getContent());
    for (int i = getChannel() & 1; i < outputs; i += 2)
    {
        state.setByte(offsetOf(i), 0);
        markDirty(i);
    }
    handleCommandMessage(0);
}

// --- MasterMute ---

MasterMute::MasterMute(ConsoleContext& content, juce::Component& box, int k)
    : OutputRecordButton(content, k, 0, 1)
{
    const ConsoleImages& im = consoleImages();
    setName("master mute " + juce::String(k));
    setImages(im.muteUp, im.muteLit, im.mutePressed);
    setBounds(content.getLayout().getMuteBounds(k));
    setup(box);
}

int MasterMute::deviceGet(int channel, int& value)
{
    return getContent().getDevice().getOutputMute(channel, value);
}

int MasterMute::deviceSet(int channel, int value)
{
    return getContent().getDevice().setOutputMute(channel, value);
}

// --- OutNominal ---

OutNominal::OutNominal(ConsoleContext& content, juce::Component& box, int k)
    : OutputRecordButton(content, k, 1, 2)
{
    const ConsoleImages& im = consoleImages();
    setName("out nominal " + juce::String(k));
    setImages(im.nominalPlus4, im.nominalMinus10, im.nominalPressed);
    setBounds(content.getLayout().getOutputNominalBounds(k));
    setup(box);
}

bool OutNominal::storesFor(int channel) const
{
    return isAnalogOutput(getContent(), channel);
}

int OutNominal::deviceGet(int channel, int& value)
{
    return getContent().getDevice().getOutputNominal(channel, value);
}

int OutNominal::deviceSet(int channel, int value)
{
    return getContent().getDevice().setOutputNominal(channel, value);
}

// --- MasterAlias ---

MasterAlias::MasterAlias(ConsoleContext& content, juce::Component& box, int k) : Alias(content), channel_(k)
{
    setBounds(content.getLayout().getAliasBounds(k));
    attach(box);
}

void MasterAlias::clearNames()
{
    ConsoleState& state = getContent().getState();
    const int outputs = outputChannelCount(getContent());
    for (int o = channel_ & 1; o < outputs; o += 2)
        state.setOutputAlias(o, {});
}

void MasterAlias::reloadText()
{
    ConsoleState& state = getContent().getState();
    const device::HwInfoCaps& caps = getContent().getHwInfo();
    const int outputs = outputChannelCount(getContent());
    for (int o = channel_ & 1; o < outputs; o += 2)
    {
        // The default is stored at once, so it travels with the session.
        if (state.getOutputAlias(o).isEmpty())
        {
            const auto at = uint32_t(o);
            state.setOutputAlias(o,
                                 defaultName("Out ", caps.getOutputGroupShortName(caps.getOutputMapGroup(at)),
                                             caps.getOutputMapIndex(at)));
        }
    }
    setText(state.getOutputAlias(channel_), juce::dontSendNotification);
}

void MasterAlias::labelTextChanged(juce::Label*)
{
    getContent().getState().setOutputAlias(channel_, getText());
}

void MasterAlias::setChannel(int channel)
{
    // The name left is in the state block already: every committed edit was stored there.
    channel_ = channel;
    setText(getContent().getState().getOutputAlias(channel), juce::dontSendNotification);
}

// --- OutMeter ---

OutMeter::OutMeter(ConsoleContext& content, juce::Component& box, int k)
{
    const ConsoleImages& im = consoleImages();
    setBounds(content.getLayout().getOutputMeterBounds(k));
    setImages(im.meterLit, im.meterUnlit);
    attach(box);
}

// --- MasterGang ---

MasterGang::MasterGang(ConsoleContext& content, juce::Component& box) : content_(content)
{
    setBounds(content.getLayout().getMasterGangBounds());
    setup(box);
    reload();
}

void MasterGang::clicked()
{
    content_.getState().setOutputGanged(getToggleState(), channel_);
}

void MasterGang::reload()
{
    // Without its odd output a pair has nothing to gang: its controls would follow a hidden strip.
    const bool whole = channel_ + 1 < outputChannelCount(content_);
    setToggleState(whole && content_.getState().isOutputGanged(channel_), juce::dontSendNotification);
}

void MasterGang::setChannel(int channel)
{
    channel_ = channel;
    reload();
}

// --- MasterStripHdr ---

MasterStripHdr::MasterStripHdr(ConsoleContext& content, juce::Component& page) : content_(content)
{
    setBounds(content.getLayout().getMasterHeaderBounds());
    setOpaque(true);
    page.addAndMakeVisible(this);
}

void MasterStripHdr::setChannel(int channel)
{
    channel_ = channel;
    repaint();
}

juce::String MasterStripHdr::getCaption() const
{
    return outputTypeCaption(content_.getHwInfo().getOutputMapType(uint32_t(channel_)));
}

void MasterStripHdr::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
    g.setColour(juce::Colours::white);
    g.setFont(juce::Font(float(getHeight()) * 0.6f, juce::Font::bold));
    g.drawFittedText(getCaption(), 0, 0, getWidth(), getHeight(), juce::Justification::centred, 1, 0.7f);
}

// --- MasterStripBox ---

MasterStripBox::MasterStripBox(ConsoleContext& content, juce::Component& page)
    : content_(content), fader0_(content, *this, 0), fader1_(content, *this, 1), mute0_(content, *this, 0),
      mute1_(content, *this, 1),
      nominal0_(content.getHwInfo().hasOutputNominal(0) ? std::make_unique<OutNominal>(content, *this, 0)
                                                        : nullptr),
      nominal1_(content.getHwInfo().hasOutputNominal(1) ? std::make_unique<OutNominal>(content, *this, 1)
                                                        : nullptr),
      name0_(content, *this, 0), name1_(content, *this, 1), meter0_(content, *this, 0),
      meter1_(content, *this, 1), gang_(content, *this)
{
    setBounds(content.getLayout().getMasterBoxBounds());
    setOpaque(true);

    fader0_.setGang(&gang_, &fader1_);
    fader1_.setGang(&gang_, &fader0_);
    mute0_.setGang(&gang_, &mute1_);
    mute1_.setGang(&gang_, &mute0_);
    if (nominal0_ != nullptr && nominal1_ != nullptr)
    {
        nominal0_->setGang(&gang_, nominal1_.get());
        nominal1_->setGang(&gang_, nominal0_.get());
    }
    makeUpperLabel(upper0_, 0);
    makeUpperLabel(upper1_, 1);

    page.addAndMakeVisible(this);
    setPair(0);
}

void MasterStripBox::makeUpperLabel(juce::Label& label, int k)
{
    label.setName("master upper label");
    label.setJustificationType(juce::Justification::centred);
    // The whole width for the text, as the name labels have it.
    label.setBorderSize(juce::BorderSize<int>(1, 0, 1, 0));
    label.setBounds(content_.getLayout().getMasterUpperLabelBounds(k));
    content_.getLayout().applyStripLabelFont(label);
    setOutLabel(label, k);
    addAndMakeVisible(label);
}

void MasterStripBox::setOutLabel(juce::Label& label, int output)
{
    const int index = content_.getHwInfo().getOutputMapIndex(uint32_t(output));
    label.setText("Out " + juce::String(index + 1), juce::dontSendNotification);
}

void MasterStripBox::setPair(int channel)
{
    fader0_.setChannel(channel);
    mute0_.setChannel(channel);
    name0_.setChannel(channel);
    setOutLabel(upper0_, channel);
    fader1_.setChannel(channel + 1);
    mute1_.setChannel(channel + 1);
    name1_.setChannel(channel + 1);
    setOutLabel(upper1_, channel + 1);
    gang_.setChannel(channel);

    // The odd output of an odd count does not exist: its strip and the gang go.
    const bool odd = channel + 1 < outputChannelCount(content_);
    for (juce::Component* c : std::initializer_list<juce::Component*>{
             &fader1_, fader1_.getValueBox(), &mute1_, &name1_, &upper1_, &meter1_, &gang_})
        if (c != nullptr)
            c->setVisible(odd);
    if (nominal0_ != nullptr && nominal1_ != nullptr)
    {
        const bool analog = isAnalogOutput(content_, channel);
        nominal0_->setVisible(analog);
        nominal1_->setVisible(analog && odd);
        nominal0_->setChannel(channel);
        nominal1_->setChannel(channel + 1);
    }
    channel_ = channel;
}

void MasterStripBox::updateMeters(const PolledSnapshot& snapshot)
{
    meter0_.setLevel(snapshot.getOutputMeter(uint32_t(channel_)));
    meter1_.setLevel(snapshot.getOutputMeter(uint32_t(channel_) + 1));
}

void MasterStripBox::paint(juce::Graphics& g)
{
    g.drawImageAt(consoleImages().masterBackground, 0, 0);
}

} // namespace console
