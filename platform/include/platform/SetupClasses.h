#pragma once

// Device-information sets of a setup class (SetupDiGetClassDevsA without DIGCF_DEVICEINTERFACE,
// SetupDiEnumDeviceInfo, SetupDiGetDeviceInstanceIdA, SetupDiDestroyDeviceInfoList): the present
// devices of a class, named by their device instance ids. The one class the machine reports members of
// is the 1394 host controllers' (kSetupClass1394); every other class has none.

#include "platform/DeviceInterfaces.h"

#include <cstdint>

namespace platform
{

// The setup class of IEEE 1394 host bus controllers.
inline constexpr Guid kSetupClass1394{
    0x6BDD1FC1, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

enum : uint32_t
{
    DIGCF_PRESENT = 0x2,
    DIGCF_DEVICEINTERFACE = 0x10
};

// More result codes (GetLastError values of the set calls).
enum : int32_t
{
    ERROR_INSUFFICIENT_BUFFER = 122
};

struct DeviceInfoList;
using HDEVINFO = DeviceInfoList*; // null = INVALID_HANDLE_VALUE, the query failed

// One member of a set, as SetupDiEnumDeviceInfo fills it.
struct SP_DEVINFO_DATA
{
    uint32_t cbSize; // set by the caller
    Guid classGuid;
    uint32_t devInst; // the member's index in its set
};

// The present members of the class, taken when called; null when the query fails.
HDEVINFO setupDiGetClassDevs(const Guid& setupClass, uint32_t flags);

// The index-th member; false past the last (ERROR_NO_MORE_ITEMS) or for a null set.
bool setupDiEnumDeviceInfo(HDEVINFO set, uint32_t index, SP_DEVINFO_DATA* data);

// The member's instance id with its terminator into buffer. ERROR_SUCCESS; ERROR_INSUFFICIENT_BUFFER
// with *requiredSize (may be null) = the bytes needed, the buffer unchanged; ERROR_INVALID_PARAMETER for
// a member or set that is not one.
int32_t setupDiGetDeviceInstanceId(HDEVINFO set, const SP_DEVINFO_DATA& data, char* buffer,
                                   uint32_t bufferSize, uint32_t* requiredSize);

bool setupDiDestroyDeviceInfoList(HDEVINFO set);

} // namespace platform
