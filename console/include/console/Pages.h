#pragma once

// The window's pages: the mixer page (TabbedUiBox) with its sections, the session box with the Load,
// Save and Reset buttons, the logo (the settings page: Settings.h). Every page and box is built with the
// window's content (device, state, hardware thread, controls), while the content builds its children and
// before its controls load their values from the state block. The strips and indicators come as sections:
// each registers with the page and is told which output pair is on show and when a poll has completed. A
// place whose section is not built yet shows its picture on a backdrop instead.
//
// Message thread only.

#include "console/ConsoleLayout.h"
#include "console/PolledSnapshot.h"
#include "console/SessionFiles.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class CwContent;
class DirectPlayStripBox;
class MidiStatus;
class PlayStripHdr;
class RudeSolo;
class instripbox;

// A part of a page that follows the selected output pair and the status poll.
class PageSection
{
public:
    virtual ~PageSection() = default;
    // The pair whose first output channel this is is on show now.
    virtual void showPair(int firstOutput) = 0;
    // A poll has completed: what it found.
    virtual void pollCompleted(const PolledSnapshot& /*snapshot*/) {}
};

// Draws the picture of a place whose section is not built: the strip background once per input strip,
// or a section background.
class SectionBackdrop : public juce::Component
{
public:
    SectionBackdrop(const juce::String& name, juce::Image image, int repeat);
    void paint(juce::Graphics& g) override;

private:
    juce::Image image_;
    int repeat_;
};

// A header band with the caption of the shown pair's output type.
class StripCaption : public juce::Component, public PageSection
{
public:
    StripCaption(const juce::String& name, const device::HwInfoCaps& caps);
    void showPair(int firstOutput) override;
    const juce::String& getCaption() const { return caption_; }
    void paint(juce::Graphics& g) override;

private:
    const device::HwInfoCaps& caps_;
    juce::String caption_;
};

class TabbedUiBox : public juce::Component
{
public:
    // Bounds: the layout's page rectangle; added to the content. Builds the page's places in their order
    // (input strips, solo indicator, playback header and strips, output header and strips, MIDI
    // indicator), each as its section or, until that exists, as its backdrop.
    explicit TabbedUiBox(CwContent& content);
    ~TabbedUiBox() override;

    void addSection(PageSection& section) { sections_.addIfNotAlreadyThere(&section); }
    void removeSection(PageSection& section) { sections_.removeFirstMatchingValue(&section); }

    // The input strips and every section follow the pair whose first output channel this is. A channel
    // name being edited on the page is committed to the channel it was opened for first.
    void showTab(int firstOutput);
    int getShownPair() const { return shownPair_; }
    // The meters, the MIDI indicator and every section follow a completed poll.
    void pollCompleted(const PolledSnapshot& snapshot);

    instripbox* getInputBox() const { return inputBox_.get(); }
    // Any thread once the page is built (the solo controls update it from the hardware thread).
    RudeSolo* getRudeSolo() const { return rudeSolo_.get(); }
    MidiStatus* getMidiStatus() const { return midiStatus_.get(); }
    PlayStripHdr* getPlayHeader() const { return playHeader_.get(); }
    DirectPlayStripBox* getPlayBox() const { return playBox_.get(); }

    void paint(juce::Graphics& g) override;

private:
    void addBackdrop(const juce::String& name, const juce::Image& image, int repeat,
                     juce::Rectangle<int> bounds);

    juce::Array<PageSection*> sections_;
    juce::OwnedArray<juce::Component> backdrops_;
    std::unique_ptr<instripbox> inputBox_;
    std::unique_ptr<RudeSolo> rudeSolo_;
    std::unique_ptr<MidiStatus> midiStatus_;
    std::unique_ptr<PlayStripHdr> playHeader_;
    std::unique_ptr<DirectPlayStripBox> playBox_;
    std::unique_ptr<StripCaption> masterHeader_;
    int shownPair_ = 0;
};

class SessionBox : public juce::Component
{
public:
    // Bounds: the layout's session-box rectangle, added to the content's mixer page; the Load, Save and
    // Reset buttons at their places.
    explicit SessionBox(CwContent& content);
    LoadButton& getLoadButton() { return load_; }
    SaveButton& getSaveButton() { return save_; }
    ResetButton& getResetButton() { return reset_; }
    void paint(juce::Graphics& g) override;

private:
    LoadButton load_;
    SaveButton save_;
    ResetButton reset_;
};

class LogoBox : public juce::Component
{
public:
    // Bounds: the layout's logo rectangle, added to the content's mixer page.
    explicit LogoBox(CwContent& content);
    void paint(juce::Graphics& g) override;
};

} // namespace console
