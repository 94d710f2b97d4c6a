#pragma once

// The playback section of the mixer page: a header with the caption of the shown pair's output type and
// two playback strips, one per channel of the output pair on show (playback channel n is shown with
// output n). A strip shows the channel's number, its editable name, its solo and mute in the device's
// playback mix and its level; the two strips share a gang button. The section is built once per window
// and rebound to the pair on show.
//
// The levels and mutes are also the volumes of the unit's playback endpoints in the system's volume
// controls: they are sent through the device's system-volume link, and the link's change message (a
// change made there, or a mute, which reaches every channel of its endpoint) makes the faders and mutes
// read their shown channels from the device again, as does a switch to another pair (StripControls.h: a
// read never undoes a write of the control's to the state block).
//
// Message thread, except the device operations (readFromDevice, writeToDevice) on the hardware thread.

#include "console/ui/strips/StripControls.h"
#include "console/ui/widgets/PageSection.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

namespace console
{

class ConsoleContext;

// The level of a playback channel: its gain in the playback-gain words of the state block. With send,
// a load marks every channel of the fader's parity below the output count; a reset sets every channel.
class PlayFader : public BankedFader, public juce::ChangeListener
{
public:
    // "play fader <channel>": the layout's playback fader and value box of strip index, in parent;
    // listens to the device's system-volume link.
    PlayFader(ConsoleContext& content, juce::Component& parent, int index, int channel);
    ~PlayFader() override;

    // Shows the state block's value of the channel at once, then asks the device for it.
    void setChannel(int channel) override;
    // A volume changed outside: read the shown channel.
    void changeListenerCallback(juce::ChangeBroadcaster* source) override;
};

// The mute of a playback channel: byte 0 of its playback record. Muting a channel mutes every channel of
// its endpoint. A reset unmutes every channel below the output count.
class PlayMute : public BankedFlagButton, public juce::ChangeListener
{
public:
    // "play mute <channel>": the layout's mute faces and mute rectangle of strip index, in parent;
    // listens to the device's system-volume link.
    PlayMute(ConsoleContext& content, juce::Component& parent, int index, int channel);
    ~PlayMute() override;

    // Shows the state block's value of the channel at once, then asks the device for it: a mute made
    // outside while another pair was on show (the system's volume control, or a mute of an endpoint
    // that carries channels of several pairs) was read by neither strip.
    void setChannel(int channel) override;
    // A mute or volume changed outside: read the shown channel.
    void changeListenerCallback(juce::ChangeBroadcaster* source) override;
};

// The solo of a playback channel: byte 1 of its playback record. A reset clears the solos of its parity.
class PlaySolo : public BankedFlagButton
{
public:
    // "Play solo <channel>": the layout's solo faces and solo rectangle of strip index, in parent.
    PlaySolo(ConsoleContext& content, juce::Component& parent, int index, int channel);
};

// The gang button of the strip pair: the shown pair's bit of the playback-gang mask.
class PlayGang : public StripGang
{
public:
    // The layout's playback-gang rectangle in box; set from the mask.
    PlayGang(ConsoleContext& content, juce::Component& box, int channel);
};

// The name of a playback channel; an empty name gets "Play " + the short name of output n's group + the
// number within the group, stored at once. The two labels keep the names of one parity each.
class PlayAlias : public ChannelNameLabel
{
public:
    // The layout's name rectangle of strip index, in parent; channel = index.
    PlayAlias(ConsoleContext& content, juce::Component& parent, int index);
};

// One playback strip: its components belong to the box they are shown in.
class PlayStrip
{
public:
    PlayStrip(ConsoleContext& content, juce::Component& parent, int index, int channel);
    virtual ~PlayStrip() = default;
    PlayStrip(const PlayStrip&) = delete;
    PlayStrip& operator=(const PlayStrip&) = delete;

    // Every control of the strip shows playback channel n; the gang follows only on an even channel.
    void setChannel(int n);
    // Shows or hides every component of the strip.
    void setVisible(bool visible);
    // The strip's gang button, and the partner strip's controls as the partners of its own.
    void linkPartner(PlayGang* gang, PlayStrip& partner);

    int getChannel() const { return channel_; }
    int getIndex() const { return index_; }
    PlayFader& getFader() { return fader_; }
    PlayMute& getMute() { return mute_; }
    PlaySolo& getSolo() { return solo_; }
    PlayAlias& getAlias() { return name_; }
    juce::Label& getUpperLabel() { return upperLabel_; }
    PlayGang* getGang() const { return gang_; }

private:
    int channel_;
    const int index_;
    PlayGang* gang_ = nullptr;
    // In the order they are added to the box.
    juce::Label upperLabel_;
    PlayAlias name_;
    PlayMute mute_;
    PlayFader fader_;
    PlaySolo solo_;
};

// The box of the playback strips, on the section's background picture.
class PlayStripBox : public juce::Component
{
public:
    // "play strip box": the layout's playback-section rectangle; added to page.
    PlayStripBox(ConsoleContext& content, juce::Component& page);
    ~PlayStripBox() override;

    // The pair whose first channel this is is on show.
    virtual void setPair(int first);
    int getStripCount() const { return int(strips_.size()); }
    PlayStrip* getStrip(int index) const;

    // The background picture once per pair of strips.
    void paint(juce::Graphics& g) override;

protected:
    ConsoleContext& content_;
    int first_ = 0;
    std::vector<std::unique_ptr<PlayStrip>> strips_;
};

// The page's playback strips: two, for the two channels of the pair on show, with one gang button.
class DirectPlayStripBox : public PlayStripBox, public PageSection
{
public:
    DirectPlayStripBox(ConsoleContext& content, juce::Component& page);
    ~DirectPlayStripBox() override;

    // Strips i and i + 1 show channels first and first + 1; without an output first + 1 (an odd output
    // count), strip i + 1 and the gang are hidden.
    void setPair(int first) override;
    void showPair(int firstOutput) override { setPair(firstOutput); }
    const std::vector<std::unique_ptr<PlayGang>>& getGangs() const { return gangs_; }

private:
    void createGangs();

    std::vector<std::unique_ptr<PlayGang>> gangs_;
};

// The header over the playback strips: the caption of the output type of the pair's first output.
class PlayStripHdr : public juce::Label, public PageSection
{
public:
    // "play strip hdr": the layout's playback-header rectangle; added to page.
    PlayStripHdr(ConsoleContext& content, juce::Component& page);

    void setGroup(int first);
    int getGroup() const { return first_; }
    void showPair(int firstOutput) override { setGroup(firstOutput); }

private:
    void applyStyle();
    void updateCaption();

    ConsoleContext& content_;
    int first_ = 0;
};

} // namespace console
