#pragma once

// The output section of the mixer page: one pair of output strips for the output pair on show, under a
// header with the caption of the pair's output type. A strip shows its output's number within its group,
// its editable name, its nominal-level switch (analog pairs only), its mute, its level and its meter; a
// gang button links the two strips. There is one set of these controls: a tab switch rebinds them to the
// two channels of the new pair, from the state block and without device traffic. Control 0 of each kind
// keeps every even output, control 1 every odd one, so a session load or a reset sends the whole section.
// A strip bound to an output the interface does not have (the odd one of an odd count) is hidden.
//
// Message thread, except the device operations of the controls (hardware thread). A value read from the
// device reaches the state block and the widget only in handleCommandMessage.

#include "console/core/PolledSnapshot.h"
#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/Fader.h"
#include "console/ui/widgets/Meters.h"
#include "console/ui/widgets/Toggle.h"
#include "console/ui/window/PageSection.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace console
{

class ConsoleState;
class ConsoleContext;

// The outputs of a device: its output count, at most as many as the state block has records for.
int outputChannelCount(const ConsoleContext& content);

class MasterFader : public Fader
{
public:
    // "master fader <k>": the layout's rectangle and value box of strip k in box; output k.
    MasterFader(ConsoleContext& content, juce::Component& box, int k);

    // Any id: shows the output's gain from the state block (after taking a value read from the device
    // into it).
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    // With send: every output of the fader's parity.
    void loadFromState(ConsoleState& state, bool send) override;
    // A value that is still the one loaded is left as the block holds it (the fader shows it limited
    // and rounded).
    void storeToState(ConsoleState& state) override;
    // 0 dB on every output of its parity.
    void resetToDefault() override;

private:
    void showFromState();

    double shownFromState_ = 0.0;
    std::atomic<int> shownChannel_{0}; // for the hardware thread's read
    std::atomic<int> readChannel_{-1}; // a read result waiting for the message thread
    std::atomic<float> readDb_{0.0f};
};

// An output's switch in one byte of its output record; the mute and the nominal switch share it.
class OutputRecordButton : public ToggleBanked
{
public:
    // Id 0: takes a value read from the device into the state block, then the base's refresh.
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    // With send: every output of its parity.
    void loadFromState(ConsoleState& state, bool send) override;
    // A stored value the switch shows as it stands stays as stored.
    void storeToState(ConsoleState& state) override;
    // Off on every output of its parity.
    void resetToDefault() override;

protected:
    // byteIndex: 0 (mute) or 1 (nominal); onValue: the stored value for on.
    OutputRecordButton(ConsoleContext& content, int k, int byteIndex, uint8_t onValue);

    virtual bool isOn(uint8_t stored) const = 0;
    // Whether the switch stores into the record of this output.
    virtual bool storesFor(int) const { return true; }
    virtual int deviceGet(int channel, int& value) = 0;
    virtual int deviceSet(int channel, int value) = 0;

    int offsetOf(int channel) const;
    uint8_t getOnValue() const { return onValue_; }

private:
    int byteIndex_;
    uint8_t onValue_;
    std::atomic<int> shownChannel_{0};
    std::atomic<int> readChannel_{-1};
    std::atomic<bool> readOn_{false};
};

// The output's mute: byte 0 of the output record, 1 = muted; any nonzero value shows as muted.
class MasterMute : public OutputRecordButton
{
public:
    // "master mute <k>": the layout's mute faces and strip k's mute rectangle in box; output k.
    MasterMute(ConsoleContext& content, juce::Component& box, int k);

protected:
    bool isOn(uint8_t stored) const override { return stored != 0; }
    int deviceGet(int channel, int& value) override;
    int deviceSet(int channel, int value) override;
};

// The output's nominal level: byte 1 of the output record, 2 = on (-10), 0 = off (+4); any other stored
// value shows as off. Only analog outputs store it.
class OutNominal : public OutputRecordButton
{
public:
    // "out nominal <k>": the nominal faces and strip k's nominal rectangle in box; output k.
    OutNominal(ConsoleContext& content, juce::Component& box, int k);

protected:
    bool isOn(uint8_t stored) const override { return stored == 2; }
    bool storesFor(int channel) const override;
    int deviceGet(int channel, int& value) override;
    int deviceSet(int channel, int value) override;
};

// The name of the output on show; an empty name gets "Out " + the group's short name + the number
// within the group. It keeps the names of every output of its parity.
class MasterAlias : public Alias
{
public:
    // Strip k's name rectangle in box; output k.
    MasterAlias(ConsoleContext& content, juce::Component& box, int k);

    void clearNames() override;
    void reloadText() override;
    void labelTextChanged(juce::Label* label) override;

    // Shows the stored name of another output (an open editor was committed before).
    void setChannel(int channel);
    int getChannel() const { return channel_; }

private:
    int channel_;
};

class OutMeter : public meter
{
public:
    // Strip k's meter rectangle and the meter pictures, in box.
    OutMeter(ConsoleContext& content, juce::Component& box, int k);
};

// The gang button of the pair on show: its state is the pair's bit of the output-gang mask. A pair
// without its odd output is never ganged.
class MasterGang : public Gang
{
public:
    // The layout's master-gang rectangle in box; pair 0.
    MasterGang(ConsoleContext& content, juce::Component& box);
    void reload() override;
    void setChannel(int channel);
    int getChannel() const { return channel_; }

protected:
    void clicked() override;

private:
    ConsoleContext& content_;
    int channel_ = 0;
};

// The caption of the output type of the pair on show.
class MasterStripHdr : public juce::Component, public PageSection
{
public:
    // Bounds: the layout's master-header rectangle; opaque; added to page.
    MasterStripHdr(ConsoleContext& content, juce::Component& page);

    void setChannel(int channel);
    juce::String getCaption() const;
    void showPair(int firstOutput) override { setChannel(firstOutput); }
    void paint(juce::Graphics& g) override;

private:
    ConsoleContext& content_;
    int channel_ = 0;
};

class MasterStripBox : public juce::Component, public PageSection
{
public:
    // Bounds: the layout's master-box rectangle; opaque; added to page; pair 0.
    MasterStripBox(ConsoleContext& content, juce::Component& page);

    // Rebinds both strips and the gang to the pair (channel, channel + 1), from the state block.
    void setPair(int channel);
    int getChannel() const { return channel_; }
    // The meters show the pair's output levels of the poll.
    void updateMeters(const PolledSnapshot& snapshot);

    void showPair(int firstOutput) override { setPair(firstOutput); }
    void pollCompleted(const PolledSnapshot& snapshot) override { updateMeters(snapshot); }

    MasterFader& getFader(int k) { return k == 0 ? fader0_ : fader1_; }
    MasterMute& getMute(int k) { return k == 0 ? mute0_ : mute1_; }
    OutNominal* getNominal(int k) const { return (k == 0 ? nominal0_ : nominal1_).get(); }
    MasterAlias& getAlias(int k) { return k == 0 ? name0_ : name1_; }
    juce::Label& getUpperLabel(int k) { return k == 0 ? upper0_ : upper1_; }
    OutMeter& getMeter(int k) { return k == 0 ? meter0_ : meter1_; }
    MasterGang& getGang() { return gang_; }

    void paint(juce::Graphics& g) override;

private:
    void makeUpperLabel(juce::Label& label, int k);
    void setOutLabel(juce::Label& label, int output);

    ConsoleContext& content_;
    int channel_ = 0;
    // In the order they are built: faders, mutes, nominals, names, meters (over the faders), gang.
    MasterFader fader0_, fader1_;
    MasterMute mute0_, mute1_;
    std::unique_ptr<OutNominal> nominal0_, nominal1_; // when the outputs have nominal switches
    MasterAlias name0_, name1_;
    OutMeter meter0_, meter1_;
    MasterGang gang_;
    juce::Label upper0_, upper1_;
};

} // namespace console
