#include "console/ui/window/ConsoleWindow.h"

#include "console/core/SettingsFileCheck.h"
#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/Meters.h"
#include "console/ui/window/FlashProgressWindow.h"
#include "device/Text.h"
#include "platform/Debug.h"

namespace console
{
namespace
{

constexpr int kSaveDelayMs = 1000;
// The root element of the framework's XML properties files.
constexpr const char* kPropertiesRootTag = "PROPERTIES";

std::atomic<int> nextSerial{1};

struct CommandRow
{
    int id;
    const char* name;
    const char* description;
    int key; // 0 = no default key
};

constexpr CommandRow kCommands[] = {{kSaveCommand, "Save", "Save session to disk", 's'},
                                    {kSaveAsCommand, "Save as", "Save session to disk with file dialog", 0},
                                    {kLoadCommand, "Load", "Load session from disk", 'o'}};

} // namespace

// --- CwcCtrl ---

CwcCtrl::CwcCtrl(HwCtrlList& list, CwContent& content) : HwCtrl(list), content_(content) {}

void CwcCtrl::readFromDevice()
{
    device::vhw& device = content_.getDevice();
    if (device.readPolled() != 0)
    {
        valid_.store(false);
        return;
    }
    if (device.readDriverInfo() != 0)
    {
        platform::outputDebugString("failed to get driver info");
        valid_.store(false);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(snapshotLock_);
        snapshot_.polled = device.getPolledBlock();
        snapshot_.driverInfo = device.getDriverInfo();
    }
    valid_.store(true);
    handleGetResult(0, &content_);
}

PolledSnapshot CwcCtrl::getSnapshot() const
{
    std::lock_guard<std::mutex> lock(snapshotLock_);
    return snapshot_;
}

void CwcCtrl::writeToDevice()
{
    handleSetResult(content_.getDevice().identify());
}

// --- CwContent ---

CwContent::CwContent(ConsoleLayout& layout, device::vhw& device, ConsoleState& state)
    : juce::Component(device::textFromBytes(device.getUniqueName())), layout_(layout), device_(device),
      state_(state)
{
    setOpaque(true);
    // The window's commands always reach this content, wherever the keyboard focus is and whichever
    // window is active.
    commandManager_.setFirstCommandTarget(this);
}

CwContent::~CwContent()
{
    // The thread may still be running (a window deleted without its close path): it must be gone before
    // the controls and components it reaches.
    if (thread_ != nullptr)
    {
        thread_->clearWindow();
        thread_->signalThreadShouldExit();
        thread_->notify();
        thread_->waitForStop(-1);
    }
    settings_.reset();
    logoBox_.reset();
    sessionBox_.reset();
    tabbedBox_.reset();
    tabBar_.reset();
    unitRead_.reset();
    pollCtrl_.reset();
    controls_.reset();
    thread_.reset();
}

void CwContent::createChildren(HwThreadHost& window, juce::PropertySet& properties)
{
    thread_ = std::make_unique<hwthread>(&window, state_, device_);
    controls_ = std::make_unique<HwCtrlList>(*thread_);
    pollCtrl_ = std::make_unique<CwcCtrl>(*controls_, *this);
    unitRead_ = std::make_unique<UnitRead>(*controls_, static_cast<UnitRead::Listener&>(*this));

    tabBar_ = std::make_unique<VarnelTopTabBar>(*this, getWidth());
    addAndMakeVisible(*tabBar_);
    tabbedBox_ = std::make_unique<TabbedUiBox>(*this, *this);
    sessionBox_ = std::make_unique<SessionBox>(*this, *tabbedBox_);
    logoBox_ = std::make_unique<LogoBox>(*this, *tabbedBox_);
    settings_ = std::make_unique<Settings>(*this, *this);

    for (HwCtrl* control = controls_->getFirst(); control != nullptr; control = control->getNextInList())
        control->loadFromState(state_, false);
    // No whole session was read (none is stored, or the read was cut short): the window takes what the
    // interface runs, and sends nothing. Its controls' own loads went first: a value they store back
    // ends the wait for the interface's.
    if (!state_.mayWriteFlash())
        unitRead_->start();

    tabBar_->setCurrentTab(properties.getIntValue("tab", 0));
    // The first tab is the bar's selection from the start, so choosing it does not reach the page. The
    // page is pointed at its pair here as any other selection points it, so that what is read from the
    // unit when shown (the playback levels and mutes, which the system's volume controls also move) is
    // read now rather than the stored session's values standing for it.
    if (tabBar_->getCurrentTab() == 0)
        showPage(0);
    thread_->startThread();
}

void CwContent::poll()
{
    if (tabbedBox_ != nullptr)
        tabbedBox_->getRudeSolo()->blink();
    if (thread_ != nullptr)
        thread_->queueGet(*pollCtrl_);
}

void CwContent::identifyDevice()
{
    if (thread_ != nullptr)
        thread_->queueSet(*pollCtrl_);
}

void CwContent::stopHwThread()
{
    if (thread_ != nullptr)
        thread_->stop();
}

void CwContent::saveTab(juce::PropertySet& properties) const
{
    if (tabBar_ != nullptr)
        properties.setValue("tab", tabBar_->getCurrentTab());
}

void CwContent::handleCommandMessage(int)
{
    if (pollCtrl_ == nullptr || !pollCtrl_->isValid())
        return;
    ++refreshCount_;
    const PolledSnapshot snapshot = pollCtrl_->getSnapshot();
    tabbedBox_->pollCompleted(snapshot);
    tabBar_->refresh(snapshot);
    settings_->update(snapshot);
}

void CwContent::showPage(int index)
{
    if (tabbedBox_ == nullptr || settings_ == nullptr)
        return;
    if (index < 0)
    {
        if (settings_->isVisible())
            return;
        tabbedBox_->setVisible(false);
        settings_->setVisible(true);
        return;
    }
    if (!tabbedBox_->isVisible())
    {
        tabbedBox_->setVisible(true);
        settings_->setVisible(false);
    }
    tabbedBox_->showTab(index);
}

void CwContent::unitValuesArrived()
{
    for (HwCtrl* control = controls_->getFirst(); control != nullptr; control = control->getNextInList())
        control->loadFromState(state_, false);
}

void CwContent::solosChanged()
{
    // The page exists before any control is loaded or the hardware thread runs, and outlives both.
    if (tabbedBox_ != nullptr)
        if (RudeSolo* indicator = tabbedBox_->getRudeSolo())
            indicator->update();
}

void CwContent::getAllCommands(juce::Array<juce::CommandID>& commands)
{
    for (const CommandRow& row : kCommands)
        commands.add(row.id);
}

void CwContent::getCommandInfo(juce::CommandID commandID, juce::ApplicationCommandInfo& result)
{
    for (const CommandRow& row : kCommands)
    {
        if (row.id != commandID)
            continue;
        result.setInfo(row.name, row.description, "Session", 0);
        if (row.key != 0)
            result.addDefaultKeypress(row.key, juce::ModifierKeys::ctrlModifier);
    }
}

bool CwContent::perform(const InvocationInfo& info)
{
    void (*action)(CwContent&) = nullptr;
    switch (info.commandID)
    {
    case kSaveCommand:
        action = [](CwContent& content) { saveSession(content, false); };
        break;
    case kSaveAsCommand:
        action = [](CwContent& content) { saveSession(content, true); };
        break;
    case kLoadCommand:
        action = [](CwContent& content) { loadSession(content); };
        break;
    default:
        return false;
    }
    // A second press or click that arrives before the first command has run (or while its chooser is
    // open) would open a second chooser, or a second one inside the first's modal loop: it is dropped.
    if (sessionCommandPending_)
        return true;
    sessionCommandPending_ = true;
    // Save shows its button pressed, as a click would; only for a command that runs.
    if (info.commandID == kSaveCommand && sessionBox_ != nullptr)
        sessionBox_->getSaveButton().showPressed();
    // The session commands show choosers and alerts, whose modal loops may close this window (its
    // interface removed): they run from the message loop, so that no dispatch of the command (key
    // mappings, command manager, this call) is left on the stack of a window that is gone.
    juce::Component::SafePointer<CwContent> self(this);
    juce::MessageManager::callAsync(
        [self, action]
        {
            if (self == nullptr)
                return;
            action(*self);
            if (self == nullptr)
                return;
            self->sessionCommandPending_ = false;
            self->repaint();
        });
    return true;
}

// --- ConsoleWindow ---

void setRepaintRateOfDisplaysWithoutOne()
{
    // The desktop owns its display list and lends it out read-only; a display's rate is only read when a
    // window is placed, and the list is rebuilt (rate unset again) when the screens change.
    auto& displays = const_cast<juce::Displays&>(juce::Desktop::getInstance().getDisplays());
    for (juce::Displays::Display& display : displays.displays)
        if (display.verticalFrequencyHz.value_or(0.0) < 1.0)
            display.verticalFrequencyHz = double(kFallbackRepaintHz);
}

juce::PropertiesFile::Options consolePropertiesOptions(const juce::String& uniqueName)
{
    juce::PropertiesFile::Options options;
    options.applicationName = singleFileName(uniqueName);
    options.filenameSuffix = "properties";
    options.folderName = juce::File::createLegalFileName("Varnel Strellis Console");
    options.osxLibrarySubFolder = "Application Support";
    options.commonToAllUsers = false;
    options.millisecondsBeforeSaving = kSaveDelayMs;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    return options;
}

namespace
{

// The user's application-data folder (on Linux ~/.config), as the program's settings live there on
// every system.
juce::File propertiesFileFor(const juce::PropertiesFile::Options& options)
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile(options.folderName)
        .getChildFile(options.applicationName + "." + options.filenameSuffix);
}

} // namespace

