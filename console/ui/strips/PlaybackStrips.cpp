#include "console/ui/strips/PlaybackStrips.h"

#include "console/core/ConsoleState.h"
#include "console/ui/strips/MasterStrips.h"
#include "console/ui/strips/StripHeaders.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"
#include "console/ui/window/ConsoleLayout.h"
#include "device/Vhw.h"

#include <cstring>

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

// A read result: a flag, 23 bits of the generation, 8 of the channel and the value's 32 bits.
constexpr uint64_t kResultFlag = uint64_t(1) << 63;
constexpr uint32_t kGenerationMask = 0x7FFFFF;

} // namespace

// --- PlaybackRead ---

void PlaybackRead::put(int channel, float value, uint32_t generation)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    result_.store(kResultFlag | uint64_t(generation & kGenerationMask) << 40 |
                  uint64_t(uint32_t(channel) & 0xFF) << 32 | bits);
}

bool PlaybackRead::take(int& channel, float& value)
{
    const uint64_t result = result_.exchange(0);
    if (result == 0)
        return false;
    channel = int(result >> 32 & 0xFF);
    const auto bits = uint32_t(result);
    std::memcpy(&value, &bits, sizeof value);
    return uint32_t(result >> 40 & kGenerationMask) == (generation_.load() & kGenerationMask);
}

// --- PlayFader ---

PlayFader::PlayFader(ConsoleContext& content, juce::Component& parent, int index, int channel)
    : Fader(content, channel), shownChannel_(channel)
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
    Fader::setChannel(channel);
    getHwThread().queueGet(*this);
}

void PlayFader::showFromState()
{
    showLoadedValue(getContent().getState().getPlaybackGain(getChannel()));
    shownFromState_ = getValue();
    shownChannel_.store(getChannel());
}

void PlayFader::handleCommandMessage(int)
{
    int channel = -1;
    float db = 0.0f;
    if (read_.take(channel, db))
    {
        ConsoleState& state = getContent().getState();
        // The same gain reads as the same dB: the image changes only when the device's gain differs.
        if (state.getPlaybackGain(channel) != db)
            state.setPlaybackGain(channel, db);
    }
    showFromState();
}

void PlayFader::changeListenerCallback(juce::ChangeBroadcaster*)
{
    getHwThread().queueGet(*this);
}

void PlayFader::readFromDevice()
{
    const int channel = shownChannel_.load();
    const uint32_t generation = read_.begin();
    float db = 0.0f;
    const int rval = getContent().getDevice().getPlaybackGain(channel, db);
    if (rval == 0)
        read_.put(channel, db, generation);
    handleGetResult(rval, this);
}

void PlayFader::writeToDevice()
{
    const int channel = nextDirty();
    if (channel < 0)
        return;
    ConsoleContext& content = getContent();
    handleBankedSetResult(
        channel, content.getDevice().setPlaybackGain(channel, content.getState().getPlaybackGain(channel)));
}

void PlayFader::loadFromState(ConsoleState&, bool send)
{
    showFromState();
    if (send)
    {
        read_.invalidate();
        markDirtyRange(getChannel() & 1, outputChannelCount(getContent()), 2);
    }
}

void PlayFader::storeToState(ConsoleState& state)
{
    read_.invalidate();
    // A stored gain the fader cannot show exactly (off, or between its 0.1 dB steps) stays as it is
    // until the fader is moved.
    const double value = getValue();
    if (value == shownFromState_)
        return;
    state.setPlaybackGain(getChannel(), float(value));
    shownFromState_ = value;
}

void PlayFader::resetToDefault()
{
    read_.invalidate();
    ConsoleState& state = getContent().getState();
    const int outputs = outputChannelCount(getContent());
    for (int channel = 0; channel < outputs; ++channel)
    {
        state.setPlaybackGain(channel, 0.0f);
        markDirty(channel);
    }
    showFromState();
}

// --- PlaybackFlagButton ---

PlaybackFlagButton::PlaybackFlagButton(ConsoleContext& content, int channel)
    : ToggleBanked(content, channel), shownChannel_(channel)
{
}

int PlaybackFlagButton::getOutputCount() const
{
    return outputChannelCount(getContent());
}

void PlaybackFlagButton::handleCommandMessage(int commandId)
{
    int channel = -1;
    float value = 0.0f;
    if (commandId == 0 && read_.take(channel, value))
    {
        const bool on = value != 0.0f;
        ConsoleState& state = getContent().getState();
        if (readFlag(state, channel) != on)
            writeFlag(state, channel, on);
        if (channel == getChannel())
            showValue(on);
        flagMayHaveChanged();
    }
    ToggleBanked::handleCommandMessage(commandId);
}

void PlaybackFlagButton::readFromDevice()
{
    const int channel = shownChannel_.load();
    const uint32_t generation = read_.begin();
    int value = 0;
    const int rval = deviceGet(channel, value);
    if (rval == 0)
        read_.put(channel, value != 0 ? 1.0f : 0.0f, generation);
    handleGetResult(rval, this);
}

void PlaybackFlagButton::writeToDevice()
{
    const int channel = nextDirty();
    if (channel < 0)
        return;
    const int rval = deviceSet(channel);
    flagMayHaveChanged();
    handleBankedSetResult(channel, rval);
}

void PlaybackFlagButton::loadFromState(ConsoleState& state, bool send)
{
    showValue(readFlag(state, getChannel()));
    shownChannel_.store(getChannel());
    flagMayHaveChanged();
    if (send)
    {
        read_.invalidate();
        markDirtyRange(getChannel() & 1, getOutputCount(), 2);
    }
}

