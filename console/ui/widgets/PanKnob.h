#pragma once

// The pan of an input in a monitor mix: a rotary knob from 0 (hard left) to 1 (hard right), showing "C"
// in the middle and "L n" / "R n" off centre on a scale of 31 steps to each side. Ctrl+click or
// ctrl+drag centres it. It shows one mix at a time, and a ganged partner knob mirrors it (1 minus the
// value). The concrete knob reads and writes the pan in the image and talks to the device.
//
// Loading never writes back: a value taken from the image is only shown.
//
// Message thread only.

#include "console/core/HwCtrl.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class ConsoleContext;
class Gang;

class PanKnob : public juce::Slider, public HwCtrlBanked
{
public:
    // Named "pan": the layout's knob rectangle and rotary range, a read-only text box below it as wide as
    // the knob, range 0 to 1; added to parent. Mix 0, no gang.
    PanKnob(ConsoleContext& content, juce::Component& parent);

    // The pan of the shown mix in the image, 0..1.
    virtual float getPanFromState() = 0;
    virtual void setPanInState(float pan) = 0;

    // Shows another mix (its even output channel): loads it from the image without sending.
    void setChannel(int channel);
    int getChannel() const { return channel_; }
    // Stores 0.5, then turns the knob there with notification.
    void centre();

    // The pair's gang button and the other strip's knob (null for none).
    void setGang(Gang* gang, PanKnob* partner);
    Gang* getGang() const { return gang_; }
    PanKnob* getPartner() const { return partner_; }

    // "C", "L n" or "R n" with n = value x 62 - 31 rounded to the nearest integer, ties to even.
    static juce::String panText(double value);
    juce::String getTextFromValue(double value) override { return panText(value); }

    // Any id: the knob shows the image's pan, quietly.
    void handleCommandMessage(int commandId) override;
    // Every notifying change: stores the pan, marks the mix dirty and queues the SET; a ganged partner
    // takes 1 minus the value, stored and queued.
    void valueChanged() override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;

protected:
    ConsoleContext& getContent() const { return content_; }

private:
    ConsoleContext& content_;
    int channel_ = 0;
    Gang* gang_ = nullptr;
    PanKnob* partner_ = nullptr;
};

} // namespace console
