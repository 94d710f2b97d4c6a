#include "console/ui/widgets/Toggle.h"

#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"

namespace console
{
namespace
{

const juce::Colour kHoverVeil(0x10FFFFFF);

} // namespace

// --- ToggleBase ---

ToggleBase::ToggleBase(ConsoleContext& content) : juce::Button("toggle"), content_(content)
{
    setRepaintsOnMouseActivity(true);
}

void ToggleBase::setImages(const juce::Image& off, const juce::Image& on, const juce::Image& down)
{
    off_ = off;
    on_ = on;
    down_ = down;
    repaint();
}

void ToggleBase::setup(juce::Component& parent)
{
    setClickingTogglesState(true);
    parent.addAndMakeVisible(this);
}

void ToggleBase::captureState()
{
    value_ = getToggleState();
}

void ToggleBase::showValue(bool on)
{
    value_ = on;
    setToggleState(on, juce::dontSendNotification);
    repaint();
}

void ToggleBase::setGang(Gang* gang, ToggleBase* partner)
{
    gang_ = gang;
    partner_ = partner;
}

void ToggleBase::handleCommandMessage(int commandId)
{
    if (commandId != 0)
    {
        juce::Button::handleCommandMessage(commandId);
        return;
    }
    setToggleState(value_, juce::dontSendNotification);
    repaint();
}

void ToggleBase::queueChange()
{
    getHwCtrl().getHwThread().queueSet(getHwCtrl());
}

void ToggleBase::clicked()
{
    captureState();
    queueChange();
    if (gang_ != nullptr && partner_ != nullptr && gang_->getToggleState())
    {
        partner_->setToggleState(value_, juce::dontSendNotification);
        partner_->captureState();
        partner_->queueChange();
    }
}

void ToggleBase::paintButton(juce::Graphics& g, bool isMouseOver, bool isButtonDown)
{
    const juce::Image& image = isButtonDown ? down_ : (value_ ? on_ : off_);
    g.drawImageAt(image, 0, 0);
    if (isMouseOver && !isButtonDown)
    {
        g.setColour(kHoverVeil);
        g.fillRect(4, 2, image.getWidth() - 8, image.getHeight() - 4);
    }
}

// --- ToggleBanked ---

ToggleBanked::ToggleBanked(ConsoleContext& content, int channel)
    : ToggleBase(content), HwCtrlBanked(*content.getControls()), channel_(channel)
{
}

void ToggleBanked::queueChange()
{
    getHwThread().queueChange(*this, channel_);
}

void ToggleBanked::setChannel(int channel)
{
    channel_ = channel;
    loadFromState(getContent().getState(), false);
}

// --- CtrlGroupedButton ---

void CtrlGroupedButton::clicked(const juce::ModifierKeys& modifiers)
{
    juce::Component* strip = getParentComponent();
    auto* group = dynamic_cast<StripGroup*>(strip != nullptr ? strip->getParentComponent() : nullptr);
    if (!modifiers.isCtrlDown() || group == nullptr)
    {
        ToggleBase::clicked();
        return;
    }
    const bool on = getToggleState();
    for (int i = 0; i < StripGroup::kMaxStrips; ++i)
    {
        juce::Component* member = group->getStrip(i);
        if (member == nullptr)
            break;
        if (CtrlGroupedButton* button = getGroupMember(*member))
        {
            button->setToggleState(on, juce::dontSendNotification);
            button->captureState();
            button->queueChange();
        }
    }
}

// --- Gang ---

Gang::Gang() : juce::Button("console_gang_button") {}

void Gang::setup(juce::Component& parent)
{
    setToggleState(true, juce::dontSendNotification);
    setClickingTogglesState(true);
    parent.addAndMakeVisible(this);
}

void Gang::paintButton(juce::Graphics& g, bool isMouseOver, bool isButtonDown)
{
    const ConsoleImages& im = consoleImages();
    const juce::Image& image = isButtonDown ? im.gangPressed : (getToggleState() ? im.gangLit : im.gangUp);
    g.drawImageAt(image, 0, 0);
    if (isMouseOver && !isButtonDown)
    {
        g.setColour(kHoverVeil);
        g.fillRect(image.getBounds());
    }
}

} // namespace console
