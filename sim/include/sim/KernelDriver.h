#pragma once

// The simulated kernel-mode driver, running inside the calling process. platform/ is its only caller in
// the system: it answers the device-interface enumeration, the interface's registry values and the
// device file's open, I/O control and close, with the wire formats of the real driver. The state of
// every unit lives on the bus (see docs/simulator.md), so every process sees the same units.

#include <cstdint>
#include <string>
#include <vector>

namespace sim::kernel
{

// Paths of the present interfaces of the class named by its GUID text ("{3D5A...}", any letter case),
// in the order the units were plugged. Another class has no interfaces (empty list).
std::vector<std::string> interfacePaths(const std::string& classGuid);

// Whether the interface with this path (compared ignoring case) has a registry key, i.e. is plugged.
bool interfaceKeyExists(const std::string& path);

// RegQueryValueEx on the interface's key: 0 success, 2 no such value (or no key), 234 more data
// (then *size = size needed, data untouched). REG_SZ sizes include the terminator.
int32_t queryInterfaceValue(const std::string& path, const char* name, uint32_t* type, void* data,
                            uint32_t* size);

// Opens a handle on the unit with this interface path; -1 when the unit is absent or an open fault is set.
intptr_t open(const std::string& path);

// One I/O control on an open handle; false when the call fails (bad handle, unit unplugged since the
// open, unknown code, buffer too small, a "fail" fault).
bool ioctl(intptr_t handle, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
           uint32_t* bytesReturned);

bool close(intptr_t handle);

// Arrivals and removals of interfaces on the bus, for the device-change broadcasts of the platform's
// message windows. removalCodes says which removal broadcasts an unplug sends: bit 0 DBT_DEVICEQUERYREMOVE,
// bit 1 DBT_DEVICEREMOVEPENDING, bit 2 DBT_DEVICEREMOVECOMPLETE.
struct InterfaceEvent
{
    uint64_t seq;
    bool arrival;
    std::string path;
    uint32_t removalCodes;
};

// The sequence number of the latest event (a registration starts after it).
uint64_t interfaceEventSequence();

// The events of the class after seq, oldest first; *next receives the sequence to ask from next time.
// Events older than the bus keeps are lost (the bus keeps the last 64).
std::vector<InterfaceEvent> interfaceEventsSince(const std::string& classGuid, uint64_t seq, uint64_t* next);

} // namespace sim::kernel
