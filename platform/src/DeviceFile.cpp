#include "platform/DeviceFile.h"

#include "sim/KernelDriver.h"

namespace platform
{

Handle createFile(const std::string& path)
{
    return sim::kernel::open(path);
}

bool deviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned)
{
    uint32_t returned = 0;
    const bool ok = handle != INVALID_HANDLE_VALUE &&
                    sim::kernel::ioctl(handle, code, in, inSize, out, outSize, &returned);
    if (bytesReturned != nullptr)
        *bytesReturned = ok ? returned : 0;
    return ok;
}

bool closeHandle(Handle handle)
{
    return handle != INVALID_HANDLE_VALUE && sim::kernel::close(handle);
}

} // namespace platform
