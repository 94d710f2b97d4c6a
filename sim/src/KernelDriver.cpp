#include "sim/KernelDriver.h"

#include "Device.h"
#include "Driver.h"
#include "Shared.h"
#include "Streaming.h"
#include "Trace.h"
#include "Wire.h"
#include "simos/Clock.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <unistd.h>

namespace sim
{

using namespace wire;

Fault takeFault(UnitState& unit, uint32_t target, int32_t category, int32_t command)
{
    for (Fault& f : unit.faults)
    {
        // A hold is not taken by a request: it holds every matching one until it is cleared.
        if (f.kind == FAULT_NONE || f.kind == FAULT_HOLD || f.target != target ||
            (f.category >= 0 && f.category != category) || (f.command >= 0 && f.command != command))
            continue;
        if (f.after > 0)
        {
            --f.after;
            continue;
        }
        const Fault acting = f;
        if (f.remaining > 0 && --f.remaining == 0)
            f = Fault{};
        return acting;
    }
    return Fault{};
}

void plugUnit(Bus& bus, int slot)
{
    BusHeader& h = bus.header();
    UnitSlot& s = h.units[slot];
    if (s.plugged)
        return;
    s.plugged = 1;
    s.plugSeq = ++h.counter;
    s.generation = ++h.counter;
    bus.pushEvent(true, 0, s.name);
}

void unplugUnit(Bus& bus, int slot, uint32_t removalCodes)
{
    BusHeader& h = bus.header();
    UnitSlot& s = h.units[slot];
    if (!s.plugged)
        return;
    s.plugged = 0;
    s.generation = ++h.counter;
    bus.pushEvent(false, removalCodes, s.name);
}

namespace
{

struct Handle
{
    std::shared_ptr<Bus> bus;
    std::shared_ptr<UnitFiles> files;
    int slot = -1;
    uint64_t creationId = 0;
    uint64_t generation = 0;
    char unit[kNameBytes] = {};
};

struct HandleTable
{
    std::mutex mutex;
    std::map<intptr_t, std::shared_ptr<Handle>> handles;
    intptr_t next = 0x100;
};

HandleTable& handleTable()
{
    static HandleTable table;
    return table;
}

std::shared_ptr<Handle> findHandle(intptr_t id)
{
    HandleTable& t = handleTable();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.handles.find(id);
    return it == t.handles.end() ? nullptr : it->second;
}

// The handle's unit, when it is still the same unit, plugged since the handle was opened.
UnitState* liveUnit(Handle& h)
{
    const UnitSlot& s = h.bus->header().units[h.slot];
    if (!s.inUse || !s.plugged || s.creationId != h.creationId || s.generation != h.generation)
        return nullptr;
    return &h.files->state();
}

bool classMatches(const std::string& classGuid)
{
    const std::string full = kInterfaceClass;
    return equalsIgnoringCase(classGuid, full) ||
           equalsIgnoringCase(classGuid, full.substr(1, full.size() - 2));
}

// The faults that let a flash request succeed but damage what it leaves behind, like a worn cell.
void damageFlash(const Fault& fault, uint8_t* flash, const uint32_t* request)
{
    const uint32_t address = request[kPktParams];
    if (fault.kind == FAULT_CORRUPT && request[kPktCategory] == 1 && request[kPktCommand] == 2)
    {
        // The lowest set bit of the first programmed quadlet that has one.
        const uint32_t count = std::min<uint32_t>(request[kPktParams + 1], 64);
        for (uint32_t i = 0; i < count && uint64_t(address) + 4 * i + 4 <= kFlashBytes; ++i)
        {
            const uint32_t q = loadLe32(flash + address + 4 * i);
            if (q != 0)
            {
                storeLe32(flash + address + 4 * i, q & (q - 1));
                return;
            }
        }
    }
    if (fault.kind == FAULT_STUCK0 && request[kPktCategory] == 1 && request[kPktCommand] == 0)
    {
        const uint32_t block = flashEraseBlockBytes(address);
        if ((fault.address & ~(block - 1)) == (address & ~(block - 1)))
            storeLe32(flash + fault.address, loadLe32(flash + fault.address) & ~(1u << fault.value));
    }
}

// A request a "hold" fault matches waits here, outside the bus lock, until the fault is cleared (or the
// unit is gone); the fault counts the requests it holds. A driver-control request matches by its
// sub-code (category) alone.
void waitWhileHeld(Handle& h, uint32_t target, uint32_t category, uint32_t command)
{
    bool counted = false;
    for (;;)
    {
        {
            BusLock lock(*h.bus);
            UnitState* unit = liveUnit(h);
            if (unit == nullptr)
                return;
            const auto hold = std::find_if(std::begin(unit->faults), std::end(unit->faults),
                                           [&](const Fault& f)
                                           {
                                               return f.kind == FAULT_HOLD && f.target == target &&
                                                      (f.category < 0 || uint32_t(f.category) == category) &&
                                                      (f.command < 0 || uint32_t(f.command) == command);
                                           });
            if (hold == std::end(unit->faults))
                return;
            if (!counted)
                ++hold->value;
            counted = true;
        }
        ::usleep(1000);
    }
}

bool vdcTransaction(Handle& h, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                    uint32_t* bytesReturned)
{
    // A transaction crosses the bus: on a manual clock it takes its time too.
    os::advanceManualClock(os::kVdcTransactionMs);
    const uint32_t requestBytes = std::min(inSize, kPktMaxBytes);
    uint32_t request[kPktMaxWords] = {};
    std::memcpy(request, in, requestBytes);
    waitWhileHeld(h, TARGET_VDC, request[kPktCategory], request[kPktCommand]);
    uint32_t reply[kReplyMaxWords];
    uint32_t replyBytes = kPktHeaderBytes;
    bool ok = true;
    {
        BusLock lock(*h.bus);
        UnitState* unit = liveUnit(h);
        const uint32_t category = request[kPktCategory];
        const uint32_t command = request[kPktCommand];
        const Fault fault =
            unit != nullptr ? takeFault(*unit, TARGET_VDC, int32_t(category), int32_t(command)) : Fault{};
        if (unit == nullptr || fault.kind == FAULT_FAIL)
            ok = false;
        else
        {
            std::memset(reply, 0, sizeof(reply));
            std::memcpy(reply, request, sizeof(request));
            reply[kPktVdr] = VDR_OK;
            const uint32_t length = request[kPktLength];
            if (fault.kind == FAULT_TIMEOUT || fault.kind == FAULT_BUSRESET)
                reply[kPktNtStatus] = fault.kind == FAULT_TIMEOUT ? STATUS_TIMEOUT : STATUS_BUS_RESET;
            else if (fault.kind == FAULT_NT)
                reply[kPktNtStatus] = fault.value;
            else if (fault.kind == FAULT_VDR)
            {
                reply[kPktNtStatus] = STATUS_SUCCESS;
                reply[kPktVdr] = fault.value;
                replyBytes = std::max(replySize(*unit, category, command), kPktHeaderBytes);
            }
            else if (length < 6 || length > 76)
                reply[kPktNtStatus] = STATUS_INVALID_PARAMETER;
            else
            {
                replyBytes = executeVdc(*unit, h.files->flash(), request, requestBytes, reply);
                if (reply[kPktNtStatus] == STATUS_SUCCESS && reply[kPktVdr] == VDR_OK)
                    damageFlash(fault, h.files->flash(), request);
            }
        }
    }
    if (ok)
    {
        replyBytes = std::min(replyBytes, outSize);
        std::memcpy(out, reply, replyBytes);
        if (bytesReturned != nullptr)
            *bytesReturned = replyBytes;
    }
    trace::vdc(h.unit, request, requestBytes, ok, reply, replyBytes);
    return ok;
}

// The requests the kernel driver answers itself. Returns false when the call fails.
bool controlRequest(Handle& h, intptr_t id, UnitState& unit, uint8_t* block)
{
    const uint32_t code = loadLe32(block + kCtlCode);
    uint32_t status = STATUS_SUCCESS;
    switch (code)
    {
    case CTL_GET_DRIVER_INFO:
    {
        // A dead client's pending buffer size is the streaming size from now on.
        stream::dropDeadClient(unit);
        const uint32_t info[9] = {0,
                                  unit.driverFlags,
                                  unit.mixer.rate,
                                  unit.mixer.clock,
                                  unit.bufferSize,
                                  kBufferMin,
                                  kBufferMax,
                                  kBufferStep,
                                  unit.stream.pendingBufferSize != 0 ? unit.stream.pendingBufferSize
                                                                     : unit.bufferSize};
        for (int i = 0; i < 9; ++i)
            storeLe32(block + kCtlArgs + 4 * i, info[i]);
        break;
    }
    case CTL_GET_STATISTICS:
    {
        // The unit's block in this process's mapping of its state: every process reads the same block.
        const uint64_t address = reinterpret_cast<uint64_t>(h.files->state().stats);
        std::memcpy(block + kCtlArgs, &address, sizeof(address));
        break;
    }
    case CTL_RESET_STATISTICS:
        std::memset(unit.stats, 0, sizeof(unit.stats));
        unit.statisticsResets++;
        break;
    case CTL_SET_BUFFER_SIZE:
    {
        const uint32_t size = loadLe32(block + kCtlArgs);
        if (size < kBufferMin || size > kBufferMax || size % kBufferStep != 0)
            status = STATUS_INVALID_PARAMETER;
        else if (stream::otherClientHolds(unit, id))
            status = stream::STATUS_DEVICE_BUSY; // only the streaming client may change it meanwhile
        else if (stream::clientHolds(unit))
            unit.stream.pendingBufferSize = size; // the streaming size changes when the client closes
        else
            unit.bufferSize = size;
        break;
    }
    case CTL_SET_DRIVER_FLAGS:
        // Keep the bits of the mask, then set the bits.
        unit.driverFlags = (unit.driverFlags & loadLe32(block + kCtlArgs)) | loadLe32(block + kCtlArgs + 4);
        break;
    case CTL_GET_SAMPLE_RATE:
        storeLe32(block + kCtlArgs, unit.mixer.rate);
        break;
    case CTL_SET_SAMPLE_RATE:
    {
        const uint32_t rate = loadLe32(block + kCtlArgs);
        if (rate < loadLe32(unit.caps + 156) || rate > loadLe32(unit.caps + 152))
            return false;
        unit.mixer.rate = rate;
        break;
    }
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    storeLe32(block + kCtlStatus, status);
    return true;
}

bool driverControl(Handle& h, intptr_t id, const void* in, void* out, uint32_t* bytesReturned)
{
    uint8_t request[kControlBlockBytes];
    std::memcpy(request, in, sizeof(request));
    uint8_t block[kControlBlockBytes];
    std::memcpy(block, request, sizeof(block));
    waitWhileHeld(h, TARGET_DC, loadLe32(block + kCtlCode), 0);
    bool ok = false;
    bool streaming = false;
    {
        BusLock lock(*h.bus);
        UnitState* unit = liveUnit(h);
        if (unit != nullptr)
        {
            const Fault fault = takeFault(*unit, TARGET_DC, int32_t(loadLe32(block + kCtlCode)), -1);
            if (fault.kind == FAULT_STATUS)
            {
                storeLe32(block + kCtlStatus, fault.value);
                ok = true;
            }
            else if (fault.kind != FAULT_FAIL)
            {
                // Streaming requests start and join the period clock, which takes the bus lock itself.
                streaming = stream::isStreamingCode(loadLe32(block + kCtlCode));
                if (!streaming)
                    ok = controlRequest(h, id, *unit, block);
            }
        }
    }
    if (streaming)
        ok = stream::request({h.bus, h.files, h.slot, h.creationId, h.generation, id}, block);
    if (ok)
    {
        std::memcpy(out, block, sizeof(block));
        if (bytesReturned != nullptr)
            *bytesReturned = sizeof(block);
    }
    trace::control(h.unit, request, ok, block);
    return ok;
}

bool driverVersion(Handle& h, void* out, uint32_t* bytesReturned)
{
    uint32_t version = 0;
    bool ok = false;
    {
        BusLock lock(*h.bus);
        UnitState* unit = liveUnit(h);
        if (unit != nullptr && takeFault(*unit, TARGET_VER, -1, -1).kind != FAULT_FAIL)
        {
            version = unit->driverVersion;
            ok = true;
        }
    }
    if (ok)
    {
        storeLe32(static_cast<uint8_t*>(out), version);
        if (bytesReturned != nullptr)
            *bytesReturned = 4;
    }
    trace::version(h.unit, ok, version);
    return ok;
}

} // namespace

} // namespace sim

namespace sim::kernel
{

using namespace sim::wire;

std::vector<std::string> interfacePaths(const std::string& classGuid)
{
    std::vector<std::string> paths;
    std::shared_ptr<Bus> bus = classMatches(classGuid) ? Bus::current() : nullptr;
    if (!bus)
        return paths;
    std::vector<std::pair<uint64_t, std::string>> found;
    {
        BusLock lock(*bus);
        for (const UnitSlot& s : bus->header().units)
            if (s.inUse && s.plugged)
                found.emplace_back(s.plugSeq, s.name);
    }
    std::sort(found.begin(), found.end());
    for (const auto& f : found)
        paths.push_back(interfacePath(f.second));
    return paths;
}

bool interfaceKeyExists(const std::string& path)
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return false;
    BusLock lock(*bus);
    return bus->findPlugged(path) >= 0;
}

int32_t queryInterfaceValue(const std::string& path, const char* name, uint32_t* type, void* data,
                            uint32_t* size)
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus || name == nullptr)
        return ERROR_FILE_NOT_FOUND;
    BusLock lock(*bus);
    const int slot = bus->findPlugged(path);
    std::shared_ptr<UnitFiles> files = slot >= 0 ? bus->files(slot, false, nullptr) : nullptr;
    if (!files)
        return ERROR_FILE_NOT_FOUND;
    const UnitState& u = files->state();
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    uint32_t valueType = 0;
    if (equalsIgnoringCase(name, "hwinfo_caps") && u.hasCaps)
    {
        bytes = u.caps;
        length = std::min<uint32_t>(u.capsSize, kCapsBytes);
        valueType = REG_BINARY;
    }
    else if (equalsIgnoringCase(name, "unique_name") && u.hasUniqueName)
    {
        bytes = reinterpret_cast<const uint8_t*>(u.uniqueName);
        length = std::min<uint32_t>(u.uniqueNameSize, kUniqueNameBytes);
        valueType = REG_SZ;
    }
    else
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = valueType;
    if (size == nullptr)
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    if (data != nullptr && *size < length)
    {
        *size = length;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr)
        std::memcpy(data, bytes, length);
    *size = length;
    return ERROR_SUCCESS;
}

