#pragma once

// The unit's firmware as the simulator models it: what it does with a VDC command, its NOR flash, the
// session it stores and the mixer it runs. Every function here works on a unit with the bus lock held.

#include "Shared.h"

#include <cstdint>

namespace sim
{

// Session image: byte offsets into the 3348-quadlet image.
namespace session
{
constexpr int kSize = 0;
constexpr int kCrc = 4;
constexpr int kVersion = 8;
constexpr int kFlags = 12;
constexpr int kClock = 24;
constexpr int kRate = 28;
constexpr int kMonitorGains = 32;
constexpr int kPlaybackGains = 6432;
constexpr int kOutputGains = 6592;
constexpr int kRouting = 6752;
constexpr int kByteArea = 7312;
constexpr int kInputRecords = 7312;
constexpr int kMonitorPans = 8272;
constexpr int kMonitorFlags = 9872;
constexpr int kPlaybackRecords = 11472;
constexpr int kOutputRecords = 12432;
constexpr int kRecordBytes = 24;
constexpr int kBytes = 13392;
constexpr uint32_t kQuads = 3348;
constexpr uint32_t kVersionValue = 512;
constexpr uint32_t kPhantomBit = 0x80000000u;
constexpr uint32_t kRoom = 40; // channels the image has room for
} // namespace session

uint32_t crc32(const uint8_t* data, size_t size);
// CRC of bytes 8 to the end of a session image as it lies in memory.
uint32_t sessionCrc(const uint32_t* image);

// The channel counts of the unit's record, bounded to what the unit can hold.
struct Counts
{
    uint32_t inputs;
    uint32_t outputs;
    uint32_t playback;
};
Counts countsOf(const UnitState& unit);

// The session a unit of this record leaves its factory with: every mix at 0 dB, each analog input
// heard only in the analog output pair of its own number, even inputs left and odd inputs right,
// outputs and playback at 0 dB, routing straight through. Memory order, size, version and CRC set.
void factorySession(const UnitState& unit, uint32_t image[session::kQuads]);

// Knobs and kernel-driver settings of a newly made record.
void resetKnobs(UnitState& unit);

// What a new unit's flash holds: the factory session at the session base and, for a preset, its firmware.
void programFactoryFlash(UnitState& unit, uint8_t* flash, uint32_t firmwareVersion);

// Power-on: firmware versions from flash, the mixer from the stored session (the factory one when flash
// holds none), flash idle and unlocked.
void bootDevice(UnitState& unit, const uint8_t* flash);

// The largest reply: a polled block of 464 bytes.
constexpr int kReplyMaxWords = 128;

// The reply size of a command, 0 for a command the unit does not know.
uint32_t replySize(const UnitState& unit, uint32_t category, uint32_t command);
uint32_t polledSize(const UnitState& unit);

// Executes one VDC request. request is a 77-word buffer, zero past what the caller sent, requestBytes
// the size the caller sent; reply has kReplyMaxWords words. Returns the reply size in bytes; the reply's
// NT status is 0 and its return value holds the unit's answer.
uint32_t executeVdc(UnitState& unit, uint8_t* flash, const uint32_t* request, uint32_t requestBytes,
                    uint32_t* reply);

// Flash, as the flash commands use it; each returns a device return value.
uint32_t flashEraseBlockBytes(uint32_t address);
uint32_t flashErase(UnitState& unit, uint8_t* flash, uint32_t address);
uint32_t flashWrite(UnitState& unit, uint8_t* flash, uint32_t address, uint32_t count, const uint32_t* data);
uint32_t flashRead(const UnitState& unit, const uint8_t* flash, uint32_t address, uint32_t count,
                   uint32_t* out);

// The status word of the polled block.
uint32_t statusWord(const UnitState& unit);

} // namespace sim
