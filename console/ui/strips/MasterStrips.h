#pragma once

// The output section of the mixer page: one pair of output strips for the output pair on show, under a
// header with the caption of the pair's output type. A strip shows its output's number within its group,
// its editable name, its nominal-level switch (analog pairs only), its mute, its level and its meter; a
// gang button links the two strips. There is one set of these controls: a tab switch rebinds them to the
// two channels of the new pair, from the state block and without device traffic. Control 0 of each kind
// keeps every even output, control 1 every odd one, so a session load or a reset sends the whole section.
// A strip bound to an output the interface does not have (the odd one of an odd count) is hidden.
//
// Message thread, except the device operations of the controls (hardware thread).

#include "console/core/PolledSnapshot.h"
#include "console/ui/strips/StripControls.h"
#include "console/ui/widgets/Meters.h"
#include "console/ui/widgets/PageSection.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace console
{

class ConsoleContext;

class MasterFader : public BankedFader
{
public:
    // "master fader <k>": the layout's rectangle and value box of strip k in box; output k.
    MasterFader(ConsoleContext& content, juce::Component& box, int k);
};

// The output's mute: byte 0 of the output record, 1 = muted; any nonzero value shows as muted.
class MasterMute : public BankedFlagButton
{
public:
    // "master mute <k>": the layout's mute faces and strip k's mute rectangle in box; output k.
    MasterMute(ConsoleContext& content, juce::Component& box, int k);
};

// The output's nominal level: byte 1 of the output record, 2 = on (-10), 0 = off (+4); any other stored
// value shows as off. Only analog outputs store it.
class OutNominal : public BankedFlagButton
{
public:
    // "out nominal <k>": the nominal faces and strip k's nominal rectangle in box; output k.
    OutNominal(ConsoleContext& content, juce::Component& box, int k);
};

// The name of the output on show; an empty name gets "Out " + the group's short name + the number
// within the group. It keeps the names of every output of its parity.
class MasterAlias : public ChannelNameLabel
{
public:
    // Strip k's name rectangle in box; output k.
    MasterAlias(ConsoleContext& content, juce::Component& box, int k);
};

class OutMeter : public meter
{
public:
    // Strip k's meter rectangle and the meter pictures, in box.
    OutMeter(ConsoleContext& content, juce::Component& box, int k);
};

// The gang button of the pair on show: its state is the pair's bit of the output-gang mask. A pair
// without its odd output is never ganged.
class MasterGang : public StripGang
{
public:
    // The layout's master-gang rectangle in box; pair 0.
    MasterGang(ConsoleContext& content, juce::Component& box);
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
