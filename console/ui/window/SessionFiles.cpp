#include "console/ui/window/SessionFiles.h"

#include "console/core/ConsoleState.h"
#include "console/core/HwCtrl.h"
#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/Toggle.h"
#include "console/ui/window/CoveredRepaint.h"
#include "device/Vhw.h"
#include "platform/Debug.h"
#include "platform/MessageBox.h"
#include "platform/SystemInfo.h"

namespace console
{
namespace
{

constexpr int kShowPressedMs = 500;

// The framework's choosers (the system's own where it has one) and the platform's message boxes. What a
// chooser or the question covered is drawn again when it has gone (see CoveredRepaint.h).
class ProgramDialogs : public SessionDialogs
{
public:
    juce::File chooseFileToLoad(const juce::String& title, const juce::File& initial,
                                const juce::String& wildcard) override
    {
        juce::FileChooser chooser(title, startOf(initial), wildcard, true);
        const bool chosen = chooser.browseForFileToOpen();
        repaintAllWindows();
        return chosen ? chooser.getResult() : juce::File();
    }

    juce::File chooseFileToSave(const juce::String& title, const juce::File& initial,
                                const juce::String& wildcard) override
    {
        juce::FileChooser chooser(title, startOf(initial), wildcard, true);
        const bool chosen = chooser.browseForFileToSave(true);
        repaintAllWindows();
        return chosen ? chooser.getResult() : juce::File();
    }

    void alert(const juce::String& text) override
    {
        platform::messageBox("Console settings", text.toStdString(), platform::MB_OK);
    }

