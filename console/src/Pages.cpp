#include "console/Pages.h"

#include "console/Alias.h"
#include "console/ConsoleLookAndFeel.h"
#include "console/ConsoleWindow.h"
#include "console/InputStrips.h"
#include "console/Meters.h"
#include "console/PlaybackStrips.h"
#include "console/StripHeaders.h"
#include "console/TabBar.h"

namespace console
{
// --- SectionBackdrop ---

SectionBackdrop::SectionBackdrop(const juce::String& name, juce::Image image, int repeat)
    : juce::Component(name), image_(std::move(image)), repeat_(repeat)
{
    setOpaque(true);
    setInterceptsMouseClicks(false, false);
}

void SectionBackdrop::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
    if (!image_.isValid())
        return;
    const int top = getHeight() - image_.getHeight();
    for (int i = 0; i < repeat_; ++i)
        g.drawImageAt(image_, i * image_.getWidth(), top);
}

// --- StripCaption ---

StripCaption::StripCaption(const juce::String& name, const device::HwInfoCaps& caps)
    : juce::Component(name), caps_(caps)
{
    setOpaque(true);
    showPair(0);
}

void StripCaption::showPair(int firstOutput)
{
    caption_ = outputTypeCaption(caps_.getOutputMapType(uint32_t(firstOutput)));
    repaint();
}

void StripCaption::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
    g.setColour(juce::Colours::white);
    g.setFont(juce::Font(float(getHeight()) * 0.6f, juce::Font::bold));
    g.drawFittedText(caption_, 0, 0, getWidth(), getHeight(), juce::Justification::centred, 1, 0.7f);
}

// --- TabbedUiBox ---

TabbedUiBox::TabbedUiBox(CwContent& content) : juce::Component("tabbed UI box")
{
    const ConsoleLayout& layout = content.getLayout();
    setBounds(layout.getPageBounds());
    setOpaque(true);
    content.addAndMakeVisible(this);
    const ConsoleImages& im = consoleImages();

    inputBox_ = std::make_unique<instripbox>(content, *this);
    rudeSolo_ = std::make_unique<RudeSolo>(content, *this);
    playHeader_ = std::make_unique<PlayStripHdr>(content, *this);
    addSection(*playHeader_);
    playBox_ = std::make_unique<DirectPlayStripBox>(content, *this);
    addSection(*playBox_);
    masterHeader_ = std::make_unique<StripCaption>("master strip hdr", layout.getCaps());
    masterHeader_->setBounds(layout.getMasterHeaderBounds());
    addAndMakeVisible(*masterHeader_);
    addSection(*masterHeader_);
    addBackdrop("master strip box", im.masterBackground, 1, layout.getMasterBoxBounds());
    midiStatus_ = std::make_unique<MidiStatus>(content, *this);
}

void TabbedUiBox::addBackdrop(const juce::String& name, const juce::Image& image, int repeat,
                              juce::Rectangle<int> bounds)
{
    auto* backdrop = backdrops_.add(new SectionBackdrop(name, image, repeat));
    backdrop->setBounds(bounds);
    addAndMakeVisible(backdrop);
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

SessionBox::SessionBox(CwContent& content)
    : juce::Component("session box"), load_(content), save_(content), reset_(content)
{
    setBounds(content.getLayout().getSessionBoxBounds());
    setOpaque(true);
    addAndMakeVisible(load_);
    addAndMakeVisible(save_);
    addAndMakeVisible(reset_);
    content.getTabbedBox()->addAndMakeVisible(this);
}

void SessionBox::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(15, 15, 15));
}

// --- LogoBox ---

LogoBox::LogoBox(CwContent& content) : juce::Component("logo box")
{
    setBounds(content.getLayout().getLogoBounds());
    setOpaque(true);
    content.getTabbedBox()->addAndMakeVisible(this);
}

void LogoBox::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
    g.drawImageAt(consoleImages().logo, 0, 0);
}

} // namespace console
