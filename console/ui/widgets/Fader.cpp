#include "console/ui/widgets/Fader.h"

#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/Toggle.h"

namespace console
{
namespace
{

constexpr double kSkew = 1.5;
constexpr double kStep = 0.1;

// Whether the text starts with a number (after blanks): an optional sign, then a digit, or a point and a
// digit. What follows the number (a unit, say) is ignored, as String::getDoubleValue ignores it.
bool startsWithNumber(const juce::String& text)
{
    auto p = text.trimStart().getCharPointer();
    if (*p == '+' || *p == '-')
        ++p;
    if (*p == '.')
        ++p;
    return juce::CharacterFunctions::isDigit(*p);
}

} // namespace

// --- Fader ---

Fader::Fader(ConsoleContext& content, int channel)
    : juce::Slider("fader"), HwCtrlBanked(*content.getControls()), content_(content), channel_(channel)
{
}

Fader::~Fader()
{
    if (valueBox_ != nullptr)
        content_.getFaderRing().remove(*this);
}

void Fader::setup(juce::Component& parent)
{
    double maximum = 0.0;
    double minimum = 0.0;
    content_.getLayout().getFaderRange(maximum, minimum);
    setSliderStyle(juce::Slider::LinearVertical);
    setRange(minimum, maximum, kStep);
    setSkewFactor(kSkew);
    setTextBoxStyle(juce::Slider::NoTextBox, false, 0, 0);
    parent.addAndMakeVisible(this);
}

void Fader::createValueBox(juce::Component& parent, int x, int y, int width, int height, float fontHeight)
{
    if (valueBox_ != nullptr)
        return;
    valueBox_ = std::make_unique<FaderTextBox>(*this);
    valueBox_->setBounds(x, y, width, height);
    valueBox_->setJustificationType(juce::Justification::centred);
    // The whole width for the text: with the label's usual side margins "-10.0" would not fit in 28
    // pixels and would be cut to dots.
    valueBox_->setBorderSize(juce::BorderSize<int>(1, 0, 1, 0));
    valueBox_->setEditable(true, false, false);
    content_.getLayout().setValueBoxColours(*valueBox_);
    juce::Font font = valueBox_->getFont().boldened();
    if (fontHeight != 0.0f)
        font.setHeight(fontHeight);
    valueBox_->setFont(font);
    content_.getFaderRing().add(*this);
    parent.addAndMakeVisible(*valueBox_);
}

void Fader::setValueAndShow(double value, juce::NotificationType notification)
{
    setValue(value, notification);
    if (valueBox_ != nullptr)
        valueBox_->showValue(getValue(), juce::dontSendNotification);
}

void Fader::showLoadedValue(double db)
{
    setValueAndShow(db, juce::dontSendNotification);
    dragStart_ = getValue();
}

void Fader::setChannel(int channel)
{
    channel_ = channel;
    loadFromState(content_.getState(), false);
}

void Fader::setGang(Gang* gang, Fader* partner)
{
    gang_ = gang;
    partner_ = partner;
}

bool Fader::gangIsOn() const
{
    return gang_ != nullptr && partner_ != nullptr && gang_->getToggleState();
}

void Fader::queueChange()
{
    getHwThread().queueChange(*this, channel_);
}

void Fader::startedDragging()
{
    dragStart_ = getValue();
    if (gangIsOn())
        partner_->dragStart_ = partner_->getValue();
}

void Fader::valueChanged()
{
    const double v = getValue();
    queueChange();
    if (valueBox_ != nullptr)
        valueBox_->showValue(v, juce::dontSendNotification);
    if (gangIsOn())
    {
        // Quietly, so the partner's move does not come back here.
        partner_->setValueAndShow(v - dragStart_ + partner_->dragStart_, juce::dontSendNotification);
        partner_->queueChange();
    }
}

void Fader::mouseUp(const juce::MouseEvent& e)
{
    // The slider's own mouse-up always runs: it ends the drag and gives back a pointer hidden by a
    // ctrl-drag (the slider's fine-adjust mode).
    juce::Slider::mouseUp(e);
    if (e.mods.isCtrlDown())
        setValueAndShow(0.0, juce::sendNotificationAsync);
}

// --- FaderRing ---

void FaderRing::add(Fader& fader)
{
    FaderTextBox* box = fader.getValueBox();
    if (box == nullptr)
        return;
    if (first_ == nullptr)
    {
        box->next_ = box->prev_ = box;
        first_ = &fader;
        return;
    }
    FaderTextBox* first = first_->getValueBox();
    FaderTextBox* last = first->prev_;
    last->next_ = box;
    box->prev_ = last;
    box->next_ = first;
    first->prev_ = box;
}

void FaderRing::remove(Fader& fader)
{
    FaderTextBox* box = fader.getValueBox();
    if (box == nullptr || first_ == nullptr)
        return;
    if (box->next_ == box)
    {
        if (first_ == &fader)
            first_ = nullptr;
        return;
    }
    box->prev_->next_ = box->next_;
    box->next_->prev_ = box->prev_;
    if (first_ == &fader)
        first_ = &box->next_->getFader();
    box->next_ = box->prev_ = box;
}

// --- FaderTextBox ---

FaderTextBox::FaderTextBox(Fader& fader) : juce::Label("fader text", {}), fader_(fader) {}

juce::String FaderTextBox::formatValue(double value)
{
    const juce::String text = juce::String::formatted("%.1f", value);
    return text == "-0.0" ? juce::String("0.0") : text;
}

void FaderTextBox::showValue(double value, juce::NotificationType notification)
{
    setText(formatValue(value), notification);
}

void FaderTextBox::textWasEdited()
{
    const juce::String text = getText();
    if (startsWithNumber(text))
    {
        fader_.setValue(text.getDoubleValue(), juce::dontSendNotification);
        fader_.getHwThread().queueChange(fader_, fader_.getChannel());
    }
    showValue(fader_.getValue(), juce::dontSendNotification);
}

std::unique_ptr<juce::ComponentTraverser> FaderTextBox::createKeyboardFocusTraverser()
{
    return std::make_unique<FtbTraverser>(*this);
}

FaderTextBox* FtbTraverser::step(bool forward) const
{
    FaderTextBox* box = &box_;
    do
        box = forward ? box->getNextBox() : box->getPreviousBox();
    while (box != &box_ && !box->isShowing());
    return box;
}

std::vector<juce::Component*> FtbTraverser::getAllComponents(juce::Component*)
{
    std::vector<juce::Component*> ring;
    FaderTextBox* box = &box_;
    do
    {
        if (box == &box_ || box->isShowing())
            ring.push_back(box);
        box = box->getNextBox();
    } while (box != &box_);
    return ring;
}

} // namespace console
