#pragma once

// The window's pages: the mixer page (TabbedUiBox) with its sections, the session box with the Load,
// Save and Reset buttons, the logo (the settings page: Settings.h). Every page and box is built with the
// window's content, seen as their ConsoleContext (device, state, hardware thread, controls), while the
// content builds its children and before its controls load their values from the state block. The
// strips and indicators come as sections (PageSection.h): the page tells each which output pair is on
// show and when a poll has completed.
//
// Message thread only.

#include "console/core/PolledSnapshot.h"
#include "console/ui/widgets/PageSection.h"
#include "console/ui/window/SessionFiles.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class ConsoleContext;
class MasterStripBox;
class MasterStripHdr;
class DirectPlayStripBox;
class MidiStatus;
class PlayStripHdr;
class RudeSolo;
class instripbox;

class TabbedUiBox : public juce::Component
{
public:
    // Bounds: the layout's page rectangle; added to parent (the window content). Builds the page's places
    // in their order (input strips, solo indicator, playback header and strips, output header and strips,
    // MIDI indicator).
    TabbedUiBox(ConsoleContext& content, juce::Component& parent);
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
    MasterStripHdr* getMasterHeader() const { return masterHeader_.get(); }
    MasterStripBox* getMasterBox() const { return masterBox_.get(); }

    void paint(juce::Graphics& g) override;

private:
    juce::Array<PageSection*> sections_;
    std::unique_ptr<instripbox> inputBox_;
    std::unique_ptr<RudeSolo> rudeSolo_;
    std::unique_ptr<MidiStatus> midiStatus_;
    std::unique_ptr<PlayStripHdr> playHeader_;
    std::unique_ptr<DirectPlayStripBox> playBox_;
    std::unique_ptr<MasterStripHdr> masterHeader_;
    std::unique_ptr<MasterStripBox> masterBox_;
    int shownPair_ = 0;
};

class SessionBox : public juce::Component
{
public:
    // Bounds: the layout's session-box rectangle, added to the mixer page; the Load, Save and Reset
    // buttons at their places.
    SessionBox(SessionHost& content, juce::Component& page);
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
    // Bounds: the layout's logo rectangle, added to the mixer page.
    LogoBox(ConsoleContext& content, juce::Component& page);
    void paint(juce::Graphics& g) override;
};

} // namespace console
