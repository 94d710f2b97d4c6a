#pragma once

// One console window per interface. The window owns what belongs to that interface in the console: its
// layout, its properties file, its state block and its content. The content builds the tab bar and the
// pages, owns the window's hardware thread, answers the session commands and runs the window's share of
// the status poll through its own device-bound control, CwcCtrl.
//
// Lifetime: the application creates, lists, places and deletes windows (ConsoleApp). A window whose
// close button was pressed hides, and its hardware thread writes a changed state block to flash, then
// says it has finished: the window then posts a delete-window message carrying its serial number, and
// the application deletes the window only if that serial is still listed.

#include "console/core/ConsoleState.h"
#include "console/core/HwCtrl.h"
#include "console/core/HwThread.h"
#include "console/core/PolledSnapshot.h"
#include "console/core/UnitRead.h"
#include "console/ui/settings/Settings.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/Fader.h"
#include "console/ui/window/CoveredRepaint.h"
#include "console/ui/window/Pages.h"
#include "console/ui/window/SessionFiles.h"
#include "console/ui/window/TabBar.h"
#include "device/Vhw.h"
#include "device/WindowPlacement.h"

#include <juce_data_structures/juce_data_structures.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace console
{

class CwContent;

// The window's status control: on the hardware thread it polls the device (status and meters, then the
// driver information) and identifies the device on request. A poll that completes copies what it read
// into the snapshot, under the control's lock; views read only that snapshot, never the device's polled
// block, which the next poll may be writing.
class CwcCtrl : public HwCtrl
{
public:
    CwcCtrl(HwCtrlList& list, CwContent& content);

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}

    // True when the last poll succeeded.
    bool isValid() const { return valid_.load(); }
    // Any thread: a copy of the last completed poll (all zero before the first).
    PolledSnapshot getSnapshot() const;

private:
    CwContent& content_;
    std::atomic<bool> valid_{false};
    mutable std::mutex snapshotLock_;
    PolledSnapshot snapshot_; // guarded by snapshotLock_
};

// The window's content: the tab bar, the pages and the settings page, and what their controls need of
// the window (ConsoleContext, and for the session commands SessionHost). When the state block holds no
// whole session, the values the unit runs are read into it (UnitRead) and shown as they arrive.
class CwContent : public juce::Component,
                  public juce::ApplicationCommandTarget,
                  public TabBarHost,
                  public SessionHost,
                  private UnitRead::Listener
{
public:
    CwContent(ConsoleLayout& layout, device::vhw& device, ConsoleState& state);
    // Stops the hardware thread (if still running) before anything it might touch goes.
    ~CwContent() override;

    // Builds the thread, the tab bar, the pages, the session box, the logo and the settings page, loads
    // every control from the state block, starts reading what the unit runs when the state block holds
    // no whole session, selects the saved tab and starts the thread.
    void createChildren(HwThreadHost& window, juce::PropertySet& properties);

    // Every 100 ms while the window is visible: queue the status poll.
    void poll();
    // Queue the identify command.
    void identifyDevice();
    // Tell the hardware thread to finish (it writes flash first when the state changed).
    void stopHwThread();
    // "tab" = the current tab (-1 = settings).
    void saveTab(juce::PropertySet& properties) const;

    // Any id: when the last poll succeeded, refresh the view from a snapshot of it.
    void handleCommandMessage(int commandId) override;
    // Opaque, and its children cover all of it: it draws nothing itself.
    void paint(juce::Graphics&) override {}

    // TabBarHost
    const device::HwInfoCaps& getHwInfo() const override { return device_.getCaps(); }
    void showPage(int index) override;

    // ConsoleContext
    ConsoleLayout& getLayout() const override { return layout_; }
    device::vhw& getDevice() const override { return device_; }
    ConsoleState& getState() const override { return state_; }
    hwthread* getHwThread() const override { return thread_.get(); }
    HwCtrlList* getControls() const override { return controls_.get(); }
    FaderRing& getFaderRing() override { return faderRing_; }
    void solosChanged() override;

    // SessionHost
    juce::Component& getContentComponent() override { return *this; }
    juce::ApplicationCommandManager& getCommandManager() override { return commandManager_; }

    // ApplicationCommandTarget
    juce::ApplicationCommandTarget* getNextCommandTarget() override { return nullptr; }
    void getAllCommands(juce::Array<juce::CommandID>& commands) override;
    void getCommandInfo(juce::CommandID commandID, juce::ApplicationCommandInfo& result) override;
    bool perform(const InvocationInfo& info) override;

    CwcCtrl* getPollCtrl() const { return pollCtrl_.get(); }
    UnitRead* getUnitRead() const { return unitRead_.get(); }
    VarnelTopTabBar* getTabBar() const { return tabBar_.get(); }
    TabbedUiBox* getTabbedBox() const { return tabbedBox_.get(); }
    Settings* getSettings() const { return settings_.get(); }
    SessionBox* getSessionBox() const { return sessionBox_.get(); }

    // Polls completed and views refreshed (for tests and the trace-minded).
    int getRefreshCount() const { return refreshCount_; }

private:
    // Every control shows the state block anew.
    void unitValuesArrived() override;

    ConsoleLayout& layout_;
    device::vhw& device_;
    ConsoleState& state_;
    FaderRing faderRing_; // before the faders, which leave it when they go
    std::unique_ptr<hwthread> thread_;
    std::unique_ptr<HwCtrlList> controls_;
    std::unique_ptr<CwcCtrl> pollCtrl_;
    std::unique_ptr<UnitRead> unitRead_;
    std::unique_ptr<VarnelTopTabBar> tabBar_;
    std::unique_ptr<TabbedUiBox> tabbedBox_;
    std::unique_ptr<SessionBox> sessionBox_;
    std::unique_ptr<LogoBox> logoBox_;
    std::unique_ptr<Settings> settings_;
    juce::ApplicationCommandManager commandManager_;
    bool sessionCommandPending_ = false; // a session command is posted or running
    int refreshCount_ = 0;
};

