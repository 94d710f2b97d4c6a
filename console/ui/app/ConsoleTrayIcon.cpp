#include "console/ui/app/ConsoleTrayIcon.h"

#include "ConsoleImageData.h"
#include "device/Text.h"

namespace console
{

ConsoleTrayIcon::ConsoleTrayIcon(device::DeviceList& deviceList, TrayIconHost& host)
    : deviceList_(deviceList), host_(host)
{
    const juce::Image icon =
        juce::ImageCache::getFromMemory(ConsoleImageData::tray_icon_png, ConsoleImageData::tray_icon_pngSize);
    setIconImage(icon, icon);
    setIconTooltip("Varnel Strellis Console");
}

ConsoleTrayIcon::~ConsoleTrayIcon() = default;

void ConsoleTrayIcon::mouseDown(const juce::MouseEvent& event)
{
    if (event.mods.isLeftButtonDown())
    {
        host_.showAllWindows();
        return;
    }
    if (!event.mods.isRightButtonDown())
        return;
    Menu menu = buildMenu();
    juce::PopupMenu items = menu.items;
    // The menu keeps its devices until the choice is acted on; the icon may be gone by then (the
    // program ended with the menu open).
    items.showMenuAsync(juce::PopupMenu::Options().withMousePosition(),
                        [icon = juce::Component::SafePointer<ConsoleTrayIcon>(this), menu](int id)
                        {
                            if (icon != nullptr)
                                icon->menuItemChosen(id, menu);
                        });
}

ConsoleTrayIcon::Menu ConsoleTrayIcon::buildMenu() const
{
    Menu menu;
    menu.devices = deviceList_.getSnapshot();
    for (size_t i = 0; i < menu.devices.size(); ++i)
        menu.items.addItem(int(i) + 1, device::textFromBytes(menu.devices[i]->getUniqueName()));
    if (!menu.devices.empty())
    {
        menu.items.addSeparator();
        menu.items.addItem(kShowAll, "Show all windows");
        menu.items.addItem(kHideAll, "Hide all windows");
        menu.items.addItem(kCascade, "Cascade all windows");
    }
    menu.items.addItem(kExit, "Exit");
    return menu;
}

void ConsoleTrayIcon::menuItemChosen(int id, const Menu& menu)
{
    if (id == 0)
        return;
    switch (id)
    {
    case kExit:
        host_.requestQuit();
        return;
    case kCascade:
        host_.requestCascade();
        return;
    case kHideAll:
        host_.hideAllWindows();
        return;
    case kShowAll:
        for (const device::vhw::Ptr& device : menu.devices)
            if (deviceList_.contains(device.get()))
                host_.requestWindow(*device);
        return;
    default:
        break;
    }
    // A device item: only a device still listed (one unplugged while the menu was open is not).
    if (id >= 1 && size_t(id) <= menu.devices.size() &&
        deviceList_.contains(menu.devices[size_t(id) - 1].get()))
        host_.requestWindow(*menu.devices[size_t(id) - 1]);
}

} // namespace console
