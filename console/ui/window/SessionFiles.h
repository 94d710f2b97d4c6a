#pragma once

// Session files in the window: the Load, Save and Reset buttons of the session box, the "Save", "Save as"
// and "Load" commands with their choosers and alerts, and bringing a loaded or reset session onto every
// control of the window and into the interface.
//
// The choosers, alerts and questions go through SessionDialogs, which tests replace; the program shows
// the framework's file choosers, the platform's message boxes and the framework's question boxes, titled
// "Console settings".
//
// Choosers and alerts run modal loops, in which the window may be closed (its interface removed): the
// commands then stop at once. Message thread only.

#include "console/ui/widgets/ConsoleContext.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

// The window's session commands and their default keys.
enum SessionCommand
{
    kSaveCommand = 1,
    kSaveAsCommand = 2,
    kLoadCommand = 3
};

// What the session commands and buttons need of the window's content besides what its controls need:
// the component that holds every control (the walkers search it; the commands stop when it has gone
// during a chooser or an alert) and its command manager.
class SessionHost : public ConsoleContext
{
public:
    virtual juce::Component& getContentComponent() = 0;
    virtual juce::ApplicationCommandManager& getCommandManager() = 0;

protected:
    ~SessionHost() = default;
};

class SessionDialogs
{
public:
    virtual ~SessionDialogs() = default;
    // A chooser to open an existing file, or to save one (asking before an existing file is replaced).
    // The file chosen; a File() with an empty path when cancelled.
    virtual juce::File chooseFileToLoad(const juce::String& title, const juce::File& initial,
                                        const juce::String& wildcard) = 0;
    virtual juce::File chooseFileToSave(const juce::String& title, const juce::File& initial,
                                        const juce::String& wildcard) = 0;
    // A message box titled "Console settings" with one OK button.
    virtual void alert(const juce::String& text) = 0;
    // A question titled "Console settings" with the buttons Replace and Cancel: true for Replace.
    virtual bool askToReplace(const juce::String& text) = 0;
};

// The dialogs in use: the installed ones, else the program's own.
SessionDialogs& sessionDialogs();
// Installs dialogs (null: the program's own again); returns those replaced. Not owned.
SessionDialogs* setSessionDialogs(SessionDialogs* dialogs);

// "Load": a file chosen in the session folder (or a legacy file of the model) replaces the session,
// which then goes to every control and the interface. A refused file is reported and changes nothing,
// not even the session's name and folder; the session in the window is sent again all the same.
void loadSession(SessionHost& content);
// "Save" (without saveAs and with a session file known: that file again, no chooser) and "Save as".
// When the chooser's name gets the session extension and a file of that name exists, the user is asked
// before it is replaced (the chooser asked about the name without it).
void saveSession(SessionHost& content, bool saveAs);
// Every gang button and channel name shows the state block again; every control takes its value from
// the image and sends it, as the image holds it.
void applyToConsole(SessionHost& content);

// Every control takes its default and sends it (the names and gang masks stay as they are); the image is
// a whole session from then on. Reset does it after clearing the names, and a window whose interface
// holds no stored session does it as it opens.
void resetToDefaults(SessionHost& content);

// The walkers over a component tree: every gang button ("console_gang_button") reloads from its gang
// mask; every channel-name label ("alias") reloads its names, after clearing them when reset is set.
void refreshGangButtons(juce::Component& component);
void refreshAliasLabels(juce::Component& component, bool reset);

// A session button: its up face (with a faint white veil under the mouse) and its pressed face, sized to
// the face, at its place in the session box.
class SessionButton : public juce::ImageButton
{
public:
    SessionButton(const juce::String& name, const juce::Image& up, const juce::Image& down,
                  juce::Point<int> position);
};

// Triggers "Save" through the window's command manager; shows pressed for 500 ms after each save, from
// the keyboard too.
class SaveButton : public SessionButton, private juce::Timer
{
public:
    explicit SaveButton(SessionHost& content);
    void showPressed();
    bool isShowingPressed() const { return isTimerRunning(); }

protected:
    void paintButton(juce::Graphics& g, bool isMouseOver, bool isButtonDown) override;

private:
    void timerCallback() override;
};

// Triggers "Load" through the window's command manager.
class LoadButton : public SessionButton
{
public:
    explicit LoadButton(SessionHost& content);
};

// Brings every control and name to its default (the gang masks stay) and sends the result.
class ResetButton : public SessionButton
{
public:
    explicit ResetButton(SessionHost& content);

protected:
    void clicked() override;

private:
    SessionHost& content_;
};

} // namespace console
