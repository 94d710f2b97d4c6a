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
// read their shown channels from the device again. A value read is written into the state block and
// shown on the message thread; a read that started before the control last wrote the block (a move, a
// click, a load, a reset) is dropped, so it cannot undo that write.
//
// Message thread, except the device operations (readFromDevice, writeToDevice) on the hardware thread.

#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/Fader.h"
#include "console/ui/widgets/Toggle.h"
#include "console/ui/window/PageSection.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace console
{

class ConsoleState;
class ConsoleContext;

// The last value of one channel read from the device on the hardware thread, until the message thread
// takes it, with the write generation it was read in.
class PlaybackRead
{
public:
    // Message thread: the control wrote the state block; reads under way are out of date.
    void invalidate() { generation_.fetch_add(1); }
    // Hardware thread, before the request: the generation to put with its result.
    uint32_t begin() const { return generation_.load(); }
    // Hardware thread, after a successful request (replaces a result not taken yet).
    void put(int channel, float value, uint32_t generation);
    // Message thread: the result not taken yet, when no write came after its request began.
    bool take(int& channel, float& value);

private:
    std::atomic<uint32_t> generation_{0};
    std::atomic<uint64_t> result_{0}; // 0: none; else a flag, the generation, the channel and the value
};

// The level of a playback channel: its gain in the playback-gain words of the state block.
class PlayFader : public Fader, public juce::ChangeListener
{
public:
    // "play fader <channel>": the layout's playback fader and value box of strip index, in parent;
    // listens to the device's system-volume link.
    PlayFader(ConsoleContext& content, juce::Component& parent, int index, int channel);
    ~PlayFader() override;

    // Shows the state block's value of the channel at once, then asks the device for it.
    void setChannel(int channel) override;
    // Any id: a value read from the device goes into the state block, then the shown channel's value
    // is shown.
    void handleCommandMessage(int commandId) override;
    // A volume changed outside: read the shown channel.
    void changeListenerCallback(juce::ChangeBroadcaster* source) override;

    void readFromDevice() override;
    // Through the system-volume link.
    void writeToDevice() override;
    // With send, every channel of the fader's parity below the output count.
    void loadFromState(ConsoleState& state, bool send) override;
    // Only a value that differs from the one loaded.
    void storeToState(ConsoleState& state) override;
    // 0 dB for every channel below the output count.
    void resetToDefault() override;

private:
    void showFromState();

    double shownFromState_ = 0.0;
    std::atomic<int> shownChannel_;
    PlaybackRead read_;
};

// The playback mute and solo share this: a banked toggle for one byte of the playback records. A load
// with send marks every channel of the toggle's parity below the output count.
class PlaybackFlagButton : public ToggleBanked
{
public:
    // Id 0: a value read from the device goes into the state block, then the base's refresh.
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState& state) override;

protected:
    PlaybackFlagButton(ConsoleContext& content, int channel);

    int getOutputCount() const;
    void invalidateReads() { read_.invalidate(); }

    virtual bool readFlag(const ConsoleState& state, int channel) const = 0;
    virtual void writeFlag(ConsoleState& state, int channel, bool on) const = 0;
    virtual int deviceGet(int channel, int& value) = 0;
    // Sends the state block's value of the channel.
    virtual int deviceSet(int channel) = 0;
    // After the solo count may have changed: a load, a send, a read (the solo says so).
    virtual void flagMayHaveChanged() {}

private:
    std::atomic<int> shownChannel_;
    PlaybackRead read_;
};

// The mute of a playback channel: byte 0 of its playback record. Muting a channel mutes every channel of
// its endpoint.
class PlayMute : public PlaybackFlagButton, public juce::ChangeListener
{
public:
    // "play mute <channel>": the layout's mute faces and mute rectangle of strip index, in parent;
    // listens to the device's system-volume link.
    PlayMute(ConsoleContext& content, juce::Component& parent, int index, int channel);
    ~PlayMute() override;

    // A mute or volume changed outside: read the shown channel.
    void changeListenerCallback(juce::ChangeBroadcaster* source) override;
    // Off for every channel below the output count.
    void resetToDefault() override;

protected:
    bool readFlag(const ConsoleState& state, int channel) const override;
    void writeFlag(ConsoleState& state, int channel, bool on) const override;
    int deviceGet(int channel, int& value) override;
    int deviceSet(int channel) override;
};

// The solo of a playback channel: byte 1 of its playback record.
class PlaySolo : public PlaybackFlagButton
{
public:
    // "Play solo <channel>": the layout's solo faces and solo rectangle of strip index, in parent.
    PlaySolo(ConsoleContext& content, juce::Component& parent, int index, int channel);

    // Off for every channel of the solo's parity below the output count.
    void resetToDefault() override;

protected:
    bool readFlag(const ConsoleState& state, int channel) const override;
    void writeFlag(ConsoleState& state, int channel, bool on) const override;
    int deviceGet(int channel, int& value) override;
    int deviceSet(int channel) override;
    void flagMayHaveChanged() override;
};

// The gang button of the strip pair: the shown pair's bit of the playback-gang mask.
class PlayGang : public Gang
{
public:
    // The layout's playback-gang rectangle in box; set from the mask.
    PlayGang(ConsoleContext& content, juce::Component& box, int channel);
    void setChannel(int channel);
    int getChannel() const { return channel_; }
    void reload() override;

protected:
    void clicked() override;

private:
    ConsoleContext& content_;
    int channel_;
};

// The name of a playback channel; an empty name gets "Play " + the short name of output n's group + the
// number within the group, stored at once. The two labels keep the names of one parity each.
class PlayAlias : public Alias
{
public:
    // The layout's name rectangle of strip index, in parent; channel = index.
    PlayAlias(ConsoleContext& content, juce::Component& parent, int index);

    // Shows the stored name of another channel (an open editor is committed to the old one first).
    void setChannel(int channel);
    int getChannel() const { return channel_; }

    void clearNames() override;
    void reloadText() override;
    void labelTextChanged(juce::Label* label) override;

private:
    int channelCount() const;

    int channel_;
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
    int getPair() const { return first_; }
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
