#pragma once

// Who the driver is to hosts and to the registry.

#include "asio/ComTypes.h"

namespace asiodrv
{

// The driver's class id; the same 16 bytes are the interface id of its IASIO.
inline constexpr CLSID CLSID_AsioStrellis{
    0x5B2E9A64, 0x0D13, 0x4C7F, {0x8A, 0x55, 0x1E, 0x6C, 0x3F, 0x90, 0xB7, 0xD2}};

inline constexpr const char* kModuleName = "ASIOStrellis.so";
inline constexpr const char* kDriverName = "ASIO Strellis";
inline constexpr const char* kDriverDescription = "ASIO Strellis";
inline constexpr const char* kThreadingModel = "Apartment";

} // namespace asiodrv
