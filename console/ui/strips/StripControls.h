#pragma once

// The strips' device-bound controls, one of each kind: the banked fader, the banked flag button (a mute,
// a solo or a nominal-level switch), the channel-name label and the gang button of a strip pair. What
// makes a monitor-mix fader differ from an output or a playback fader is only its binding: where its
// value lives in the state block, which device request reads and which sends it, and which channels a
// session load or a reset covers besides the shown one. The sections (MonitorMix.h, InputStrips.h,
// MasterStrips.h, PlaybackStrips.h) give each control its binding, its name, place and pictures.
//
// A banked control shows one channel (an output or playback channel, or a monitor mix named by its even
// output channel) and keeps a dirty bit per channel: a change on screen marks the shown channel, a
// session load the channels of its binding, and the hardware thread sends one per turn.
//
// Loading never writes back: a value taken from the state block or the device is only shown. A value
// read from the device waits in the control (DeviceRead) and reaches the state block and the widget on
// the message thread, in handleCommandMessage, and only where it differs from what the control shows. A
// channel whose change the hardware thread has yet to send is not read, and a read that began before the
// control last wrote the state block is dropped.
//
// Message thread, except the device operations (readFromDevice, writeToDevice) on the hardware thread.

#include "console/core/DeviceRead.h"
#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/Fader.h"
#include "console/ui/widgets/Toggle.h"

#include <atomic>

namespace console
{

class ConsoleContext;

// The outputs of a device: its output count, at most as many as the state block has room for. The
// output and playback channels and the monitor mixes of a window lie below it.
int outputChannelCount(const ConsoleContext& content);

// The channels a banked control covers besides the one it shows.
enum class ChannelSet
{
    own,    // the shown channel only
    parity, // every channel of the shown channel's parity below the output count (for a mix: every mix)
    all,    // every channel below the output count
};

// The functions of a binding take the window's context, the control's key (the input of a monitor-mix
// control or of an input's switch; 0 where the control has none) and a channel. The state-block
// functions run on the message thread, read and write (the device requests) on the hardware thread.
struct FaderBinding
{
    float (*get)(const ConsoleContext&, int key, int channel); // the stored gain, dB
    void (*put)(ConsoleContext&, int key, int channel, float db);
    int (*read)(ConsoleContext&, int key, int channel, float& db);
    // Sends the stored gain.
    int (*write)(ConsoleContext&, int key, int channel);
    ChannelSet onLoad;  // marked by a load with send
    ChannelSet onReset; // set to 0 dB and marked by a reset
};

struct FlagBinding
{
    // What the button shows for the stored value.
    bool (*get)(const ConsoleContext&, int key, int channel);
    // The button's state into the state block (a stored value it shows as that state may stay).
    void (*put)(ConsoleContext&, int key, int channel, bool on);
    // The channel's default into the state block.
    void (*clear)(ConsoleContext&, int key, int channel);
    int (*read)(ConsoleContext&, int key, int channel, int& value);
    // Sends the stored value.
    int (*write)(ConsoleContext&, int key, int channel);
    ChannelSet onLoad;
    ChannelSet onReset;
    bool solo = false;    // the solo indicator counts it
    bool grouped = false; // ctrl+click sets the same button of every strip in its box
};

struct NameBinding
{
    juce::String (*get)(const ConsoleState&, int channel);
    void (*set)(ConsoleState&, int channel, const juce::String& name);
    // An empty name's default: prefix + the short name of the channel's group + its number in the group,
    // the group taken from the input map (inputs) or the output map.
    const char* prefix;
    bool inputs;
    // The names the label keeps: null, its own channel's; else every channel of its parity below this.
    int (*count)(const ConsoleContext&);
};

struct GangBinding
{
    bool (*get)(const ConsoleState&, int channel);
    void (*set)(ConsoleState&, bool on, int channel);
    // The channels there are: a pair without its odd channel is never ganged (its controls would follow
    // a strip that is not there).
    int (*count)(const ConsoleContext&);
};

class BankedFader : public Fader
{
public:
    BankedFader(ConsoleContext& content, const FaderBinding& binding, int key, int channel);

    int getKey() const { return key_; }

    // Any id: a value read from the device goes into the state block, then the shown channel's stored
    // value is shown.
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    // Only a value that differs from the one loaded: a stored gain the fader cannot show exactly (off, or
    // between its 0.1 dB steps) stays as it is until the fader is moved.
    void storeToState(ConsoleState& state) override;
    void resetToDefault() override;

private:
    void showFromState();

    const FaderBinding& binding_;
    const int key_;
    double shownFromState_ = 0.0;
    std::atomic<int> shownChannel_; // for the hardware thread's read
    DeviceRead read_;
};

class BankedFlagButton : public CtrlGroupedButton
{
public:
    BankedFlagButton(ConsoleContext& content, const FlagBinding& binding, int key, int channel);

    int getKey() const { return key_; }
    // The strip's button of the same binding.
    CtrlGroupedButton* getGroupMember(juce::Component& strip) override;

    // Id 0: a value read from the device goes into the state block, then the base's refresh.
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState& state) override;
    void resetToDefault() override;

protected:
    using CtrlGroupedButton::clicked;
    // A plain click unless the binding groups the button.
    void clicked(const juce::ModifierKeys& modifiers) override;

private:
    void solosMayHaveChanged();

    const FlagBinding& binding_;
    const int key_;
    std::atomic<int> shownChannel_;
    DeviceRead read_;
};

class ChannelNameLabel : public Alias
{
public:
    ChannelNameLabel(ConsoleContext& content, const NameBinding& binding, int channel);

    // Shows the stored name of another channel; an open editor is committed to the old one first.
    void setChannel(int channel);
    int getChannel() const { return channel_; }

    void clearNames() override;
    void reloadText() override;
    void labelTextChanged(juce::Label* label) override;

private:
    // The first name kept, the step and the end.
    void range(int& first, int& step, int& end) const;

    const NameBinding& binding_;
    int channel_;
};

class StripGang : public Gang
{
public:
    StripGang(ConsoleContext& content, const GangBinding& binding, int channel);

    // The pair whose even channel this is; the state follows its bit of the mask.
    void setChannel(int channel);
    int getChannel() const { return channel_; }
    void reload() override;

protected:
    void clicked() override;

private:
    ConsoleContext& content_;
    const GangBinding& binding_;
    int channel_;
};

} // namespace console
