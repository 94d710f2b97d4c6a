#pragma once

// The console's device-bound switches (mutes, solos, nominal-level switches) and the gang button.
// ToggleBase draws three faces and turns a click into a SET on the hardware thread; ToggleBanked binds it
// to a banked control that shows one channel or mix at a time (a switch of one value, as an input's
// nominal level, is a banked control of that one channel), and CtrlGroupedButton adds a ctrl+click that
// sets the same button in every strip of its box. A Gang button
// links the two strips of a pair: while it is on, the partner of a changed fader, pan knob or toggle
// follows (a toggle with the same state).
//
// Loading never writes back: a value taken from the image or the device is only shown; the user's
// clicks are stored by the hardware thread's queueChange.
//
// Message thread only.

#include "console/core/HwCtrl.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class ConsoleContext;
class Gang;

// The box that holds a section's strips in order (up to 16; the first empty slot ends them). A group
// button acts on its box's strips only when the button's strip lies directly in such a box.
class StripGroup
{
public:
    static constexpr int kMaxStrips = 16;
    virtual ~StripGroup() = default;
    // Strip index (0 to 15), null for an empty slot.
    virtual juce::Component* getStrip(int index) const = 0;
};

class ToggleBase : public juce::Button
{
public:
    // Named "toggle"; repaints on mouse activity; off, no faces, no gang.
    explicit ToggleBase(ConsoleContext& content);

    // The faces for off, on and held down (the program-wide faces of consoleImages()).
    void setImages(const juce::Image& off, const juce::Image& on, const juce::Image& down);
    // Clicking toggles the state; added to parent.
    void setup(juce::Component& parent);

    // value = the button's toggle state (a click's new state).
    void captureState();
    virtual HwCtrl& getHwCtrl() = 0;
    // Stores the value and queues the SET (the hardware thread's queueSet).
    virtual void queueChange();

    // The state the button stands for, and the face it shows.
    bool getValue() const { return value_; }
    // Sets the value and the toggle state quietly (a load or a device read); nothing is stored or sent.
    void showValue(bool on);

    // The pair's gang button and the other strip's toggle of the same kind (null for none).
    void setGang(Gang* gang, ToggleBase* partner);
    Gang* getGang() const { return gang_; }
    ToggleBase* getPartner() const { return partner_; }

    // Id 0 (a device read's result, or a concrete control's refresh): the toggle state follows the
    // value, quietly. Other ids are the button's own.
    void handleCommandMessage(int commandId) override;

protected:
    using juce::Button::clicked;
    // After the click flipped the state: captureState, queueChange; a ganged partner takes the same
    // state and is queued too.
    void clicked() override;
    void paintButton(juce::Graphics& g, bool isMouseOver, bool isButtonDown) override;

    ConsoleContext& getContent() const { return content_; }
    void setValue(bool on) { value_ = on; }

private:
    juce::Image off_, on_, down_;
    ConsoleContext& content_;
    bool value_ = false;
    Gang* gang_ = nullptr;
    ToggleBase* partner_ = nullptr;
};

// A toggle that shows one channel (or mix) at a time.
class ToggleBanked : public ToggleBase, public HwCtrlBanked
{
public:
    ToggleBanked(ConsoleContext& content, int channel);
    HwCtrl& getHwCtrl() override { return *this; }

    // Stores the value, marks the shown channel dirty and queues the SET (the hardware thread's
    // queueChange).
    void queueChange() override;
    // Shows another channel: loads it from the image without sending. The channel left keeps what the
    // image holds.
    virtual void setChannel(int channel);
    int getChannel() const { return channel_; }

private:
    int channel_;
};

// A banked toggle whose ctrl+click sets the same button of every strip in its box to its new state, each
// for its own shown channel, and queues them all. Without ctrl, or when the button's strip does not lie
// in a StripGroup, it is a plain click.
class CtrlGroupedButton : public ToggleBanked
{
public:
    using ToggleBanked::ToggleBanked;
    // The button of the same kind in that strip (null for none).
    virtual CtrlGroupedButton* getGroupMember(juce::Component& strip) = 0;

protected:
    using ToggleBanked::clicked;
    void clicked(const juce::ModifierKeys& modifiers) override;
};

// The gang button of a strip pair, named "console_gang_button". Its toggle state is what the pair's
// faders, knobs and toggles test; the concrete gangs keep it in a gang mask of the state block.
class Gang : public juce::Button
{
public:
    Gang();
    // On (quietly) until reload sets it from the mask; clicking toggles the state; added to parent.
    void setup(juce::Component& parent);
    // The toggle state from the gang mask, quietly.
    virtual void reload() = 0;

protected:
    void paintButton(juce::Graphics& g, bool isMouseOver, bool isButtonDown) override;
};

} // namespace console
