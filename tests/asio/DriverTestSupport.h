#pragma once

// The fixture of the driver object's suites: the driver loaded through the registry as a host loads it,
// over the simulator, with a few questions the suites ask of it and of the kernel driver beside it.

#include "AsioTestSupport.h"

#include <string>

namespace asiotest
{

class DriverTest : public DriverFixture
{
protected:
    std::string channelName(asiodrv::IASIO* driver, bool isInput, int32_t channel)
    {
        asiodrv::ASIOChannelInfo info{};
        info.channel = channel;
        info.isInput = isInput ? asiodrv::ASIOTrue : asiodrv::ASIOFalse;
        if (driver->getChannelInfo(&info) != asiodrv::ASE_OK)
            return "<invalid>";
        return info.name;
    }

    size_t setClockRequests() const { return trace(" VDC 3 0 ").size(); }
};

} // namespace asiotest
