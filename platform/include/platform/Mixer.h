#pragma once

// The multimedia mixer devices before Vista: their number, their capabilities (name) and open with a
// window callback. A mixer opened with CALLBACK_WINDOW posts MM_MIXM_CONTROL_CHANGE (wParam the mixer
// handle, lParam the control id) to the window whenever a volume or mute of its channels is changed
// through the system's volume controls, by any process.

#include "platform/MessageWindow.h"

#include <cstdint>

namespace platform
{

using HMIXER = uintptr_t;
using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

constexpr uint32_t CALLBACK_WINDOW = 0x00010000;

// The control ids that MM_MIXM_CONTROL_CHANGE names.
constexpr uint32_t kMixerVolumeControl = 1;
constexpr uint32_t kMixerMuteControl = 2;

constexpr uint32_t MAXPNAMELEN = 32;

struct MIXERCAPSA
{
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vDriverVersion;
    char szPname[MAXPNAMELEN];
    uint32_t fdwSupport;
    uint32_t cDestinations;
};

uint32_t mixerGetNumDevs();
MMRESULT mixerGetDevCapsA(uintptr_t id, MIXERCAPSA* caps, uint32_t capsSize);
// flags: 0, or CALLBACK_WINDOW with the window in callback.
MMRESULT mixerOpen(HMIXER* mixer, uint32_t id, uintptr_t callback, uintptr_t instance, uint32_t flags);
// Once this returns, no message for the mixer is posted any more.
MMRESULT mixerClose(HMIXER mixer);

} // namespace platform
