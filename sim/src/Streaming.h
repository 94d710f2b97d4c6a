#pragma once

// The kernel driver's streaming: one client per unit opens streaming with its event, claims channels,
// starts and stops the period clock and closes. The client's shared block, frame-pointer tables and frame
// rings live in the client's process; the clock runs on a thread of that process, in real time or one
// period per step (docs/simulator.md, "Streaming").

#include "Shared.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim::stream
{

// Byte offsets of the shared block's fields: the simulator's own reading, kept apart from the ASIO
// driver's on purpose (see Wire.h).
constexpr int kSbCompleted = 0;        // u32, raised every period
constexpr int kSbTimeBeforeInput = 8;  // i64, written by the client before its input copy
constexpr int kSbTimeAfterOutput = 40; // i64, written by the client after its output copy
constexpr int kSbPlaybackTable = 56;   // u64
constexpr int kSbPlaybackFrames = 76;  // u32
constexpr int kSbPlaybackIndex = 80;   // i32
constexpr int kSbCaptureTable = 344;   // u64
constexpr int kSbCaptureTime = 352;    // i64
constexpr int kSbCaptureFrames = 364;  // u32
constexpr int kSbCaptureIndex = 368;   // i32
constexpr uint32_t kSharedBlockBytes = 4096;

constexpr uint32_t kSlotsPerFrame = 64; // one 32-bit slot per channel of the unit
constexpr uint32_t kRingPeriods = 4;    // periods of frames in each ring
constexpr uint32_t kMaxLoopback = 16;   // loopback:<k>, k from 1 to this

// Statistics block: totals and counts kept beside the averages, in bytes the analyzer does not read.
constexpr int kStPlayTotal = 16;
constexpr int kStRecTotal = 40;
constexpr int kStWakeCount = 48;
constexpr int kStHostCount = 56;
constexpr int kStWakeTotal = 88;
constexpr int kStHostTotal = 112;

enum CaptureMode : uint32_t
{
    CAPTURE_PATTERN = 0,
    CAPTURE_LOOPBACK = 1,
    CAPTURE_SILENCE = 2
};

// Status values of the streaming requests.
constexpr uint32_t STATUS_INVALID_HANDLE = 0xC0000008;
constexpr uint32_t STATUS_NO_MEMORY = 0xC0000017;
constexpr uint32_t STATUS_SHARING_VIOLATION = 0xC0000043;
constexpr uint32_t STATUS_DEVICE_BUSY = 0x80000011;
constexpr uint32_t STATUS_INVALID_DEVICE_STATE = 0xC0000184;

// Who sends a request: the handle with its unit.
struct Caller
{
    std::shared_ptr<Bus> bus;
    std::shared_ptr<UnitFiles> files;
    int slot = -1;
    uint64_t creationId = 0;
    uint64_t generation = 0;
    intptr_t handle = -1;
};

bool isStreamingCode(uint32_t code);

// Carries out sub-code 1, 2, 4, 5 or 6 (takes the bus lock itself) and fills the block's status and
// results. False when the call itself fails.
bool request(const Caller& caller, uint8_t* block);

// The handle is being closed: a client on it ends as CloseStreaming ends it.
void handleClosed(intptr_t handle);

// Under the bus lock: takes the unit's stream state away from a client whose process ended, as the
// kernel driver does when a process dies (a buffer size it left pending applies).
void dropDeadClient(UnitState& unit);
// Under the bus lock: whether a live client holds the unit (a client whose process ended does not).
bool clientHolds(const UnitState& unit);
// Under the bus lock: whether a live client other than the one streaming through this handle of this
// process holds the unit.
bool otherClientHolds(const UnitState& unit, intptr_t handle);

// devsim: the streaming knobs (held.out, held.in, capture, period-clock); false with a reason.
bool setKnob(UnitState& unit, const std::string& knob, const std::string& value, std::string& why);
std::vector<std::string> dumpLines(const UnitState& unit);

// devsim step: runs n periods of a unit whose clock is in step mode, each signalled before the next;
// waits up to 5 s for them. Takes the bus lock itself. False with a reason.
bool step(Bus& bus, int slot, uint32_t periods, std::string& why);

} // namespace sim::stream
