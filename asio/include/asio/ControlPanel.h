#pragma once

// The control panel: a modal dialog with a slider for the kernel driver's buffer size and two switches
// for the streaming thread's scheduling. ControlPanelModel is the dialog's state and behaviour without
// any window, so the same rules serve the real dialog, a scripted run and the tests.

#include <cstdint>
#include <string>

namespace asiodrv
{

struct ControlPanelData
{
    uint32_t maximum = 0; // buffer sizes in samples
    uint32_t minimum = 0;
    uint32_t step = 0;
    uint32_t current = 0;
    uint32_t useMmcss = 0;
    uint32_t lowerDwm = 0;
};

class ControlPanelModel
{
public:
    // The dialog opens on the data's current size; the check boxes follow the switches. Before Vista
    // (switchesAvailable false) the two check boxes are cleared and disabled, so OK stores both as 0.
    explicit ControlPanelModel(const ControlPanelData& data, bool switchesAvailable = true);

    // The slider counts steps: position p stands for p x step samples (a step of 0 counts as 1).
    int rangeLow() const { return low_; }
    int rangeHigh() const { return high_; }
    int tickFrequency() const { return ticks_; }
    int position() const { return position_; }
    uint32_t step() const { return step_; }

    // The size shown beside the slider: "256", "1,024".
    std::string sizeText() const { return formatSize(static_cast<uint32_t>(position_) * step_); }
    static std::string formatSize(uint32_t samples);

    bool mmcssChecked() const { return mmcss_; }
    bool dwmChecked() const { return dwm_; }
    bool switchesEnabled() const { return switchesEnabled_; }

    // The user moves the slider (clamped to the range) or clicks a check box (a disabled one stays).
    void moveTo(int position);
    void setMmcss(bool checked) { mmcss_ = checked && switchesEnabled_; }
    void setDwm(bool checked) { dwm_ = checked && switchesEnabled_; }

    // OK: the data takes the chosen size and switches.
    void accept(ControlPanelData& data) const;

private:
    uint32_t step_;
    int low_;
    int high_;
    int ticks_;
    int position_;
    bool switchesEnabled_;
    bool mmcss_;
    bool dwm_;
};

// The dialog's captions and texts.
namespace panel
{
inline constexpr const char* kCaption = "Varnel ASIO configuration";
inline constexpr const char* kGroup = "ASIO buffer size";
inline constexpr const char* kSamples = "samples";
inline constexpr const char* kCredit = "FireWire technology developed by Varnel";
inline constexpr const char* kMmcss = "Use Vista multimedia priority boost";
inline constexpr const char* kDwm = "Lower Vista window manager priority";
inline constexpr const char* kOk = "OK";
inline constexpr const char* kCancel = "Cancel";
} // namespace panel

// How a dialog is shown: runs it on the calling thread until the user closes it; 1 for OK, 0 for Cancel.
using ControlPanelRunner = int (*)(ControlPanelModel& model);

// Shows the panel for the data; 1 (OK, data updated), 0 (Cancel) or 2 at once when a panel is open.
// Without an installed runner: the scripted answer of STRELLIS_CONTROL_PANEL when set, else the dialog
// when a display exists, else Cancel.
int runControlPanel(ControlPanelData& data);

// Installs a runner in place of the above (null restores it); for tests. Returns the previous one.
ControlPanelRunner setControlPanelRunner(ControlPanelRunner runner);

// A script of user actions ("pos=<n>", "size=<samples>", "mmcss=0|1", "dwm=0|1", then "ok" or "cancel",
// separated by blanks) played on the model; the answer, or -1 for a script it cannot read.
int playControlPanelScript(ControlPanelModel& model, const std::string& script);

// The real dialog; 0 when no display can be opened. Defined by the dialog's own source.
int runControlPanelDialog(ControlPanelModel& model);
bool controlPanelDisplayAvailable();

} // namespace asiodrv