intptr_t open(const std::string& path)
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return -1;
    auto handle = std::make_shared<Handle>();
    bool ok = false;
    std::string unit = unitOfPath(path);
    {
        BusLock lock(*bus);
        const int slot = bus->findPlugged(path);
        std::shared_ptr<UnitFiles> files = slot >= 0 ? bus->files(slot, false, nullptr) : nullptr;
        if (files)
        {
            const UnitSlot& s = bus->header().units[slot];
            unit = s.name;
            ok = takeFault(files->state(), TARGET_OPEN, -1, -1).kind != FAULT_FAIL;
            handle->bus = bus;
            handle->files = files;
            handle->slot = slot;
            handle->creationId = s.creationId;
            handle->generation = s.generation;
            std::strncpy(handle->unit, s.name, kNameBytes - 1);
        }
        else if (bus->findUnit(unit) < 0)
            unit.clear(); // not a unit of this bus: nothing to trace
    }
    if (!unit.empty())
        trace::open(unit.c_str(), ok);
    if (!ok)
        return -1;
    HandleTable& t = handleTable();
    std::lock_guard<std::mutex> guard(t.mutex);
    const intptr_t id = t.next++;
    t.handles[id] = handle;
    return id;
}

bool ioctl(intptr_t handle, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
           uint32_t* bytesReturned)
{
    if (bytesReturned != nullptr)
        *bytesReturned = 0;
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return false;
    switch (code)
    {
    case IOCTL_DRIVER_VERSION:
        if (out == nullptr || outSize < 4)
            return false;
        return driverVersion(*h, out, bytesReturned);
    case IOCTL_VDC_TRANSACTION:
        if (in == nullptr || out == nullptr || inSize < kPktHeaderBytes || outSize < kPktHeaderBytes)
            return false;
        return vdcTransaction(*h, in, inSize, out, outSize, bytesReturned);
    case IOCTL_DRIVER_CONTROL:
        if (in == nullptr || out == nullptr || inSize < kControlBlockBytes || outSize < kControlBlockBytes)
            return false;
        return driverControl(*h, handle, in, out, bytesReturned);
    default:
        return false;
    }
}

