#pragma once

// An input's controls in the monitor mix of the output pair on show: its level (monfader), mute
// (monmute) and solo (MonSolo), and the gang button of a strip pair (MonGang). The device has one monitor
// mix per output pair, named by the pair's even output channel; each control shows the selected mix and
// keeps a dirty bit per mix, so a move sends the shown mix and a session load every mix, one per turn of
// the hardware thread. The state block holds every value for both channels of a pair.
//
// Message thread, except the device operations (readFromDevice, writeToDevice) on the hardware thread.
// A value read from the device reaches the control and the state block only in handleCommandMessage.

#include "console/ui/widgets/Fader.h"
#include "console/ui/widgets/Toggle.h"

#include <atomic>

namespace console
{

class ConsoleState;
class ConsoleContext;

// The mixes of a device: one per output pair, at most as many as the state block has room for.
int monitorMixCount(const ConsoleContext& content);

class monfader : public Fader
{
public:
    // "mon fader <input>": the layout's monitor-fader rectangle and value box in strip; mix 0.
    monfader(ConsoleContext& content, juce::Component& strip, int input);

    int getInput() const { return input_; }

    // Any id: shows the shown mix's gain from the state block (after taking a value read from the
    // device into it).
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    // Both channels of the pair take the fader's value; a value that is still the one loaded from the
    // state block is left as the block holds it (the fader shows it limited and rounded).
    void storeToState(ConsoleState& state) override;
    // 0 dB in every mix.
    void resetToDefault() override;

private:
    void showFromState();

    int input_;
    double shownFromState_ = 0.0;  // the fader value the state block's gain shows as
    std::atomic<int> shownMix_{0}; // the mix on show, for the hardware thread's read
    std::atomic<int> readMix_{-1}; // a read result waiting for the message thread
    std::atomic<float> readDb_{0.0f};
};

// The monitor mute and solo share this: a grouped banked toggle for one bit of the input's monitor flag
// bytes.
class MonitorFlagButton : public CtrlGroupedButton
{
public:
    int getInput() const { return input_; }

    // Id 0: takes a value read from the device into the state block, then the base's refresh.
    void handleCommandMessage(int commandId) override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState& state) override;

protected:
    MonitorFlagButton(ConsoleContext& content, int input, uint8_t bit);
    // Sets or clears the bit in the flag bytes of (input, mix) and (input, mix + 1).
    void writeBit(ConsoleState& state, int mix, bool on) const;
    bool readBit(const ConsoleState& state, int mix) const;
    // After the solo count may have changed (the solo says so; the mute does nothing).
    virtual void soloMayHaveChanged() {}

    virtual int deviceGet(int mix, int& value) = 0;
    virtual int deviceSet(int mix, int value) = 0;

private:
    int input_;
    uint8_t bit_;
    std::atomic<int> shownMix_{0}; // the mix on show, for the hardware thread's read
    std::atomic<int> readMix_{-1}; // a read result waiting for the message thread
    std::atomic<bool> readOn_{false};
};

class monmute : public MonitorFlagButton
{
public:
    // "mon mute": the layout's mute faces and monitor-mute rectangle in strip; mix 0.
    monmute(ConsoleContext& content, juce::Component& strip, int input);
    CtrlGroupedButton* getGroupMember(juce::Component& strip) override;
    // Muted in every mix except the home pair of an analog input on an analog output pair.
    void resetToDefault() override;

protected:
    int deviceGet(int mix, int& value) override;
    int deviceSet(int mix, int value) override;
};

class MonSolo : public MonitorFlagButton
{
public:
    // "mon solo <input>": the layout's solo faces and monitor-solo rectangle in strip; mix 0.
    MonSolo(ConsoleContext& content, juce::Component& strip, int input);
    CtrlGroupedButton* getGroupMember(juce::Component& strip) override;
    void loadFromState(ConsoleState& state, bool send) override;
    // No solo in any mix.
    void resetToDefault() override;

protected:
    void soloMayHaveChanged() override;
    int deviceGet(int mix, int& value) override;
    int deviceSet(int mix, int value) override;
};

// The gang button of input pair (channel, channel + 1): its state is the pair's bit of the state
// block's input-gang mask.
class MonGang : public Gang
{
public:
    // The layout's monitor-gang rectangle in the input box (the even strip moves it over itself when
    // it links the pair); set from the mask.
    MonGang(ConsoleContext& content, juce::Component& box, int channel);
    void reload() override;
    int getChannel() const { return channel_; }

protected:
    void clicked() override;

private:
    ConsoleContext& content_;
    int channel_;
};

} // namespace console
