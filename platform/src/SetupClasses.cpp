#include "platform/SetupClasses.h"

#include "platform/Registry.h" // ERROR_INVALID_PARAMETER

#include "simos/HostControllers.h"

#include <cstring>
#include <string>
#include <vector>

namespace platform
{

struct DeviceInfoList
{
    Guid setupClass;
    std::vector<std::string> instanceIds;
};

HDEVINFO setupDiGetClassDevs(const Guid& setupClass, uint32_t flags)
{
    (void)flags; // every member the machine reports is present
    auto* set = new DeviceInfoList{setupClass, {}};
    if (setupClass == kSetupClass1394)
    {
        sim::os::HostControllerList controllers = sim::os::hostControllers();
        if (controllers.queryFails)
        {
            delete set;
            return nullptr;
        }
        set->instanceIds = std::move(controllers.instanceIds);
    }
    return set;
}

bool setupDiEnumDeviceInfo(HDEVINFO set, uint32_t index, SP_DEVINFO_DATA* data)
{
    if (set == nullptr || data == nullptr || index >= set->instanceIds.size())
        return false;
    data->classGuid = set->setupClass;
    data->devInst = index;
    return true;
}

int32_t setupDiGetDeviceInstanceId(HDEVINFO set, const SP_DEVINFO_DATA& data, char* buffer,
                                   uint32_t bufferSize, uint32_t* requiredSize)
{
    if (set == nullptr || data.devInst >= set->instanceIds.size())
        return ERROR_INVALID_PARAMETER;
    const std::string& id = set->instanceIds[data.devInst];
    const uint32_t needed = static_cast<uint32_t>(id.size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (buffer == nullptr || bufferSize < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer, id.c_str(), needed);
    return ERROR_SUCCESS;
}

bool setupDiDestroyDeviceInfoList(HDEVINFO set)
{
    if (set == nullptr)
        return false;
    delete set;
    return true;
}

} // namespace platform
