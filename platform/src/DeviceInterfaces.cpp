#include "platform/DeviceInterfaces.h"

#include "sim/KernelDriver.h"

#include <cstdio>

namespace platform
{

std::string Guid::toString() const
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2,
                  data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return text;
}

DeviceInterfaceSet::DeviceInterfaceSet(const Guid& interfaceClass)
    : valid_(true), paths_(sim::kernel::interfacePaths(interfaceClass.toString()))
{
}

bool DeviceRegKey::open(const std::string& interfacePath)
{
    open_ = sim::kernel::interfaceKeyExists(interfacePath);
    path_ = open_ ? interfacePath : std::string();
    return open_;
}

int32_t DeviceRegKey::queryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const
{
    if (!open_)
        return ERROR_INVALID_HANDLE;
    return sim::kernel::queryInterfaceValue(path_, name, type, data, size);
}

} // namespace platform