ConsoleWindow::ConsoleWindow(device::vhw& device, ConsoleWindowHost* host)
    : juce::DocumentWindow("Console", juce::Colours::white,
                           juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, true),
      host_(host), serial_(nextSerial.fetch_add(1)), device_(&device)
{
    const juce::String unique = device::textFromBytes(device.getUniqueName());
    setName(unique + " Console");
    platform::debugPrintf("Creating window for %s", getName().toRawUTF8());

    layout_ = std::make_unique<ConsoleLayout>(device);
    const juce::PropertiesFile::Options options = consolePropertiesOptions(unique);
    properties_ = std::make_unique<juce::PropertiesFile>(
        checkSettingsFile(propertiesFileFor(options), kPropertiesRootTag), options);
    keepSettingsValuesAsText(*properties_);
    setOpaque(true);
    setUsingNativeTitleBar(true);

    state_ = std::make_unique<ConsoleState>(device);
    state_->readFromDevice();
    state_->loadProperties(*properties_);

    content_ = std::make_unique<CwContent>(*layout_, device, *state_);
    const juce::Point<int> size = layout_->getContentSize();
    content_->setSize(size.x, size.y);
    setContentNonOwned(content_.get(), true);
    content_->createChildren(*this, *properties_);

    juce::ApplicationCommandManager& commands = content_->getCommandManager();
    commands.registerAllCommandsForTarget(content_.get());
    commands.getKeyMappings()->resetToDefaultMappings();
    addKeyListener(commands.getKeyMappings());
}