void PlaybackFlagButton::storeToState(ConsoleState& state)
{
    read_.invalidate();
    // A stored value other than 0 or 1 stays until the button is used.
    if (readFlag(state, getChannel()) != getValue())
        writeFlag(state, getChannel(), getValue());
}

// --- PlayMute ---

PlayMute::PlayMute(ConsoleContext& content, juce::Component& parent, int index, int channel)
    : PlaybackFlagButton(content, channel)
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

void PlayMute::changeListenerCallback(juce::ChangeBroadcaster*)
{
    getHwThread().queueGet(*this);
}

void PlayMute::resetToDefault()
{
    invalidateReads();
    ConsoleState& state = getContent().getState();
    const int outputs = getOutputCount();
    for (int channel = 0; channel < outputs; ++channel)
    {
        state.setPlaybackMute(channel, 0);
        markDirty(channel);
    }
    showValue(false);
}

bool PlayMute::readFlag(const ConsoleState& state, int channel) const
{
    return state.getPlaybackMute(channel);
}

void PlayMute::writeFlag(ConsoleState& state, int channel, bool on) const
{
    state.setPlaybackMute(channel, on ? 1 : 0);
}

int PlayMute::deviceGet(int channel, int& value)
{
    return getContent().getDevice().getPlaybackMute(channel, value);
}

int PlayMute::deviceSet(int channel)
{
    ConsoleContext& content = getContent();
    return content.getDevice().setPlaybackMute(channel, content.getState().getPlaybackMute(channel) ? 1 : 0);
}

// --- PlaySolo ---

PlaySolo::PlaySolo(ConsoleContext& content, juce::Component& parent, int index, int channel)
    : PlaybackFlagButton(content, channel)
{
    const ConsoleImages& im = consoleImages();
    setName("Play solo " + juce::String(channel));
    setImages(im.soloUp, im.soloLit, im.soloPressed);
    setBounds(content.getLayout().getPlaySoloBounds(index));
    setup(parent);
}

void PlaySolo::resetToDefault()
{
    invalidateReads();
    ConsoleState& state = getContent().getState();
    const int outputs = getOutputCount();
    for (int channel = getChannel() & 1; channel < outputs; channel += 2)
    {
        writeFlag(state, channel, false);
        markDirty(channel);
    }
    loadFromState(state, false);
}

bool PlaySolo::readFlag(const ConsoleState& state, int channel) const
{
    return inImage(channel) && state.getByte(soloOffset(channel)) != 0;
}

void PlaySolo::writeFlag(ConsoleState& state, int channel, bool on) const
{
    if (inImage(channel))
        state.setByte(soloOffset(channel), on ? 1 : 0);
}

int PlaySolo::deviceGet(int channel, int& value)
{
    value = 0;
    return getContent().getDevice().getPlaybackSolo(channel, value);
}

int PlaySolo::deviceSet(int channel)
{
    ConsoleContext& content = getContent();
    const int value = inImage(channel) ? content.getState().getByte(soloOffset(channel)) : 0;
    return content.getDevice().setPlaybackSolo(channel, value);
}

void PlaySolo::flagMayHaveChanged()
{
    getContent().solosChanged();
}

// --- PlayGang ---

PlayGang::PlayGang(ConsoleContext& content, juce::Component& box, int channel)
    : content_(content), channel_(channel)
{
    setBounds(content.getLayout().getPlayGangBounds());
    setup(box);
    setChannel(channel);
}

void PlayGang::setChannel(int channel)
{
    channel_ = channel;
    // Without its odd channel a pair has nothing to gang: its controls would follow a hidden strip.
    const bool whole = channel + 1 < outputChannelCount(content_);
    setToggleState(whole && content_.getState().isPlaybackGanged(channel), juce::dontSendNotification);
}

void PlayGang::reload()
{
    setChannel(channel_);
}

void PlayGang::clicked()
{
    content_.getState().setPlaybackGanged(getToggleState(), channel_);
}

// --- PlayAlias ---

PlayAlias::PlayAlias(ConsoleContext& content, juce::Component& parent, int index)
    : Alias(content), channel_(index)
{
    setBounds(content.getLayout().getAliasBounds(index));
    attach(parent);
}

int PlayAlias::channelCount() const
{
    return nameCount(getContent().getHwInfo().getPlaybackChannels(kNamedChannelsRate));
}

void PlayAlias::setChannel(int channel)
{
    commitEdit();
    channel_ = channel;
    setText(getContent().getState().getPlaybackAlias(channel), juce::dontSendNotification);
}

void PlayAlias::clearNames()
{
    ConsoleState& state = getContent().getState();
    const int count = channelCount();
    for (int i = channel_ & 1; i < count; i += 2)
        state.setPlaybackAlias(i, {});
}

void PlayAlias::reloadText()
{
    ConsoleState& state = getContent().getState();
    const device::HwInfoCaps& caps = getContent().getHwInfo();
    const int count = channelCount();
    // The defaults are stored at once, so they travel with the session.
    for (int i = channel_ & 1; i < count; i += 2)
        if (state.getPlaybackAlias(i).isEmpty())
        {
            const auto at = uint32_t(i);
            state.setPlaybackAlias(i, defaultName("Play ",
                                                  caps.getOutputGroupShortName(caps.getOutputMapGroup(at)),
                                                  caps.getOutputMapIndex(at)));
        }
    setText(state.getPlaybackAlias(channel_), juce::dontSendNotification);
}

void PlayAlias::labelTextChanged(juce::Label*)
{
    getContent().getState().setPlaybackAlias(channel_, getText());
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
