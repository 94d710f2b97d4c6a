#pragma once

// The input section of the mixer page: one strip per device input (at most 16), left to right, under the
// band of input-group captions. A strip shows the input's number within its group, its editable name,
// its nominal-level switch, a level meter, and the input's pan, solo, mute and level in the monitor mix
// of the output pair on show. Each pair of adjacent strips shares a gang button; an odd last strip has
// none.
//
// Message thread, except the device operations of the controls (hardware thread).

#include "console/core/DeviceRead.h"
#include "console/core/PolledSnapshot.h"
#include "console/ui/strips/MonitorMix.h"
#include "console/ui/strips/StripControls.h"
#include "console/ui/strips/StripHeaders.h"
#include "console/ui/widgets/Meters.h"
#include "console/ui/widgets/PanKnob.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

namespace console
{

class ConsoleState;
class ConsoleContext;

// The name of an input, stored in its input record; an empty name gets "In " + the group's short name
// + the number within the group, stored at once.
class InAlias : public ChannelNameLabel
{
public:
    InAlias(ConsoleContext& content, juce::Component& strip, int input);
};

// The input's nominal level: on (-10) is 2 in byte 0 of the input record, off (+4) is 0; any other
// stored value shows as off and stays until the switch is used. Its one channel is its input.
class InNominal : public BankedFlagButton
{
public:
    InNominal(ConsoleContext& content, juce::Component& strip, int input);
};

// The input's pan in the mix on show; both bytes of the pair in the state block. A value read from the
// device reaches the state block in handleCommandMessage, as DeviceRead allows.
class InPanKnob : public PanKnob
{
public:
    InPanKnob(ConsoleContext& content, juce::Component& strip, int input);

    float getPanFromState() override;
    void setPanInState(float pan) override;
    // Any id: takes a value read from the device into the state block, then shows the stored pan.
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    // The knob stores its own moves.
    void storeToState(ConsoleState&) override {}
    // Even inputs hard left, odd inputs hard right, in every mix.
    void resetToDefault() override;

private:
    int input_;
    std::atomic<int> shownMix_{0};
    DeviceRead read_;
};

class InMeter : public meter
{
public:
    // The layout's input-meter rectangle and pictures, in strip.
    InMeter(ConsoleContext& content, juce::Component& strip);
};

class instrip : public juce::Component
{
public:
    instrip(ConsoleContext& content, int input);

    int getInput() const { return input_; }
    int getMix() const { return mix_; }
    // The monitor controls and the pan show the mix of this output channel (the nominal is not mixed).
    void setMix(int mix);
    // Links the ganged controls with the partner strip's; the even strip of the pair moves the gang
    // button over itself.
    void linkGang(Gang* gang, instrip& partner);
    void updateMeter(const PolledSnapshot& snapshot);

    juce::Label& getUpperLabel() { return upperLabel_; }
    InAlias& getAlias() { return name_; }
    InNominal* getNominal() { return nominal_.get(); }
    MonSolo& getSolo() { return solo_; }
    monmute& getMute() { return mute_; }
    InPanKnob& getPan() { return pan_; }
    InMeter& getMeter() { return meter_; }
    monfader& getFader() { return fader_; }
    Gang* getGang() const { return gang_; }

    void paint(juce::Graphics& g) override;

private:
    int input_;
    int mix_ = 0;
    Gang* gang_ = nullptr; // on the even strip of a pair
    juce::Image background_;
    juce::Label upperLabel_;
    InAlias name_;
    std::unique_ptr<InNominal> nominal_; // when the input has a nominal switch (every input has)
    MonSolo solo_;
    monmute mute_;
    InPanKnob pan_;
    InMeter meter_;
    monfader fader_;
};

class instripbox : public juce::Component, public StripGroup
{
public:
    // Bounds: the layout's input-section rectangle; added to page.
    instripbox(ConsoleContext& content, juce::Component& page);

    int getCount() const { return count_; }
    // Strip index 0 to 15; null beyond the inputs.
    instrip* getInputStrip(int index) const;
    juce::Component* getStrip(int index) const override { return getInputStrip(index); }
    const std::vector<std::unique_ptr<MonGang>>& getGangs() const { return gangs_; }
    instriphdrs& getHeader() { return header_; }

    // The output pair on show changed: every strip shows that mix.
    void setMix(int mix);
    // After each completed poll: every strip's meter.
    void updateMeters(const PolledSnapshot& snapshot);

    // Nothing: the strips and the header cover the box.
    void paint(juce::Graphics&) override {}

private:
    instriphdrs header_;
    int count_;
    std::array<std::unique_ptr<instrip>, StripGroup::kMaxStrips> strips_;
    std::vector<std::unique_ptr<MonGang>> gangs_;
};

} // namespace console
