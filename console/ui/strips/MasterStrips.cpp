#include "console/ui/strips/MasterStrips.h"

#include "console/core/ConsoleState.h"
#include "console/ui/strips/StripHeaders.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"
#include "device/Vhw.h"

#include <initializer_list>

namespace console
{
namespace
{

constexpr float kValueFontHeight = 12.5f;
constexpr int kMuteByte = 0;
constexpr int kNominalByte = 1;

bool isAnalogOutput(const ConsoleContext& content, int channel)
{
    return content.getHwInfo().getOutputMapType(uint32_t(channel)) == device::HwInfoCaps::kGroupAnalog;
}

int recordByte(int output, int byte)
{
    return ConsoleState::kOutputRecords + output * ConsoleState::kRecordBytes + byte;
}

float storedGain(const ConsoleContext& c, int, int output)
{
    return c.getState().getOutputGain(output);
}

void storeGain(ConsoleContext& c, int, int output, float db)
{
    c.getState().setOutputGain(output, db);
}

int readGain(ConsoleContext& c, int, int output, float& db)
{
    return c.getDevice().getOutputGain(output, db);
}

int sendGain(ConsoleContext& c, int, int output)
{
    return c.getDevice().setOutputGain(output, c.getState().getOutputGain(output));
}

// The switches keep a stored value they show as the state they are set to.
bool isMuted(const ConsoleContext& c, int, int output)
{
    return c.getState().getByte(recordByte(output, kMuteByte)) != 0;
}

void storeMute(ConsoleContext& c, int, int output, bool on)
{
    if (isMuted(c, 0, output) != on)
        c.getState().setByte(recordByte(output, kMuteByte), on ? 1 : 0);
}

void resetMute(ConsoleContext& c, int, int output)
{
    c.getState().setByte(recordByte(output, kMuteByte), 0);
}

int readMute(ConsoleContext& c, int, int output, int& value)
{
    return c.getDevice().getOutputMute(output, value);
}

int sendMute(ConsoleContext& c, int, int output)
{
    return c.getDevice().setOutputMute(output, isMuted(c, 0, output) ? 1 : 0);
}

bool isNominalOn(const ConsoleContext& c, int, int output)
{
    return c.getState().getByte(recordByte(output, kNominalByte)) == 2;
}

// Only an analog output stores its nominal level.
void storeNominal(ConsoleContext& c, int, int output, bool on)
{
    if (isAnalogOutput(c, output) && isNominalOn(c, 0, output) != on)
        c.getState().setByte(recordByte(output, kNominalByte), on ? 2 : 0);
}

void resetNominal(ConsoleContext& c, int, int output)
{
    c.getState().setByte(recordByte(output, kNominalByte), 0);
}

int readNominal(ConsoleContext& c, int, int output, int& value)
{
    return c.getDevice().getOutputNominal(output, value);
}

int sendNominal(ConsoleContext& c, int, int output)
{
    return c.getDevice().setOutputNominal(output, isNominalOn(c, 0, output) ? 2 : 0);
}

juce::String storedName(const ConsoleState& s, int output)
{
    return s.getOutputAlias(output);
}

void storeName(ConsoleState& s, int output, const juce::String& name)
{
    s.setOutputAlias(output, name);
}

bool isGanged(const ConsoleState& s, int channel)
{
    return s.isOutputGanged(channel);
}

void setGanged(ConsoleState& s, bool on, int channel)
{
    s.setOutputGanged(on, channel);
}

constexpr FaderBinding kGain{.get = storedGain,
                             .put = storeGain,
                             .read = readGain,
                             .write = sendGain,
                             .onLoad = ChannelSet::parity,
                             .onReset = ChannelSet::parity};

constexpr FlagBinding kMute{.get = isMuted,
                            .put = storeMute,
                            .clear = resetMute,
                            .read = readMute,
                            .write = sendMute,
                            .onLoad = ChannelSet::parity,
                            .onReset = ChannelSet::parity};

constexpr FlagBinding kNominal{.get = isNominalOn,
                               .put = storeNominal,
                               .clear = resetNominal,
                               .read = readNominal,
                               .write = sendNominal,
                               .onLoad = ChannelSet::parity,
                               .onReset = ChannelSet::parity};

constexpr NameBinding kName{
    .get = storedName, .set = storeName, .prefix = "Out ", .inputs = false, .count = outputChannelCount};

constexpr GangBinding kGang{.get = isGanged, .set = setGanged, .count = outputChannelCount};

} // namespace

// --- the controls ---

MasterFader::MasterFader(ConsoleContext& content, juce::Component& box, int k)
    : BankedFader(content, kGain, 0, k)
{
    const ConsoleLayout& layout = content.getLayout();
    setName("master fader " + juce::String(k));
    setBounds(layout.getMasterFaderBounds(k));
    setup(box);
    const juce::Rectangle<int> valueBox = layout.getMasterFaderValueBox(k);
    createValueBox(box, valueBox.getX(), valueBox.getY(), valueBox.getWidth(), valueBox.getHeight(),
                   kValueFontHeight);
}

MasterMute::MasterMute(ConsoleContext& content, juce::Component& box, int k)
    : BankedFlagButton(content, kMute, 0, k)
{
    const ConsoleImages& im = consoleImages();
    setName("master mute " + juce::String(k));
    setImages(im.muteUp, im.muteLit, im.mutePressed);
    setBounds(content.getLayout().getMuteBounds(k));
    setup(box);
}

OutNominal::OutNominal(ConsoleContext& content, juce::Component& box, int k)
    : BankedFlagButton(content, kNominal, 0, k)
{
    const ConsoleImages& im = consoleImages();
    setName("out nominal " + juce::String(k));
    setImages(im.nominalPlus4, im.nominalMinus10, im.nominalPressed);
    setBounds(content.getLayout().getOutputNominalBounds(k));
    setup(box);
}

MasterAlias::MasterAlias(ConsoleContext& content, juce::Component& box, int k)
    : ChannelNameLabel(content, kName, k)
{
    setBounds(content.getLayout().getAliasBounds(k));
    attach(box);
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

MasterGang::MasterGang(ConsoleContext& content, juce::Component& box) : StripGang(content, kGang, 0)
{
    setBounds(content.getLayout().getMasterGangBounds());
    setup(box);
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
