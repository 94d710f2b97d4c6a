#include "console/ui/window/JuceMessageBox.h"

#include "console/ui/window/CoveredRepaint.h"

#include <juce_gui_basics/juce_gui_basics.h>

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

int present(const std::string& title, const std::string& text, int type)
{
    const int buttons = type & 0xF;
    if (!juce::MessageManager::existsAndIsCurrentThread())
        return cautiousAnswer(buttons);

    const juce::String t = juce::String::fromUTF8(title.c_str());
    const juce::String m = juce::String::fromUTF8(text.c_str());
    const auto icon = iconFor(type);
    if (buttons == platform::MB_OKCANCEL)
        return juce::AlertWindow::showOkCancelBox(icon, t, m, "OK", "Cancel") ? platform::IDOK
                                                                              : platform::IDCANCEL;
    if (buttons == platform::MB_YESNO)
        return juce::AlertWindow::showOkCancelBox(icon, t, m, "Yes", "No") ? platform::IDYES : platform::IDNO;
    juce::AlertWindow::showMessageBox(icon, t, m, "OK");
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
