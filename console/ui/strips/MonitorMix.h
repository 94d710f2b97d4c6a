#pragma once

// An input's controls in the monitor mix of the output pair on show: its level (monfader), mute
// (monmute) and solo (MonSolo), and the gang button of a strip pair (MonGang). The device has one monitor
// mix per output pair, named by the pair's even output channel; each control shows the selected mix and
// keeps a dirty bit per mix, so a move sends the shown mix and a session load or a reset every mix, one
// per turn of the hardware thread. The state block holds every value for both channels of a pair. A
// ctrl+click on a mute or solo sets it in every input strip of the box.
//
// Message thread, except the device operations (readFromDevice, writeToDevice) on the hardware thread.

#include "console/ui/strips/StripControls.h"

namespace console
{

class ConsoleContext;

class monfader : public BankedFader
{
public:
    // "mon fader <input>": the layout's monitor-fader rectangle and value box in strip; mix 0.
    monfader(ConsoleContext& content, juce::Component& strip, int input);
    int getInput() const { return getKey(); }
};

// Muted in every mix after a reset, except the home pair of an analog input on an analog output pair.
class monmute : public BankedFlagButton
{
public:
    // "mon mute": the layout's mute faces and monitor-mute rectangle in strip; mix 0.
    monmute(ConsoleContext& content, juce::Component& strip, int input);
    int getInput() const { return getKey(); }
};

class MonSolo : public BankedFlagButton
{
public:
    // "mon solo <input>": the layout's solo faces and monitor-solo rectangle in strip; mix 0.
    MonSolo(ConsoleContext& content, juce::Component& strip, int input);
    int getInput() const { return getKey(); }
};

// The gang button of input pair (channel, channel + 1): its state is the pair's bit of the state
// block's input-gang mask.
class MonGang : public StripGang
{
public:
    // The layout's monitor-gang rectangle in the input box (the even strip moves it over itself when
    // it links the pair); set from the mask.
    MonGang(ConsoleContext& content, juce::Component& box, int channel);
};

} // namespace console
