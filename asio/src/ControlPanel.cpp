#include "asio/ControlPanel.h"

#include "platform/Debug.h"
#include "platform/SystemInfo.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace asiodrv
{
namespace
{

// One panel per process; taken with an exchange so two host threads cannot both open one.
std::atomic<bool> panelOpen{false};
std::atomic<ControlPanelRunner> installedRunner{nullptr};

int clampInt(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

} // namespace

ControlPanelModel::ControlPanelModel(const ControlPanelData& data, bool switchesAvailable)
    : step_(data.step == 0 ? 1 : data.step), switchesEnabled_(switchesAvailable),
      mmcss_(switchesAvailable && data.useMmcss != 0), dwm_(switchesAvailable && data.lowerDwm != 0)
{
    // The slider's range is 16 bits each way.
    low_ = static_cast<int>((data.minimum / step_) & 0xFFFF);
    high_ = static_cast<int>((data.maximum / step_) & 0xFFFF);
    if (high_ < low_)
        high_ = low_;
    ticks_ =
        static_cast<int>(data.maximum >= data.minimum ? (data.maximum - data.minimum) / (step_ * 16) : 0);
    position_ = clampInt(static_cast<int>(data.current / step_), low_, high_);
}

std::string ControlPanelModel::formatSize(uint32_t samples)
{
    char text[32];
    if (samples < 1000)
        std::snprintf(text, sizeof text, "%u", samples);
    else
        std::snprintf(text, sizeof text, "%u,%03u", samples / 1000, samples % 1000);
    return text;
}

void ControlPanelModel::moveTo(int position)
{
    position_ = clampInt(position, low_, high_);
}

void ControlPanelModel::accept(ControlPanelData& data) const
{
    data.useMmcss = mmcss_ ? 1 : 0;
    data.lowerDwm = dwm_ ? 1 : 0;
    data.current = static_cast<uint32_t>(position_) * step_;
}

int playControlPanelScript(ControlPanelModel& model, const std::string& script)
{
    std::istringstream words(script);
    for (std::string word; words >> word;)
    {
        const size_t eq = word.find('=');
        const std::string key = word.substr(0, eq);
        const long value = eq == std::string::npos ? 0 : std::strtol(word.c_str() + eq + 1, nullptr, 0);
        if (word == "ok")
            return 1;
        if (word == "cancel")
            return 0;
        if (key == "pos" && eq != std::string::npos)
            model.moveTo(static_cast<int>(value));
        else if (key == "size" && eq != std::string::npos)
            model.moveTo(static_cast<int>(value / static_cast<long>(model.step())));
        else if (key == "mmcss" && eq != std::string::npos)
            model.setMmcss(value != 0);
        else if (key == "dwm" && eq != std::string::npos)
            model.setDwm(value != 0);
        else
            return -1;
    }
    return 0; // closed without a choice: as Cancel
}

ControlPanelRunner setControlPanelRunner(ControlPanelRunner runner)
{
    return installedRunner.exchange(runner);
}

int runControlPanel(ControlPanelData& data)
{
    if (panelOpen.exchange(true))
        return 2;
    ControlPanelModel model(data, platform::isWindowsVistaOrLater());
    int result = 0;
    if (const ControlPanelRunner runner = installedRunner.load(); runner != nullptr)
        result = runner(model);
    else if (const char* script = std::getenv("STRELLIS_CONTROL_PANEL"); script != nullptr)
    {
        result = playControlPanelScript(model, script);
        if (result < 0)
        {
            platform::debugPrintf("ASIO Strellis: unreadable control panel script \"%s\"", script);
            result = 0;
        }
    }
    else if (controlPanelDisplayAvailable())
        result = runControlPanelDialog(model);
    else
        platform::outputDebugString("ASIO Strellis: no display for the control panel");
    if (result == 1)
        model.accept(data);
    panelOpen.store(false);
    return result == 1 ? 1 : 0;
}

} // namespace asiodrv
