#include "console/ui/window/Pages.h"

#include "console/ui/strips/InputStrips.h"
#include "console/ui/strips/MasterStrips.h"
#include "console/ui/strips/PlaybackStrips.h"
#include "console/ui/strips/StripHeaders.h"
#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"
#include "console/ui/widgets/Meters.h"

namespace console
{
// --- TabbedUiBox ---

TabbedUiBox::TabbedUiBox(ConsoleContext& content, juce::Component& parent) : juce::Component("tabbed UI box")
{
    setBounds(content.getLayout().getPageBounds());
    setOpaque(true);
    parent.addAndMakeVisible(this);

    inputBox_ = std::make_unique<instripbox>(content, *this);
    rudeSolo_ = std::make_unique<RudeSolo>(content, *this);
    playHeader_ = std::make_unique<PlayStripHdr>(content, *this);
    addSection(*playHeader_);
    playBox_ = std::make_unique<DirectPlayStripBox>(content, *this);
    addSection(*playBox_);
    masterHeader_ = std::make_unique<MasterStripHdr>(content, *this);
    addSection(*masterHeader_);
    masterBox_ = std::make_unique<MasterStripBox>(content, *this);
    addSection(*masterBox_);
    midiStatus_ = std::make_unique<MidiStatus>(content, *this);
}

TabbedUiBox::~TabbedUiBox()
{
    sections_.clear();
}

void TabbedUiBox::showTab(int firstOutput)
{
    // A name label that follows the pair would otherwise drop an open editor's text, or later store it
    // under the channel of the new pair.
    Alias::commitOpenEditors(*this);
    shownPair_ = firstOutput;
    inputBox_->setMix(firstOutput);
    for (PageSection* section : sections_)
        section->showPair(firstOutput);
}

void TabbedUiBox::pollCompleted(const PolledSnapshot& snapshot)
{
    inputBox_->updateMeters(snapshot);
    midiStatus_->update(snapshot);
    for (PageSection* section : sections_)
        section->pollCompleted(snapshot);
}

void TabbedUiBox::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
}

// --- SessionBox ---

SessionBox::SessionBox(SessionHost& content, juce::Component& page)
    : juce::Component("session box"), load_(content), save_(content), reset_(content)
{
    setBounds(content.getLayout().getSessionBoxBounds());
    setOpaque(true);
    addAndMakeVisible(load_);
    addAndMakeVisible(save_);
    addAndMakeVisible(reset_);
    page.addAndMakeVisible(this);
}

void SessionBox::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(15, 15, 15));
}

// --- LogoBox ---

LogoBox::LogoBox(ConsoleContext& content, juce::Component& page) : juce::Component("logo box")
{
    setBounds(content.getLayout().getLogoBounds());
    setOpaque(true);
    page.addAndMakeVisible(this);
}

void LogoBox::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
    g.drawImageAt(consoleImages().logo, 0, 0);
}

} // namespace console
