#include "console/ui/strips/PlaybackStrips.h"

#include "console/core/ConsoleState.h"
#include "console/ui/strips/StripHeaders.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"
#include "device/Vhw.h"

namespace console
{
namespace
{

constexpr float kValueFontHeight = 12.5f;
constexpr int kSoloByte = 1; // in a playback record
// The rate whose playback channels have names (the most channels the unit streams).
constexpr uint32_t kNamedChannelsRate = 48000;

bool inImage(int channel)
{
    return channel >= 0 && channel < ConsoleState::kMaxChannels;
}

int soloOffset(int channel)
{
    return ConsoleState::kPlaybackRecords + channel * ConsoleState::kRecordBytes + kSoloByte;
}

// Levels and mutes go through the device's system-volume link.

float storedGain(const ConsoleContext& c, int, int channel)
{
    return c.getState().getPlaybackGain(channel);
}

void storeGain(ConsoleContext& c, int, int channel, float db)
{
    c.getState().setPlaybackGain(channel, db);
}

int readGain(ConsoleContext& c, int, int channel, float& db)
{
    return c.getDevice().getPlaybackGain(channel, db);
}

int sendGain(ConsoleContext& c, int, int channel)
{
    return c.getDevice().setPlaybackGain(channel, c.getState().getPlaybackGain(channel));
}

// A stored value other than 0 or 1 stays until the button is used.
bool isMuted(const ConsoleContext& c, int, int channel)
{
    return c.getState().getPlaybackMute(channel);
}

void storeMute(ConsoleContext& c, int, int channel, bool on)
{
    if (isMuted(c, 0, channel) != on)
        c.getState().setPlaybackMute(channel, on ? 1 : 0);
}

void resetMute(ConsoleContext& c, int, int channel)
{
    c.getState().setPlaybackMute(channel, 0);
}

int readMute(ConsoleContext& c, int, int channel, int& value)
{
    return c.getDevice().getPlaybackMute(channel, value);
}

int sendMute(ConsoleContext& c, int, int channel)
{
    return c.getDevice().setPlaybackMute(channel, isMuted(c, 0, channel) ? 1 : 0);
}

bool isSoloed(const ConsoleContext& c, int, int channel)
{
    return inImage(channel) && c.getState().getByte(soloOffset(channel)) != 0;
}

void storeSolo(ConsoleContext& c, int, int channel, bool on)
{
    if (inImage(channel) && isSoloed(c, 0, channel) != on)
        c.getState().setByte(soloOffset(channel), on ? 1 : 0);
}

void resetSolo(ConsoleContext& c, int, int channel)
{
    if (inImage(channel))
        c.getState().setByte(soloOffset(channel), 0);
}

int readSolo(ConsoleContext& c, int, int channel, int& value)
{
    value = 0;
    return c.getDevice().getPlaybackSolo(channel, value);
}

// The stored byte as it is.
int sendSolo(ConsoleContext& c, int, int channel)
{
    return c.getDevice().setPlaybackSolo(channel,
                                         inImage(channel) ? c.getState().getByte(soloOffset(channel)) : 0);
}

juce::String storedName(const ConsoleState& s, int channel)
{
    return s.getPlaybackAlias(channel);
}

void storeName(ConsoleState& s, int channel, const juce::String& name)
{
    s.setPlaybackAlias(channel, name);
}

int namedChannels(const ConsoleContext& c)
{
    return Alias::nameCount(c.getHwInfo().getPlaybackChannels(kNamedChannelsRate));
}

bool isGanged(const ConsoleState& s, int channel)
{
    return s.isPlaybackGanged(channel);
}

void setGanged(ConsoleState& s, bool on, int channel)
{
    s.setPlaybackGanged(on, channel);
}

constexpr FaderBinding kGain{.get = storedGain,
                             .put = storeGain,
                             .read = readGain,
                             .write = sendGain,
                             .onLoad = ChannelSet::parity,
                             .onReset = ChannelSet::all};

constexpr FlagBinding kMute{.get = isMuted,
                            .put = storeMute,
                            .clear = resetMute,
                            .read = readMute,
                            .write = sendMute,
                            .onLoad = ChannelSet::parity,
                            .onReset = ChannelSet::all};

constexpr FlagBinding kSolo{.get = isSoloed,
                            .put = storeSolo,
                            .clear = resetSolo,
                            .read = readSolo,
                            .write = sendSolo,
                            .onLoad = ChannelSet::parity,
                            .onReset = ChannelSet::parity,
                            .solo = true};

constexpr NameBinding kName{
    .get = storedName, .set = storeName, .prefix = "Play ", .inputs = false, .count = namedChannels};

constexpr GangBinding kGang{.get = isGanged, .set = setGanged, .count = outputChannelCount};

} // namespace

// --- PlayFader ---

PlayFader::PlayFader(ConsoleContext& content, juce::Component& parent, int index, int channel)
    : BankedFader(content, kGain, 0, channel)
{
    const ConsoleLayout& layout = content.getLayout();
    setName("play fader " + juce::String(channel));
    setBounds(layout.getPlayFaderBounds(index));
    setup(parent);
    const juce::Rectangle<int> box = layout.getPlayFaderValueBox(index);
    createValueBox(parent, box.getX(), box.getY(), box.getWidth(), box.getHeight(), kValueFontHeight);
    content.getDevice().addVolumeListener(this);
}

PlayFader::~PlayFader()
{
    getContent().getDevice().removeVolumeListener(this);
}

void PlayFader::setChannel(int channel)
{
    BankedFader::setChannel(channel);
    getHwThread().queueGet(*this);
}

void PlayFader::changeListenerCallback(juce::ChangeBroadcaster*)
{
    getHwThread().queueGet(*this);
}

// --- PlayMute ---

PlayMute::PlayMute(ConsoleContext& content, juce::Component& parent, int index, int channel)
    : BankedFlagButton(content, kMute, 0, channel)
{
    const ConsoleImages& im = consoleImages();
    setName("play mute " + juce::String(channel));
    setImages(im.muteUp, im.muteLit, im.mutePressed);
    setBounds(content.getLayout().getMuteBounds(index));
    setup(parent);
    content.getDevice().addVolumeListener(this);
}

PlayMute::~PlayMute()
{
    getContent().getDevice().removeVolumeListener(this);
}

void PlayMute::setChannel(int channel)
{
    BankedFlagButton::setChannel(channel);
    getHwThread().queueGet(*this);
}

void PlayMute::changeListenerCallback(juce::ChangeBroadcaster*)
{
    getHwThread().queueGet(*this);
}

// --- PlaySolo ---

PlaySolo::PlaySolo(ConsoleContext& content, juce::Component& parent, int index, int channel)
    : BankedFlagButton(content, kSolo, 0, channel)
{
    const ConsoleImages& im = consoleImages();
    setName("Play solo " + juce::String(channel));
    setImages(im.soloUp, im.soloLit, im.soloPressed);
    setBounds(content.getLayout().getPlaySoloBounds(index));
    setup(parent);
}

// --- PlayGang ---

PlayGang::PlayGang(ConsoleContext& content, juce::Component& box, int channel)
    : StripGang(content, kGang, channel)
{
    setBounds(content.getLayout().getPlayGangBounds());
    setup(box);
    setChannel(channel);
}

// --- PlayAlias ---

PlayAlias::PlayAlias(ConsoleContext& content, juce::Component& parent, int index)
    : ChannelNameLabel(content, kName, index)
{
    setBounds(content.getLayout().getAliasBounds(index));
    attach(parent);
}

// --- PlayStrip ---

PlayStrip::PlayStrip(ConsoleContext& content, juce::Component& parent, int index, int channel)
    : channel_(channel), index_(index),
      upperLabel_("upper play label " + juce::String(index), juce::String(index + 1)),
      name_(content, parent, index), mute_(content, parent, index, channel),
      fader_(content, parent, index, channel), solo_(content, parent, index, channel)
{
    const ConsoleLayout& layout = content.getLayout();
    upperLabel_.setJustificationType(juce::Justification::centred);
    upperLabel_.setBounds(layout.getPlayLabelBounds().translated(index * layout.getStripWidth(), 0));
    layout.stylePlayLabel(upperLabel_);
    parent.addAndMakeVisible(upperLabel_);
}

void PlayStrip::setChannel(int n)
{
    const juce::String text(n + 1);
    channel_ = n;
    fader_.setChannel(n);
    mute_.setChannel(n);
    // The gang belongs to the pair: the even strip points it.
    if (n % 2 == 0 && gang_ != nullptr)
        gang_->setChannel(n);
    name_.setChannel(n);
    upperLabel_.setText(text, juce::dontSendNotification);
    solo_.setChannel(n);
}

void PlayStrip::setVisible(bool visible)
{
    for (juce::Component* c : std::initializer_list<juce::Component*>{&upperLabel_, &name_, &mute_, &fader_,
                                                                      fader_.getValueBox(), &solo_})
        if (c != nullptr)
            c->setVisible(visible);
}

void PlayStrip::linkPartner(PlayGang* gang, PlayStrip& partner)
{
    fader_.setGang(gang, &partner.fader_);
    mute_.setGang(gang, &partner.mute_);
    solo_.setGang(gang, &partner.solo_);
    gang_ = gang;
}

// --- PlayStripBox ---

PlayStripBox::PlayStripBox(ConsoleContext& content, juce::Component& page)
    : juce::Component("play strip box"), content_(content)
{
    setBounds(content.getLayout().getPlayBoxBounds());
    setOpaque(true);
    page.addAndMakeVisible(this);
}

PlayStripBox::~PlayStripBox() = default;

void PlayStripBox::setPair(int first)
{
    first_ = first;
    repaint();
}

PlayStrip* PlayStripBox::getStrip(int index) const
{
    return index >= 0 && index < getStripCount() ? strips_[size_t(index)].get() : nullptr;
}

void PlayStripBox::paint(juce::Graphics& g)
{
    const juce::Image& background = consoleImages().playBackground;
    g.fillAll(kDark);
    for (int pair = 0; pair < (getStripCount() + 1) / 2; ++pair)
        g.drawImageAt(background, pair * background.getWidth(), 0);
}

// --- DirectPlayStripBox ---

DirectPlayStripBox::DirectPlayStripBox(ConsoleContext& content, juce::Component& page)
    : PlayStripBox(content, page)
{
    for (int i = 0; i < 2; ++i)
        strips_.push_back(std::make_unique<PlayStrip>(content, *this, i, i));
    createGangs();
}

DirectPlayStripBox::~DirectPlayStripBox() = default;

void DirectPlayStripBox::createGangs()
{
    const int width = content_.getLayout().getStripWidth();
    for (int i = 0; i + 1 < getStripCount(); i += 2)
    {
        gangs_.push_back(std::make_unique<PlayGang>(content_, *this, i));
        PlayGang* gang = gangs_.back().get();
        strips_[size_t(i)]->linkPartner(gang, *strips_[size_t(i) + 1]);
        strips_[size_t(i) + 1]->linkPartner(gang, *strips_[size_t(i)]);
        // Over its own pair of strips.
        gang->setTopLeftPosition(gang->getX() + i * width, gang->getY());
    }
}

void DirectPlayStripBox::setPair(int first)
{
    for (int i = 0; i + 1 < getStripCount(); i += 2)
    {
        strips_[size_t(i)]->setChannel(first);
        strips_[size_t(i) + 1]->setChannel(first + 1);
    }
    // The odd channel of an odd output count has no output and is not sent: its strip and the gang go.
    const bool whole = first + 1 < outputChannelCount(content_);
    for (int i = 1; i < getStripCount(); i += 2)
        strips_[size_t(i)]->setVisible(whole);
    for (const auto& gang : gangs_)
        gang->setVisible(whole);
    PlayStripBox::setPair(first);
}

// --- PlayStripHdr ---

PlayStripHdr::PlayStripHdr(ConsoleContext& content, juce::Component& page)
    : juce::Label("play strip hdr", {}), content_(content)
{
    applyStyle();
    setBounds(content.getLayout().getPlayHeaderBounds());
    setOpaque(true);
    page.addAndMakeVisible(this);
}

void PlayStripHdr::applyStyle()
{
    setFont(juce::Font(14.0f, juce::Font::bold));
    updateCaption();
    setColour(juce::Label::textColourId, juce::Colours::white);
    setColour(juce::Label::backgroundColourId, kDark);
    setJustificationType(juce::Justification::centred);
}

void PlayStripHdr::setGroup(int first)
{
    first_ = first;
    updateCaption();
}

void PlayStripHdr::updateCaption()
{
    setText(outputTypeCaption(content_.getHwInfo().getOutputType(uint32_t(first_))),
            juce::dontSendNotification);
}

} // namespace console
