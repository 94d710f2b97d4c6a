#include "console/Pages.h"

#include "console/ConsoleLookAndFeel.h"
#include "console/TabBar.h"

namespace console
{
namespace
{

constexpr int kPressedFeedbackMs = 150;

} // namespace

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

TabbedUiBox::TabbedUiBox(const ConsoleLayout& layout) : juce::Component("tabbed UI box")
{
    setBounds(layout.getPageBounds());
    setOpaque(true);
    const ConsoleImages& im = consoleImages();

    auto* inputs =
        backdrops_.add(new SectionBackdrop("input section", im.stripBackground, layout.getInputStripCount()));
    inputs->setBounds(layout.getInputSectionBounds());
    auto* solo = backdrops_.add(new SectionBackdrop("rude solo", im.soloBackground, 1));
    solo->setBounds(layout.getRudeSoloBounds());
    auto* play = backdrops_.add(new SectionBackdrop("play strip box", im.playBackground, 1));
    play->setBounds(layout.getPlayBoxBounds());
    auto* master = backdrops_.add(new SectionBackdrop("master strip box", im.masterBackground, 1));
    master->setBounds(layout.getMasterBoxBounds());
    auto* midi = backdrops_.add(new SectionBackdrop("midi status", im.midiBackground, 1));
    midi->setBounds(juce::Rectangle<int>(im.midiBackground.getWidth(), im.midiBackground.getHeight())
                        .withPosition(layout.getMidiStatusPosition()));
    for (auto* b : backdrops_)
        addAndMakeVisible(b);

    playHeader_ = std::make_unique<StripCaption>("play strip hdr", layout.getCaps());
    playHeader_->setBounds(layout.getPlayHeaderBounds());
    addAndMakeVisible(*playHeader_);
    masterHeader_ = std::make_unique<StripCaption>("master strip hdr", layout.getCaps());
    masterHeader_->setBounds(layout.getMasterHeaderBounds());
    addAndMakeVisible(*masterHeader_);
    addSection(*playHeader_);
    addSection(*masterHeader_);
}

TabbedUiBox::~TabbedUiBox()
{
    sections_.clear();
}

void TabbedUiBox::showTab(int firstOutput)
{
    shownPair_ = firstOutput;
    for (PageSection* section : sections_)
        section->showPair(firstOutput);
}

void TabbedUiBox::pollCompleted(const PolledSnapshot& snapshot)
{
    for (PageSection* section : sections_)
        section->pollCompleted(snapshot);
}

void TabbedUiBox::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
}

// --- FaceButton ---

FaceButton::FaceButton(const juce::String& name, const juce::Image& up, const juce::Image& down,
                       juce::Point<int> position)
    : juce::ImageButton(name)
{
    setImages(false, false, true, up, 1.0f, {}, up, 1.0f, juce::Colours::white.withAlpha(0.08f), down, 1.0f,
              {});
    setBounds(position.x, position.y, up.getWidth(), up.getHeight());
}

void FaceButton::showPressed()
{
    setState(juce::Button::buttonDown);
    juce::Component::SafePointer<FaceButton> self(this);
    juce::Timer::callAfterDelay(kPressedFeedbackMs,
                                [self]
                                {
                                    if (self != nullptr)
                                        self->setState(juce::Button::buttonNormal);
                                });
}

// --- SessionBox ---

SessionBox::SessionBox(const ConsoleLayout& layout, TabbedUiBox& page)
    : juce::Component("session box"),
      load_("load button", consoleImages().loadUp, consoleImages().loadDown, layout.getLoadButtonPosition()),
      save_("save button", consoleImages().saveUp, consoleImages().saveDown, layout.getSaveButtonPosition()),
      reset_("reset button", consoleImages().resetUp, consoleImages().resetDown,
             layout.getResetButtonPosition())
{
    setBounds(layout.getSessionBoxBounds());
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

LogoBox::LogoBox(const ConsoleLayout& layout, TabbedUiBox& page) : juce::Component("logo box")
{
    setBounds(layout.getLogoBounds());
    setOpaque(true);
    page.addAndMakeVisible(this);
}

void LogoBox::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
    g.drawImageAt(consoleImages().logo, 0, 0);
}

// --- SettingsPage ---

SettingsPage::SettingsPage(const ConsoleLayout& layout) : juce::Component("settings")
{
    setBounds(layout.getPageBounds());
    setOpaque(true);
}

void SettingsPage::pollCompleted(const PolledSnapshot& snapshot)
{
    for (PageSection* section : sections_)
        section->pollCompleted(snapshot);
}

void SettingsPage::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
}

} // namespace console
