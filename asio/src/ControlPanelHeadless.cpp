// The control panel where the driver is built without its dialog: no display is ever used.

#include "asio/ControlPanel.h"

namespace asiodrv
{

bool controlPanelDisplayAvailable()
{
    return false;
}

int runControlPanelDialog(ControlPanelModel&)
{
    return 0;
}

} // namespace asiodrv
