#pragma once

// What the driver object and its prepared buffers share: the result of an operation (mapped to an ASIO
// error in one place), the entry of the channel tables and active lists, and room made in a list without
// an exception leaving.

#include "asio/Asio.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace asiodrv
{

class DeviceStream;

enum class Result
{
    Ok,
    NotPresent,
    HWMalfunction,
    InvalidParameter,
    InvalidMode,
    NoClock,
    NoMemory
};

ASIOError toAsioError(Result result);

// One channel of the merged input or output table.
struct ChannelEntry
{
    DeviceStream* stream = nullptr;
    int32_t channel = 0; // within the device
    int32_t active = 0;  // its buffers were created
};

// Room for n entries, or false when memory is short: the host is told NoMemory, no exception leaves.
template <typename T> bool reserveRoom(std::vector<T>& v, size_t n)
{
    try
    {
        v.reserve(n);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

} // namespace asiodrv
