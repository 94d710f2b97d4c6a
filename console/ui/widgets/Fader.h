#pragma once

// The console's level controls: a vertical slider in dB (-60 to 0 in 0.1 dB steps) with an editable
// value box under it, bound to the device as a banked control that shows one channel (or mix) at a time.
// A fader may be ganged with the other fader of its pair: while the pair's gang button is on, a move of
// one moves the other by the same number of dB. The concrete faders supply the device I/O and the image
// access of the HwCtrl operations.
//
// Loading never writes back: a value taken from the image or the device is only shown (the slider limits
// and rounds what it shows; the image keeps what it holds). Only the user's changes are stored, by the
// hardware thread's queueChange.
//
// Message thread only (the concrete faders' device operations run on the hardware thread).

#include "console/core/HwCtrl.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

namespace console
{

class ConsoleContext;
class FaderTextBox;
class Gang;

class Fader : public juce::Slider, public HwCtrlBanked
{
public:
    // Joins the window's controls; gang, partner and value box come later.
    Fader(ConsoleContext& content, int channel);
    // Leaves the window's fader ring.
    ~Fader() override;

    // Vertical, skew 1.5, the layout's range in 0.1 dB steps, no text box of the slider's own; added to
    // parent.
    void setup(juce::Component& parent);
    // The value box in parent: centred, edited on a single click (kept when the focus goes), black bold
    // text of fontHeight (0 = the label's own height). It joins the end of the window's fader ring.
    void createValueBox(juce::Component& parent, int x, int y, int width, int height, float fontHeight);

    // Sets the value (limited to the range, rounded to 0.1 dB) and shows it in the value box.
    void setValueAndShow(double value, juce::NotificationType notification);
    // Shows a value from the image or the device: quietly, nothing stored or sent. The drag start becomes
    // the value shown, so a ganged partner follows the next move by the same dB even when no drag has
    // started since.
    void showLoadedValue(double db);

    // Shows another channel: the fader loads it from the image without sending. The channel left keeps
    // what the image holds.
    virtual void setChannel(int channel);
    int getChannel() const { return channel_; }

    // The pair's gang button and the other fader of the pair (null for none).
    void setGang(Gang* gang, Fader* partner);
    Gang* getGang() const { return gang_; }
    Fader* getPartner() const { return partner_; }
    FaderTextBox* getValueBox() const { return valueBox_.get(); }

    void startedDragging() override;
    // Every notifying change: stores the value, marks the shown channel dirty and queues the SET (the
    // hardware thread's queueChange), shows it, and moves a ganged partner by the same dB from its drag
    // start.
    void valueChanged() override;
    // Ctrl+click: 0 dB (a ganged partner follows by the same change).
    void mouseUp(const juce::MouseEvent& e) override;

protected:
    ConsoleContext& getContent() const { return content_; }
    // Stores the value, marks the shown channel dirty and queues the SET.
    void queueChange();

private:
    bool gangIsOn() const;

    ConsoleContext& content_;
    int channel_;
    double dragStart_ = 0.0;
    Gang* gang_ = nullptr;
    Fader* partner_ = nullptr;
    std::unique_ptr<FaderTextBox> valueBox_;
};

// The value under a fader: its dB with one decimal, editable. Tab and shift-Tab move the keyboard focus
// along the window's ring of value boxes.
class FaderTextBox : public juce::Label
{
public:
    explicit FaderTextBox(Fader& fader);

    // The value with one decimal, e.g. "-7.5".
    static juce::String formatValue(double value);
    void showValue(double value, juce::NotificationType notification);

    Fader& getFader() const { return fader_; }
    FaderTextBox* getNextBox() const { return next_; }
    FaderTextBox* getPreviousBox() const { return prev_; }

    std::unique_ptr<juce::ComponentTraverser> createKeyboardFocusTraverser() override;

protected:
    // A typed number goes to the fader (limited and rounded) and is sent; text that does not start with
    // a number keeps the fader where it is. A ganged partner does not follow a typed value.
    void textWasEdited() override;

private:
    friend class FaderRing;

    Fader& fader_;
    FaderTextBox* next_ = this; // the ring's links, kept by FaderRing
    FaderTextBox* prev_ = this;
};

// The ring of a window's faders in order of creation, closed on itself: their value boxes move the
// keyboard focus along it. A fader joins at the end when its value box is made and leaves when it goes.
class FaderRing
{
public:
    FaderRing() = default;
    FaderRing(const FaderRing&) = delete;
    FaderRing& operator=(const FaderRing&) = delete;

    // A fader without a value box is not in the ring.
    void add(Fader& fader);
    void remove(Fader& fader);
    // The first fader that joined and is still there; null when none.
    Fader* getFirst() const { return first_; }

private:
    Fader* first_ = nullptr;
};

// Moves the focus from a value box to the next or previous box of the ring that is showing, whatever
// the component holding the focus inside the box (its text editor). A box that is not showing (the
// hidden strip of a pair without its odd output) is passed over: the focus cannot go there, and Tab
// would stop in front of it.
class FtbTraverser : public juce::KeyboardFocusTraverser
{
public:
    explicit FtbTraverser(FaderTextBox& box) : box_(box) {}

    juce::Component* getDefaultComponent(juce::Component*) override { return &box_; }
    juce::Component* getNextComponent(juce::Component*) override { return step(true); }
    juce::Component* getPreviousComponent(juce::Component*) override { return step(false); }
    // The showing boxes of the ring from this box on.
    std::vector<juce::Component*> getAllComponents(juce::Component*) override;

private:
    // The next or previous showing box; this box when no other shows.
    FaderTextBox* step(bool forward) const;

    FaderTextBox& box_;
};

} // namespace console