bool close(intptr_t handle)
{
    // A client that closes its handle without closing streaming ends streaming with it.
    stream::handleClosed(handle);
    std::shared_ptr<Handle> h;
    {
        HandleTable& t = handleTable();
        std::lock_guard<std::mutex> guard(t.mutex);
        auto it = t.handles.find(handle);
        if (it == t.handles.end())
            return false;
        h = it->second;
        t.handles.erase(it);
    }
    trace::close(h->unit);
    return true;
}

uint64_t interfaceEventSequence()
{
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
        return 0;
    BusLock lock(*bus);
    return bus->header().eventSeq;
}

std::vector<InterfaceEvent> interfaceEventsSince(const std::string& classGuid, uint64_t seq, uint64_t* next)
{
    std::vector<InterfaceEvent> events;
    std::shared_ptr<Bus> bus = Bus::current();
    if (!bus)
    {
        if (next != nullptr)
            *next = seq;
        return events;
    }
    BusLock lock(*bus);
    const BusHeader& h = bus->header();
    if (next != nullptr)
        *next = h.eventSeq;
    if (!classMatches(classGuid) || h.eventSeq <= seq)
        return events;
    const uint64_t oldest = h.eventSeq > uint64_t(kEventRing) ? h.eventSeq - kEventRing + 1 : 1;
    for (uint64_t s = std::max(seq + 1, oldest); s <= h.eventSeq; ++s)
    {
        const BusEvent& e = h.events[s % kEventRing];
        events.push_back({e.seq, e.arrival != 0, interfacePath(e.unit), e.removalCodes});
    }
    return events;
}

} // namespace sim::kernel
