#include "console/ui/window/FlashProgressWindow.h"

namespace console
{
namespace
{

constexpr int kWidth = 350;
constexpr int kHeight = 180;

} // namespace

FlashProgressWindow::FlashProgressWindow(juce::Component* centreOn, bool warning)
{
    setSize(kWidth, kHeight);
    if (centreOn != nullptr)
        setTopLeftPosition(centreOn->getX() + centreOn->getWidth() / 2 - kWidth / 2,
                           centreOn->getY() + centreOn->getHeight() / 2 - kHeight / 2);
    else
        centreWithSize(kWidth, kHeight);

    if (warning)
    {
        warning_ =
            std::make_unique<juce::Label>("warning", "Please do not turn off or disconnect your hardware.");
        warning_->setBounds(35, 40, 280, 20);
        warning_->setJustificationType(juce::Justification::centred);
        warning_->setColour(juce::Label::textColourId, findColour(juce::AlertWindow::textColourId));
        addAndMakeVisible(*warning_);
    }

    setOpaque(true);
    setVisible(true);
    addToDesktop(juce::ComponentPeer::windowHasDropShadow);
    toFront(true);
    startTimer(30);
}

FlashProgressWindow::~FlashProgressWindow()
{
    stopTimer();
    cancelPendingUpdate();
}

void FlashProgressWindow::setTitle(const juce::String& text)
{
    std::lock_guard<std::mutex> lock(textLock_);
    title_ = text;
}

void FlashProgressWindow::setStatus(const juce::String& text)
{
    std::lock_guard<std::mutex> lock(textLock_);
    status_ = text;
}

void FlashProgressWindow::setDescription(const juce::String& text)
{
    std::lock_guard<std::mutex> lock(textLock_);
    description_ = text;
}

juce::String FlashProgressWindow::getTitle() const
{
    std::lock_guard<std::mutex> lock(textLock_);
    return title_;
}

juce::String FlashProgressWindow::getStatus() const
{
    std::lock_guard<std::mutex> lock(textLock_);
    return status_;
}

juce::String FlashProgressWindow::getDescription() const
{
    std::lock_guard<std::mutex> lock(textLock_);
    return description_;
}

void FlashProgressWindow::setProgress(float value)
{
    if (value - progress_.load() >= minimumStep_.load())
        progress_.store(value);
}

void FlashProgressWindow::signalFinished()
{
    triggerAsyncUpdate();
}

void FlashProgressWindow::handleAsyncUpdate()
{
    finished_ = true;
    if (isCurrentlyModal(false))
        exitModalState(0);
}

void FlashProgressWindow::runUntilFinished()
{
    // The end is delivered as a message, and messages are only dispatched inside the loop, so an
    // operation that ended before this point is seen here or in the loop's first dispatch.
    if (!finished_)
        runModalLoop();
    setVisible(false);
}

void FlashProgressWindow::paint(juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();
    const int c = int(float(w) * 0.8f);
    const int b = (w - c) / 2;

    g.fillAll(findColour(juce::AlertWindow::backgroundColourId));
    g.setColour(findColour(juce::AlertWindow::outlineColourId));
    g.drawRect(1, 1, w - 2, h - 2, 1);

    juce::String title, status, description;
    {
        std::lock_guard<std::mutex> lock(textLock_);
        title = title_;
        status = status_;
        description = description_;
    }

    g.setFont(juce::Font(16.0f, juce::Font::bold));
    g.setColour(findColour(juce::AlertWindow::textColourId));
    g.drawFittedText(title, b, 15, c, 30, juce::Justification::centred, 1, 0.7f);

    const juce::Colour bar = findColour(juce::ProgressBar::foregroundColourId);
    g.setColour(bar);
    g.drawRect(b, 85, c, 22, 1);
    const float fill = juce::jlimit(0.0f, float(c - 2), float(c - 2) * progress_.load());
    if (fill > 0.0f)
        juce::LookAndFeel_V2::drawGlassLozenge(g, float(b + 1), 86.0f, fill, 20.0f, bar, 0.5f, 0.0f, true,
                                               true, true, true);

    g.setColour(findColour(juce::AlertWindow::textColourId));
    g.drawText(status, b, 85, c, 22, juce::Justification::centred, false);

    g.setFont(juce::Font(15.0f));
    g.drawFittedText(description, b, 125, c, 35, juce::Justification::centred, 1, 0.7f);
}

void installFirmwareProgressWindow()
{
    setFirmwareProgressFactory([] { return std::make_unique<FlashProgressWindow>(nullptr, true); });
}

} // namespace console