// The framework repaints a window at its display's refresh rate, and at 100 Hz on a display that
// reports none (a virtual display, as in the tests). A console window changes at most at its 10 Hz poll
// unless the user works it, so such displays get kFallbackRepaintHz. Message thread, before a window is
// made: a window takes the rate when it is placed.
inline constexpr int kFallbackRepaintHz = 20;
void setRepaintRateOfDisplaysWithoutOne();

// The properties file of an interface: "<unique name>.properties" (the unique name as a single file
// name) in "Varnel Strellis Console" under the user's application-data folder, XML, saved 1000 ms after
// a change. The window checks it before it is read (checkSettingsFile): a damaged one is moved aside and
// the defaults are used; values read that the framework would take for markup are kept as text.
juce::PropertiesFile::Options consolePropertiesOptions(const juce::String& uniqueName);

// What a window needs of the application that lists it.
class ConsoleWindowHost
{
public:
    // Hardware thread: the window's hardware thread has finished and the window may be deleted; the
    // host does it later on the message thread, if the serial is still listed then.
    virtual void windowFinished(int serial, device::vhw& device) = 0;

protected:
    ~ConsoleWindowHost() = default;
};

class ConsoleWindow : public juce::DocumentWindow, public HwThreadHost
{
public:
    // Builds the whole window for an open device (not yet visible). A window without a host (a test's)
    // is deleted by its owner.
    explicit ConsoleWindow(device::vhw& device, ConsoleWindowHost* host = nullptr);
    // Stops the hardware thread, closes the device, then frees the content, layout, state and
    // properties.
    ~ConsoleWindow() override;

    // The application's circular window list.
    ConsoleWindow* next = nullptr;
    ConsoleWindow* prev = nullptr;

    // A number no other window of the process has had; messages name windows by it.
    int getSerial() const { return serial_; }
    device::vhw& getDevice() const { return *device_; }
    CwContent& getContent() const { return *content_; }
    ConsoleState& getState() const { return *state_; }

    // "x", "y" (default: where the window is), then the constrainer keeps it on screen. Where the window
    // manager tells no frame size, the place asked for is moved up and left by the frame seen last time
    // ("frame left", "frame top"): such a one puts the frame where the window was asked to go.
    void restoreWindowPosition();
    // Whether the properties hold a position ("x" and "y").
    bool hasSavedPosition() const;
    // The application's placement (the cascade): like restoring, it watches where the window lands.
    void placeAt(juce::Point<int> topLeft);
    // Commits every open name editor; then, once: "x", "y" (the window's own top-left, as restored), the
    // frame a window manager that tells none put around it ("frame left", "frame top"), the state block's
    // keys and "tab" are written and the file is saved and forgotten. Later calls only commit.
    void saveProperties();
    bool hasProperties() const { return properties_ != nullptr; }

    // When enabled: save the properties, hide, and let the hardware thread finish (it writes flash
    // when the state changed, then the window asks to be deleted).
    void closeButtonPressed() override;
    void userTriedToCloseWindow() override { closeButtonPressed(); }
    void activeWindowStatusChanged() override;
    void moved() override;
    void broughtToFront() override;

    // Whether the application should quit when this window's delete message removes the last window.
    // A window closed by "Hide all windows" keeps the program running.
    void setKeepProgramRunning(bool keep) { keepProgramRunning_ = keep; }
    bool keepsProgramRunning() const { return keepProgramRunning_; }

    // The window is on its way out: its hardware thread was told to finish (it may still be writing the
    // state block to flash). Such a window is not open any more.
    bool isClosing() const;
    // Whether the application opens a new window for the interface once this closing window has gone
    // (the interface was asked for again meanwhile).
    void setReopenWhenClosed(bool reopen) { reopenWhenClosed_ = reopen; }
    bool reopensWhenClosed() const { return reopenWhenClosed_; }

    // HwThreadHost: the progress window is centred on this window.
    std::unique_ptr<FlashProgress> createFlashProgress() override;
    void hardwareThreadFinished() override;

private:
    ConsoleWindowHost* const host_;
    const int serial_;
    device::vhw::Ptr device_;
    std::unique_ptr<ConsoleLayout> layout_;
    std::unique_ptr<juce::PropertiesFile> properties_;
    std::unique_ptr<ConsoleState> state_;
    std::unique_ptr<CwContent> content_;
    juce::ComponentBoundsConstrainer constrainer_;
    RepaintUnderWhenGone repaintUnder_{*this};
    device::WindowPlacement placement_{*this};
    bool keepProgramRunning_ = false;
    bool reopenWhenClosed_ = false;
    bool wasActive_ = false;
};

} // namespace console
