#pragma once

// What the widgets, strips, indicators and settings groups of a console window need of it: its layout,
// state block and device with the device's capability record, the list of its device-bound controls and
// their hardware thread, the ring its fader value boxes form, and the solo indicator's count. The
// window content implements it; the controls know nothing else of the window, so none of them needs
// the window's headers.
//
// Message thread, except where a function says otherwise.

#include "device/HwInfoCaps.h"

namespace device
{
class vhw;
}

namespace console
{

class ConsoleLayout;
class ConsoleState;
class FaderRing;
class HwCtrlList;
class HwCtrlQueue;

class ConsoleContext
{
public:
    virtual ConsoleLayout& getLayout() const = 0;
    // Any thread.
    virtual ConsoleState& getState() const = 0;
    // Any thread.
    virtual device::vhw& getDevice() const = 0;
    // Any thread.
    virtual const device::HwInfoCaps& getHwInfo() const = 0;
    // The window's device-bound controls and their hardware thread: both exist before the first
    // control is made and outlive the last.
    virtual HwCtrlList* getControls() const = 0;
    virtual HwCtrlQueue* getHwThread() const = 0;
    // The value boxes of the window's faders, along which Tab moves the keyboard focus.
    virtual FaderRing& getFaderRing() = 0;
    // Any thread (the solo controls call it after a load, a send or a read): a solo may have changed,
    // so the solo indicator counts the engaged solos again.
    virtual void solosChanged() = 0;

protected:
    ~ConsoleContext() = default;
};

} // namespace console
