#include "console/ui/app/AboutDlg.h"

#include "console/core/FirmwareUpdate.h"
#include "console/ui/settings/Settings.h"
#include "console/ui/window/ConsoleWindow.h"

#include "ConsoleImageData.h"

namespace console
{
namespace
{

const juce::Colour kBackground(15, 15, 15);
constexpr int kGroupRight = 15;
constexpr int kGroupTop = 30;
constexpr int kButtonHeight = 22;
constexpr int kLogoTop = 45;

// Whether an About window is open, and the application it pauses the poll of (message thread).
bool aboutOpen = false;
AboutHost* aboutHost = nullptr;

void setUpButton(juce::Component& parent, juce::ToggleButton& button, juce::Button::Listener& listener, int x,
                 int y, int width)
{
    // A click acts; it leaves no button lit.
    button.setClickingTogglesState(false);
    button.setBounds(x, y, width, kButtonHeight);
    button.addListener(&listener);
    parent.addAndMakeVisible(button);
}

} // namespace

// --- AboutDlg ---

AboutDlg::AboutDlg() : juce::DocumentWindow("Varnel", kBackground, juce::DocumentWindow::closeButton, true)
{
    setUsingNativeTitleBar(true);
    setResizable(false, false);
}

AboutDlg::~AboutDlg() = default;

void AboutDlg::closeButtonPressed()
{
    exitModalState(0);
}

// --- AboutDlgContent ---

AboutDlgContent::AboutDlgContent(CwContent& content)
    : content_(&content), device_(&content.getDevice()),
      logo_(juce::ImageCache::getFromMemory(ConsoleImageData::about_logo_png,
                                            ConsoleImageData::about_logo_pngSize)),
      versions_(content.getDevice(), *this)
{
    setSize(kWidth, kHeight);
    versions_.setTopLeftPosition(kWidth - kGroupRight - versions_.getWidth(), kGroupTop);
    logoAreaWidth_ = kWidth - versions_.getWidth() - kGroupRight;

    const int groupX = versions_.getX();
    const int groupWidth = versions_.getWidth();
    setUpButton(*this, close_, *this, (kWidth - 80) / 2, kHeight - 42, 80);
    close_.addShortcut(juce::KeyPress(juce::KeyPress::escapeKey));
    setUpButton(*this, flash_, *this, groupX + (groupWidth - 120) / 2, kHeight - 42, 120);
    setUpButton(*this, copy_, *this, groupX + (groupWidth - 120) / 2, versions_.getBottom() - 34, 120);
    content.addComponentListener(this);
}

AboutDlgContent::~AboutDlgContent()
{
    if (content_ != nullptr)
        content_->removeComponentListener(this);
    close_.removeListener(this);
    flash_.removeListener(this);
    copy_.removeListener(this);
}

void AboutDlgContent::paint(juce::Graphics& g)
{
    g.fillAll(kBackground);
    g.setOpacity(1.0f);
    g.drawImageAt(logo_, (logoAreaWidth_ - logo_.getWidth()) / 2, kLogoTop);
}

void AboutDlgContent::buttonClicked(juce::Button* button)
{
    if (button == &copy_)
        juce::SystemClipboard::copyTextToClipboard(versions_.getText());
    else if (button == &flash_)
        flashUpdate();
    else if (button == &close_)
        closeDialog();
}

void AboutDlgContent::componentBeingDeleted(juce::Component&)
{
    closeDialog();
}

void AboutDlgContent::closeDialog()
{
    if (auto* dialog = findParentComponentOfClass<AboutDlg>())
        dialog->closeButtonPressed();
}

void AboutDlgContent::flashUpdate()
{
    if (auto* dialog = findParentComponentOfClass<AboutDlg>())
        dialog->setVisible(false);
    // No poll may reach the interface while it is flashed.
    const bool pollWasRunning = aboutHost != nullptr && aboutHost->pausePolling();

    if (content_ != nullptr)
        checkFirmware(*device_, true, kAboutFlashPrompt);
    closeDialog();

    if (pollWasRunning)
        aboutHost->resumePolling();
}

// --- opening ---

void runAboutDialog(CwContent& content)
{
    if (aboutOpen)
        return;
    aboutOpen = true;
    {
        AboutDlgContent about(content);
        AboutDlg dialog;
        dialog.setContentNonOwned(&about, true);
        dialog.centreAroundComponent(nullptr, dialog.getWidth(), dialog.getHeight());
        dialog.setVisible(true);
        dialog.runModalLoop();
        // The dialog goes before its content (declared after it).
    }
    aboutOpen = false;
}

void installAboutDialog(AboutHost* host)
{
    aboutHost = host;
    Settings::setAboutOpener(
        [](Settings& page)
        {
            // The page lies in its window's content.
            juce::Component::SafePointer<CwContent> content(page.findParentComponentOfClass<CwContent>());
            juce::MessageManager::callAsync(
                [content]
                {
                    if (content != nullptr)
                        runAboutDialog(*content);
                });
        });
}

} // namespace console