ConsoleWindow::~ConsoleWindow()
{
    removeKeyListener(content_->getCommandManager().getKeyMappings());
    clearContentComponent();
    // The content's destructor waits for the hardware thread before it frees the controls and pages;
    // the device closes only after the thread that used it has ended.
    content_.reset();
    device_->close();
    layout_.reset();
    state_.reset();
    properties_.reset();
}

// The placement watches where each placement lands and keeps the window where it was asked to go under a
// window manager that tells no frame (device/WindowPlacement.h).
void ConsoleWindow::moved()
{
    juce::DocumentWindow::moved();
    placement_.windowMoved();
}

void ConsoleWindow::broughtToFront()
{
    juce::DocumentWindow::broughtToFront();
    placement_.windowBroughtToFront();
}

bool ConsoleWindow::hasSavedPosition() const
{
    return properties_ != nullptr && properties_->containsKey("x") && properties_->containsKey("y");
}

void ConsoleWindow::placeAt(juce::Point<int> topLeft)
{
    placement_.place([&] { setTopLeftPosition(topLeft); });
}

void ConsoleWindow::restoreWindowPosition()
{
    if (properties_ == nullptr)
        return;
    const juce::Point<int> target = placement_.positionToAsk(
        {properties_->getIntValue("x", getX()), properties_->getIntValue("y", getY())},
        {properties_->getIntValue("frame left", 0), properties_->getIntValue("frame top", 0)});
    constrainer_.setMinimumOnscreenAmounts(0x10000, 100, 100, 100);
    setConstrainer(&constrainer_);
    placement_.place([&] { setBoundsConstrained({target.x, target.y, getWidth(), getHeight()}); });
}

void ConsoleWindow::saveProperties()
{
    // A name still being typed is part of what is saved, here and in flash at close: left open, its
    // editor would commit only once the hidden window lost the focus, after both.
    Alias::commitOpenEditors(*content_);
    if (properties_ == nullptr)
        return;
    // The window's own position, as the framework reports and sets it, and the frame a window manager
    // that tells none put around it.
    properties_->setValue("x", getX());
    properties_->setValue("y", getY());
    const juce::Point<int> frame = placement_.frameToSave();
    properties_->setValue("frame left", frame.x);
    properties_->setValue("frame top", frame.y);
    state_->saveProperties(*properties_);
    content_->saveTab(*properties_);
    properties_->saveIfNeeded();
    properties_.reset();
}

void ConsoleWindow::closeButtonPressed()
{
    if (!isEnabled())
        return;
    saveProperties();
    setVisible(false);
    content_->stopHwThread();
}

bool ConsoleWindow::isClosing() const
{
    const hwthread* thread = content_->getHwThread();
    return thread != nullptr && thread->threadShouldExit();
}

void ConsoleWindow::activeWindowStatusChanged()
{
    // The framework may report the same activation more than once (focus and raise): identify once
    // per change from inactive to active.
    const bool active = isActiveWindow();
    if (content_ != nullptr && active && !wasActive_)
        content_->identifyDevice();
    wasActive_ = active;
    juce::DocumentWindow::activeWindowStatusChanged();
}

std::unique_ptr<FlashProgress> ConsoleWindow::createFlashProgress()
{
    return std::make_unique<FlashProgressWindow>(this, false);
}

void ConsoleWindow::hardwareThreadFinished()
{
    if (host_ != nullptr)
        host_->windowFinished(serial_, *device_);
}

} // namespace console
