#include "console/ui/window/JuceMessageBox.h"

#include "console/ui/window/CoveredRepaint.h"
#include "device/Text.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <cmath>

namespace console
{
namespace
{

juce::MessageBoxIconType iconFor(int type)
{
    switch (type & 0xF0)
    {
    case platform::MB_ICONERROR:
    case platform::MB_ICONWARNING:
        return juce::MessageBoxIconType::WarningIcon;
    case platform::MB_ICONQUESTION:
        return juce::MessageBoxIconType::QuestionIcon;
    case platform::MB_ICONINFORMATION:
        return juce::MessageBoxIconType::InfoIcon;
    default:
        return juce::MessageBoxIconType::NoIcon;
    }
}

int cautiousAnswer(int buttons)
{
    if (buttons == platform::MB_OKCANCEL)
        return platform::IDCANCEL;
    if (buttons == platform::MB_YESNO)
        return platform::IDNO;
    return platform::IDOK;
}

// The box's text, one label per line. The framework's alert window balances the lengths of the lines of
// its message and breaks them anew ("using" alone on a line): here every line of the text is a line of
// the box, which is made as wide as the longest. Half a line lies above the text, about the room the
// framework leaves between the title and its text.
class AlertLines : public juce::Component
{
public:
    AlertLines(const juce::String& text, const juce::Font& font, juce::Colour colour,
               juce::Justification justification)
        : lineHeight_(int(std::ceil(font.getHeight())))
    {
        int width = 0;
        for (const juce::String& line : juce::StringArray::fromLines(text))
        {
            auto* label = labels_.add(new juce::Label({}, line));
            label->setFont(font);
            label->setColour(juce::Label::textColourId, colour);
            label->setJustificationType(justification);
            label->setBorderSize({});
            label->setInterceptsMouseClicks(false, false);
            addAndMakeVisible(label);
            width = std::max(width, int(std::ceil(font.getStringWidthFloat(line))) + 2);
        }
        setSize(width, lineHeight_ / 2 + lineHeight_ * labels_.size());
    }

    void resized() override
    {
        for (int i = 0; i < labels_.size(); ++i)
            labels_[i]->setBounds(0, lineHeight_ / 2 + i * lineHeight_, getWidth(), lineHeight_);
    }

private:
    const int lineHeight_;
    juce::OwnedArray<juce::Label> labels_;
};

// A modal alert window with the title, the text in its own lines and one or two buttons (the second, when
// given, answers 0 and takes Escape; the first answers 1 and takes Return, and Escape too when alone).
int runAlert(const juce::String& title, const juce::String& text, juce::MessageBoxIconType icon,
             const juce::String& first, const juce::String& second = {})
{
    // As the framework's own text: an edge of 10 pixels, and a column of 80 for the icon.
    constexpr int kEdge = 10;
    const int left = kEdge + (icon == juce::MessageBoxIconType::NoIcon ? 0 : 80);
    juce::AlertWindow alert(title, {}, icon);
    AlertLines lines(text, alert.getLookAndFeel().getAlertWindowMessageFont(),
                     alert.findColour(juce::AlertWindow::textColourId),
                     left == kEdge ? juce::Justification::centred : juce::Justification::centredLeft);
    const int textWidth = lines.getWidth();
    // The window makes itself a quarter wider than its custom component: enough for the text and the
    // margins beside it.
    lines.setSize((textWidth + left + kEdge) * 4 / 5 + 1, lines.getHeight());
    alert.addCustomComponent(&lines);
    if (second.isEmpty())
        alert.addButton(first, 1, juce::KeyPress(juce::KeyPress::escapeKey),
                        juce::KeyPress(juce::KeyPress::returnKey));
    else
    {
        // Each also answers to its initial ("y" and "n"), as the framework's own two-button boxes do.
        auto initial = [](const juce::String& name)
        { return juce::KeyPress(int(juce::CharacterFunctions::toLowerCase(name[0])), 0, 0); };
        alert.addButton(first, 1, juce::KeyPress(juce::KeyPress::returnKey), initial(first));
        alert.addButton(second, 0, juce::KeyPress(juce::KeyPress::escapeKey),
                        initial(second) == initial(first) ? juce::KeyPress() : initial(second));
    }
    lines.setBounds(left, lines.getY(), alert.getWidth() - left - kEdge, lines.getHeight());
    return alert.runModalLoop();
}

int present(const std::string& title, const std::string& text, int type)
{
    const int buttons = type & 0xF;
    if (!juce::MessageManager::existsAndIsCurrentThread())
        return cautiousAnswer(buttons);

    const juce::String t = device::textFromBytes(title);
    const juce::String m = device::textFromBytes(text);
    const auto icon = iconFor(type);
    if (buttons == platform::MB_OKCANCEL)
        return runAlert(t, m, icon, "OK", "Cancel") != 0 ? platform::IDOK : platform::IDCANCEL;
    if (buttons == platform::MB_YESNO)
        return runAlert(t, m, icon, "Yes", "No") != 0 ? platform::IDYES : platform::IDNO;
    runAlert(t, m, icon, "OK");
    return platform::IDOK;
}

// The alert has gone when it answers: what it covered is drawn again (see CoveredRepaint.h).
int presentAndRepaint(const std::string& title, const std::string& text, int type)
{
    const int answer = present(title, text, type);
    if (juce::MessageManager::existsAndIsCurrentThread())
        repaintAllWindows();
    return answer;
}

} // namespace

platform::MessageBoxPresenter makeJuceMessageBoxPresenter()
{
    return presentAndRepaint;
}

platform::MessageBoxPresenter installJuceMessageBoxPresenter()
{
    return platform::setMessageBoxPresenter(presentAndRepaint);
}

} // namespace console
