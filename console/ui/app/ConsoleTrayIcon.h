#pragma once

// The console's icon in the notification area, for as long as the program runs (also with no window
// open). A left click brings every console window to the front; a right click opens a menu of the
// listed interfaces and the window commands, and "Exit". The icon acts on no window itself: it asks its
// host, the application.
//
// The menu lists a snapshot of the device list and keeps counted references to the devices it lists
// until the choice has been acted on, so a device unplugged while the menu is open is still a valid
// object; choosing it then does nothing. A desktop may have no notification area at all (a bare X
// server has none): the icon then docks nowhere and stays a one-pixel window of its own, and the
// program works as before, its windows reached as usual.
//
// Message thread only.

#include "device/DeviceList.h"
#include "device/Vhw.h"

#include <juce_gui_extra/juce_gui_extra.h>

#include <vector>

namespace console
{

// What the icon asks of the application.
class TrayIconHost
{
public:
    virtual void showAllWindows() = 0;
    // Through each window's close path, so a changed state reaches the flash; the program stays.
    virtual void hideAllWindows() = 0;
    // The program's normal quit request.
    virtual void requestQuit() = 0;
    // The windows are cascaded later, from the application's message loop.
    virtual void requestCascade() = 0;
    // A window for the device, or the device's window to the front.
    virtual void requestWindow(device::vhw& device) = 0;

protected:
    ~TrayIconHost() = default;
};

class ConsoleTrayIcon : public juce::SystemTrayIconComponent
{
public:
    // Menu ids of the window commands; a device's item is its index in the menu's list plus one.
    static constexpr int kShowAll = -1;
    static constexpr int kHideAll = -2;
    static constexpr int kCascade = -3;
    static constexpr int kExit = -4;

    // The menu as it was built: its items and the devices its device items stand for, in list order.
    struct Menu
    {
        juce::PopupMenu items;
        std::vector<device::vhw::Ptr> devices;
    };

    // The device list and the host are not owned and must outlive the icon.
    ConsoleTrayIcon(device::DeviceList& deviceList, TrayIconHost& host);
    ~ConsoleTrayIcon() override;

    // Left button: every window to the front. Right button: the menu at the mouse; the choice is acted
    // on when the menu closes. Other buttons: nothing.
    void mouseDown(const juce::MouseEvent& event) override;

    // One item per listed device (its unique name), then the window commands when there is any, and
    // always "Exit" last.
    Menu buildMenu() const;
    // Acts on a chosen id (0: the menu was dismissed, nothing).
    void menuItemChosen(int id, const Menu& menu);

private:
    device::DeviceList& deviceList_;
    TrayIconHost& host_;

    JUCE_DECLARE_NON_COPYABLE(ConsoleTrayIcon)
};

} // namespace console
