#pragma once

// The console's displays of what the device is doing, none of which the user operates: the level meter
// (base of the input and output meters), the MIDI activity indicator and the solo indicator, a light
// that blinks while any solo of the mix is engaged. Their inputs are the completed polls (their
// snapshot, never the device's live polled block) and the state block. They draw the layout's pictures
// and repaint only what changed.
//
// Message thread, except RudeSolo::update (any thread).

#include "console/core/PolledSnapshot.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <mutex>

namespace console
{

class ConsoleContext;

// A vertical level meter: the rows from the boundary down show the lit picture, the rows above it the
// unlit one. The boundary follows the level in whole dB on a fixed scale: 6 rows per dB down to -12 dB,
// 3 rows per dB down to about -32 dB, 3 rows per 2 dB down to -71 dB, then the bottom row.
class meter : public juce::Component
{
public:
    meter();

    // The lit and unlit pictures (the concrete meter sets its bounds and pictures, then attaches).
    void setImages(const juce::Image& lit, const juce::Image& unlit);
    // Nothing lit; opaque; added to parent.
    void attach(juce::Component& parent);

    // The boundary row a meter word shows (2^31 = full scale): a word at or above full scale lights
    // every row (0), a level below -128 dB the bottom row only, and 0 nothing (height).
    static int rowForLevel(uint32_t level, int height);
    // Each poll's level is shown as it is; only the band between the old and the new boundary is
    // repainted, and nothing when the boundary has not moved.
    void setLevel(uint32_t level);
    int getBoundary() const { return boundary_; }

    void paint(juce::Graphics& g) override;

private:
    int drawn_ = 0;    // the boundary last painted
    int boundary_ = 0; // the boundary to show
    juce::Image lit_;
    juce::Image unlit_;
};

// MIDI activity: the upper LED lights while any MIDI input port of the device is active, the lower one
// while any output port is.
class MidiStatus : public juce::Component
{
public:
    // Bounds: the layout's MIDI position and the background's size; opaque; added to parent.
    MidiStatus(ConsoleContext& content, juce::Component& parent);

    // After each completed poll: repaints when any MIDI activity bit changed.
    void update(const PolledSnapshot& snapshot);
    bool isInputLit() const;
    bool isOutputLit() const;

    void paint(juce::Graphics& g) override;

private:
    bool anyPortActive(uint32_t ports, uint32_t firstBit) const;

    ConsoleContext& content_;
    juce::Image background_, inLed_, outLed_;
    int64_t status_ = -1; // the MIDI bits of the status word last shown; -1 before the first poll
};

// The solo warning: while any monitor solo of an input with a strip or any playback solo is engaged, a
// light blinks, five polls on and five off.
class RudeSolo : public juce::Component
{
public:
    // Bounds: the layout's solo-indicator rectangle; opaque; added to parent.
    RudeSolo(ConsoleContext& content, juce::Component& parent);

    // Any thread (the solo controls call it after each change or read): counts the engaged solos in the
    // state block, under this indicator's lock. It touches no component: the next blink shows the count.
    void update();
    // Message thread, every poll: with solos engaged the blink counter steps on (on for 5 ticks, off for
    // 5); the light is repainted when it changes, also when the last solo went.
    void blink();

    int getCount() const;
    bool isLit() const { return shownCount_ != 0 && blinkCounter_ > 0; }

    void paint(juce::Graphics& g) override;

private:
    int countSolos() const;

    ConsoleContext& content_;
    const int inputs_; // the inputs that have a strip
    mutable std::mutex lock_;
    int count_ = 0;        // guarded by lock_
    int shownCount_ = 0;   // message thread: the count of the last blink
    int blinkCounter_ = 0; // message thread; kept while no solo is engaged, so the cycle resumes
};

} // namespace console