    bool askToReplace(const juce::String& text) override
    {
        // The platform's boxes have no "Replace" button; this one writes the debug line they write.
        platform::outputDebugString(("Message box [Console settings] " + text).toRawUTF8());
        const bool replace = juce::AlertWindow::showOkCancelBox(
            juce::MessageBoxIconType::QuestionIcon, "Console settings", text, "Replace", "Cancel");
        repaintAllWindows(); // what the box covered (see CoveredRepaint.h)
        return replace;
    }

private:
    // A wildcard as the initial file's name only filters what a Windows chooser lists; the framework's
    // own chooser would offer it as the name to save under. It starts in the folder instead.
    static juce::File startOf(const juce::File& initial)
    {
        return initial.getFileName().containsAnyOf("*?") ? initial.getParentDirectory() : initial;
    }
};

SessionDialogs* installedDialogs = nullptr;

// The window can neither be used nor closed while its chooser (or the question after it) is open.
class DisabledWhileChoosing
{
public:
    explicit DisabledWhileChoosing(juce::Component& content) : top_(content.getTopLevelComponent())
    {
        top_->setEnabled(false);
    }
    ~DisabledWhileChoosing()
    {
        if (top_ != nullptr)
            top_->setEnabled(true);
    }
    DisabledWhileChoosing(const DisabledWhileChoosing&) = delete;
    DisabledWhileChoosing& operator=(const DisabledWhileChoosing&) = delete;

private:
    juce::Component::SafePointer<juce::Component> top_;
};

bool isNone(const juce::File& file)
{
    return file.getFullPathName().isEmpty();
}

// Where a chooser starts: from Vista on, the folder with the wildcard as the file name; before, the
// folder.
juce::File chooserStart(const juce::File& folder, const juce::String& wildcard)
{
    return platform::isWindowsVistaOrLater() ? folder.getChildFile(wildcard) : folder;
}

// The choosers' filter of session files. The extension holds spaces ("Strellis 8 session"), and the
// system choosers the framework starts on Linux take a filter as patterns separated by spaces and read
// '[' ... ']' in a pattern as a set of characters: each space and bracket is matched by '?' instead,
// which every chooser reads as any one character.
juce::String sessionWildcard(const juce::String& extension)
{
    return "*." + extension.replaceCharacters(" []", "???");
}

// The session's name: the file name without the session extension (which may hold dots of the model
// name), or without whatever extension the file has.
juce::String sessionName(const juce::File& file, const juce::String& extension)
{
    const juce::String name = file.getFileName();
    const juce::String dotted = "." + extension;
    if (name.endsWithIgnoreCase(dotted))
        return name.dropLastCharacters(dotted.length());
    return file.getFileNameWithoutExtension();
}

// The file a later plain "Save" writes after this one was loaded: the file itself when it has the session
// extension in any letter case, else the session file of its name beside it (a legacy file, say, is not
// overwritten in the other format).
juce::File saveTarget(const juce::File& file, const juce::String& extension)
{
    if (file.getFileName().endsWithIgnoreCase("." + extension))
        return file;
    return file.getSiblingFile(sessionName(file, extension) + "." + extension);
}

void alert(ConsoleState::FileError error)
{
    sessionDialogs().alert(ConsoleState::getErrorText(error));
}

} // namespace

SessionDialogs& sessionDialogs()
{
    static ProgramDialogs program;
    return installedDialogs != nullptr ? *installedDialogs : program;
}

SessionDialogs* setSessionDialogs(SessionDialogs* dialogs)
{
    SessionDialogs* previous = installedDialogs;
    installedDialogs = dialogs;
    return previous;
}

void loadSession(SessionHost& content)
{
    // The window may be closed while a chooser or an alert is open (its interface removed).
    juce::Component& component = content.getContentComponent();
    const juce::Component::SafePointer<juce::Component> alive(&component);
    // A name being typed belongs to the session on screen, not to the one loaded.
    Alias::commitOpenEditors(component);
    ConsoleState& state = content.getState();
    const juce::File folder = state.getSessionFolder();
    if (isNone(folder))
    {
        sessionDialogs().alert("Cannot open folder.");
        return;
    }
    const uint32_t model = content.getDevice().getModelId();
    const juce::String wildcard =
        ConsoleState::getLoadWildcard(model, sessionWildcard(state.getSessionExtension()));
    juce::File file;
    {
        DisabledWhileChoosing disabled(component);
        file = sessionDialogs().chooseFileToLoad("Load settings", chooserStart(folder, wildcard), wildcard);
    }
    if (alive == nullptr || isNone(file))
        return;
    if (!file.existsAsFile())
    {
        sessionDialogs().alert("The specified file does not exist.");
        return;
    }

    const ConsoleState::FileError error = ConsoleState::isLegacyFile(model, file)
                                              ? state.readLegacySessionFile(file)
                                              : state.readSessionFile(file);
    if (error != ConsoleState::FileError::none)
    {
        alert(error);
        if (alive == nullptr)
            return;
    }
    // A refused file leaves the session as it was, and that is sent again; its name and folder are not
    // taken, so the next "Save" cannot overwrite the refused file.
    applyToConsole(content);
    if (error != ConsoleState::FileError::none)
        return;
    // The image is a whole session now, whatever the interface held: it goes to flash at close.
    state.markWholeImage();
    state.setMostRecentFolder(file.getParentDirectory().getFullPathName());
    state.setCurrentSessionName(sessionName(file, state.getSessionExtension()));
    state.setCurrentSessionFile(saveTarget(file, state.getSessionExtension()));
}

void saveSession(SessionHost& content, bool saveAs)
{
    juce::Component& component = content.getContentComponent();
    const juce::Component::SafePointer<juce::Component> alive(&component);
    Alias::commitOpenEditors(component);
    ConsoleState& state = content.getState();
    const juce::String extension = state.getSessionExtension();
    juce::File file;
    juce::File chosen; // the file the chooser returned, which it asked about when it existed
    if (saveAs || isNone(state.getCurrentSessionFile()))
    {
        const juce::File folder = state.getSessionFolder();
        if (isNone(folder))
        {
            sessionDialogs().alert("Cannot create folder.");
            return;
        }
        const juce::String wildcard = sessionWildcard(extension);
        {
            DisabledWhileChoosing disabled(component);
            file =
                sessionDialogs().chooseFileToSave("Save settings", chooserStart(folder, wildcard), wildcard);
        }
        if (alive == nullptr || isNone(file))
            return;
        chosen = file;
    }
    else
    {
        file = state.getCurrentSessionFile();
    }
    if (!file.getFileName().endsWithIgnoreCase("." + extension))
        file = file.getSiblingFile(file.getFileName() + "." + extension);
    // The extension was added after the chooser closed: the chooser asked about another name.
    if (!isNone(chosen) && file != chosen && file.exists())
    {
        bool replace = false;
        {
            DisabledWhileChoosing disabled(component);
            replace = sessionDialogs().askToReplace(file.getFileName() +
                                                    " already exists. Do you want to replace it?");
        }
        if (alive == nullptr || !replace)
            return;
    }

    if (const ConsoleState::FileError error = state.writeSessionFile(file);
        error != ConsoleState::FileError::none)
    {
        alert(error);
        return;
    }
    state.setMostRecentFolder(file.getParentDirectory().getFullPathName());
    state.setCurrentSessionName(sessionName(file, extension));
    state.setCurrentSessionFile(file);
}

void applyToConsole(SessionHost& content)
{
    refreshGangButtons(content.getContentComponent());
    refreshAliasLabels(content.getContentComponent(), false);
    HwCtrlList* controls = content.getControls();
    HwCtrlQueue* thread = content.getHwThread();
    if (controls == nullptr || thread == nullptr)
        return;
    // Queued without storing: each control sends what the image holds, not what its widget could show
    // of it (a fader's range, a rounded value), so the session reaches the interface as it was loaded
    // and a later save writes the same bytes.
    for (HwCtrl* control = controls->getFirst(); control != nullptr; control = control->getNextInList())
    {
        control->loadFromState(content.getState(), true);
        thread->requeueSet(*control);
    }
}

void refreshGangButtons(juce::Component& component)
{
    if (component.getName() == "console_gang_button")
    {
        if (auto* gang = dynamic_cast<Gang*>(&component))
            gang->reload();
        return;
    }
    for (juce::Component* child : component.getChildren())
        refreshGangButtons(*child);
}

void refreshAliasLabels(juce::Component& component, bool reset)
{
    if (component.getName() == "alias")
    {
        if (auto* alias = dynamic_cast<Alias*>(&component))
        {
            if (reset)
                alias->clearNames();
            alias->reloadText();
        }
        return;
    }
    for (juce::Component* child : component.getChildren())
        refreshAliasLabels(*child, reset);
}

// --- the buttons ---

SessionButton::SessionButton(const juce::String& name, const juce::Image& up, const juce::Image& down,
                             juce::Point<int> position)
    : juce::ImageButton(name)
{
    setImages(true, false, true, up, 1.0f, {}, up, 1.0f, juce::Colours::white.withAlpha(0.1f), down, 1.0f,
              {});
    setTopLeftPosition(position);
}

SaveButton::SaveButton(SessionHost& content)
    : SessionButton("SaveButton", consoleImages().saveUp, consoleImages().saveDown,
                    content.getLayout().getSaveButtonPosition())
{
    setCommandToTrigger(&content.getCommandManager(), kSaveCommand, false);
}

void SaveButton::showPressed()
{
    setState(juce::Button::buttonDown);
    startTimer(kShowPressedMs);
}

void SaveButton::timerCallback()
{
    setState(juce::Button::buttonNormal);
    stopTimer();
}

void SaveButton::paintButton(juce::Graphics& g, bool isMouseOver, bool isButtonDown)
{
    // The framework's own short flash of a triggered command ends before these 500 ms do.
    SessionButton::paintButton(g, isMouseOver, isButtonDown || isTimerRunning());
}

LoadButton::LoadButton(SessionHost& content)
    : SessionButton("LoadButton", consoleImages().loadUp, consoleImages().loadDown,
                    content.getLayout().getLoadButtonPosition())
{
    setCommandToTrigger(&content.getCommandManager(), kLoadCommand, false);
}

ResetButton::ResetButton(SessionHost& content)
    : SessionButton("ResetButton", consoleImages().resetUp, consoleImages().resetDown,
                    content.getLayout().getResetButtonPosition()),
      content_(content)
{
}

void ResetButton::clicked()
{
    // An open name editor would otherwise put its text back over the default afterwards.
    juce::Component& component = content_.getContentComponent();
    Alias::commitOpenEditors(component);
    refreshAliasLabels(component, true);
    resetToDefaults(content_);
    component.repaint();
}

void resetToDefaults(SessionHost& content)
{
    HwCtrlList* controls = content.getControls();
    HwCtrlQueue* thread = content.getHwThread();
    if (controls != nullptr && thread != nullptr)
    {
        for (HwCtrl* control = controls->getFirst(); control != nullptr; control = control->getNextInList())
        {
            control->resetToDefault();
            thread->queueSet(*control);
        }
    }
    content.getState().markWholeImage();
}

} // namespace console
