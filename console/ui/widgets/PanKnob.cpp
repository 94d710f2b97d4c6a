#include "console/ui/widgets/PanKnob.h"

#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/Toggle.h"

#include <cmath>

namespace console
{
namespace
{

constexpr double kSteps = 31.0; // to each side of the centre

} // namespace

PanKnob::PanKnob(ConsoleContext& content, juce::Component& parent)
    : juce::Slider("pan"), HwCtrlBanked(*content.getControls()), content_(content)
{
    const KnobGeometry geometry = content.getLayout().getPanKnobGeometry();
    setBounds(geometry.bounds);
    setSliderStyle(juce::Slider::Rotary);
    setTextBoxStyle(juce::Slider::TextBoxBelow, true, geometry.bounds.getWidth(), geometry.valueBoxHeight);
    setRange(0.0, 1.0, 0.0);
    setRotaryParameters(geometry.rotaryStart, geometry.rotaryEnd, true);
    parent.addAndMakeVisible(this);
}

void PanKnob::setChannel(int channel)
{
    channel_ = channel & ~1;
    loadFromState(content_.getState(), false);
}

void PanKnob::centre()
{
    setPanInState(0.5f);
    setValue(0.5, juce::sendNotificationSync);
}

void PanKnob::setGang(Gang* gang, PanKnob* partner)
{
    gang_ = gang;
    partner_ = partner;
}

juce::String PanKnob::panText(double value)
{
    // nearbyint rounds halves to even in the default rounding mode.
    const int n = int(std::nearbyint(value * 2.0 * kSteps - kSteps));
    if (n == 0)
        return "C";
    return (n > 0 ? "R " : "L ") + juce::String(std::abs(n));
}

void PanKnob::handleCommandMessage(int)
{
    setValue(getPanFromState(), juce::dontSendNotification);
}

void PanKnob::valueChanged()
{
    const double v = getValue();
    setPanInState(float(v));
    getHwThread().queueChange(*this, channel_);
    if (gang_ != nullptr && partner_ != nullptr && gang_->getToggleState())
    {
        partner_->setValue(1.0 - v, juce::dontSendNotification);
        partner_->setPanInState(float(1.0 - v));
        partner_->getHwThread().queueChange(*partner_, partner_->channel_);
    }
}

void PanKnob::mouseDown(const juce::MouseEvent& e)
{
    if (e.mods.isCtrlDown())
        centre();
    else
        juce::Slider::mouseDown(e);
}

void PanKnob::mouseDrag(const juce::MouseEvent& e)
{
    if (e.mods.isCtrlDown())
        centre();
    else
        juce::Slider::mouseDrag(e);
}

} // namespace console
