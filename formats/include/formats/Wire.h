#pragma once

// What crosses the boundary to the kernel driver: the device-interface class, the I/O control codes and
// the byte layouts of the VDC packet, the driver-control block, the driver information and the polled
// block. Every word is a little-endian 32-bit quadlet unless a field says otherwise; the static_asserts
// pin each layout to its byte offsets so that a change shows at compile time.
//
// One definition for every deliverable: the device layer (and through it the console and the analyzer)
// and the ASIO driver's own compact device access build their requests from these. The simulator reads
// the same bytes with definitions of its own (sim/src/Wire.h), so that an offset wrong here fails a test.

#include "platform/DeviceInterfaces.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace formats
{

static_assert(std::endian::native == std::endian::little, "the wire formats are little-endian");

// The device-interface class under which the kernel driver publishes one interface per unit.
inline constexpr platform::Guid kDeviceInterfaceClass{
    0x3D5A1F20, 0x7C44, 0x4B9E, {0x9E, 0x21, 0x6A, 0x0B, 0x5C, 0x7D, 0x8E, 0x31}};

// I/O control codes (device type 0x1D, buffered, any access).
inline constexpr uint32_t IOCTL_DRIVER_VERSION = 0x1D2000;
inline constexpr uint32_t IOCTL_VDC_TRANSACTION = 0x1D2004;
inline constexpr uint32_t IOCTL_DRIVER_CONTROL = 0x1D2008;

// NT status values the response check tells apart.
inline constexpr uint32_t kNtSuccess = 0;
inline constexpr uint32_t kNtTimeout = 0x102;
inline constexpr uint32_t kNtBusReset = 0xC0120090;

// Results of every VDC command method.
enum DeviceResult : int
{
    kResultDone = 0,
    kResultTryAgain = -1,  // response time-out or bus reset
    kResultFailed = 1,     // the call itself or the transport failed
    kResultDeviceError = 2 // the device answered with an error value
};

// The device's return value in a VDC reply.
enum VdrStatus : uint32_t
{
    kVdrOk = 0,
    kVdrBusy = 12 // the flash is not ready yet
};

enum VdcCategory : uint32_t
{
    kCatHwInfo = 0,
    kCatFlash = 1,
    kCatHwControl = 3,
    kCatPhysOut = 4,
    kCatPhysIn = 5,
    kCatPlaybackMix = 6,
    kCatMonitorMix = 8,
    kCatIoConfig = 9
};

// Mixer categories: an even command sets a quantity, the next odd one gets it.
enum VdcMixerCmd : uint32_t
{
    kMixSetGain = 0,
    kMixGetGain = 1,
    kMixSetMute = 2,
    kMixGetMute = 3,
    kMixSetSolo = 4,
    kMixGetSolo = 5,
    kMixSetPan = 6,
    kMixGetPan = 7,
    kMixSetNominal = 8,
    kMixGetNominal = 9
};

enum VdcHwInfoCmd : uint32_t
{
    kHwInfoGetPolled = 1,
    kHwInfoReadSessionBlock = 3,
    kHwInfoGetFirmwareCounters = 4
};

enum VdcFlashCmd : uint32_t
{
    kFlashErase = 0,
    kFlashRead = 1,
    kFlashWrite = 2,
    kFlashGetStatus = 3,
    kFlashGetSessionBase = 4,
    kFlashLock = 5
};

enum VdcHwControlCmd : uint32_t
{
    kHwSetClock = 0,
    kHwGetClock = 1,
    kHwChangeFlags = 3,
    kHwGetFlags = 4,
    kHwIdentify = 5
};

enum VdcIoConfigCmd : uint32_t
{
    kIoSetPhantom = 4,
    kIoGetPhantom = 5,
    kIoSetIsocMap = 6,
    kIoGetIsocMap = 7
};

// The seven words every VDC request and reply start with.
struct VdcHeader
{
    uint32_t ntStatus;    // written by the kernel driver into the reply
    uint32_t length;      // quadlets from this word on; 6 = header only
    uint32_t reserved[2]; // not set by this side
    uint32_t category;    // VdcCategory
    uint32_t command;     // command within the category
    uint32_t vdrStatus;   // VdrStatus, written by the device into the reply
};
static_assert(sizeof(VdcHeader) == 28);
static_assert(offsetof(VdcHeader, ntStatus) == 0);
static_assert(offsetof(VdcHeader, length) == 4);
static_assert(offsetof(VdcHeader, category) == 16);
static_assert(offsetof(VdcHeader, command) == 20);
static_assert(offsetof(VdcHeader, vdrStatus) == 24);

inline constexpr size_t kVdcMaxParams = 70;

// Request and reply of IOCTL_VDC_TRANSACTION share this layout (and, in the device object, one buffer).
struct VdcPacket
{
    VdcHeader header;
    uint32_t params[kVdcMaxParams];
};
static_assert(sizeof(VdcPacket) == 308);
static_assert(offsetof(VdcPacket, params) == 28);

// Request bytes of a packet with the given length word.
constexpr uint32_t vdcRequestBytes(uint32_t length)
{
    return 4 + 4 * length;
}

// The isochronous-map record that IoConfig SetIsocMap and GetIsocMap carry in p0 .. p69.
struct IsocMapRecord
{
    uint32_t words[kVdcMaxParams];
};
static_assert(sizeof(IsocMapRecord) == 280);

// Sub-codes of IOCTL_DRIVER_CONTROL.
enum DriverControlCode : uint32_t
{
    kDcOpenStreaming = 1,
    kDcCloseStreaming = 2,
    kDcGetDriverInfo = 3,
    kDcClaimChannel = 4,
    kDcStartStreaming = 5,
    kDcStopStreaming = 6,
    kDcGetStatistics = 7,
    kDcResetStatistics = 8,
    kDcSetBufferSize = 9,
    kDcSetDriverFlags = 10,
    kDcGetSampleRate = 15,
    kDcSetSampleRate = 16
};

// The 64-byte in/out block of IOCTL_DRIVER_CONTROL. Arguments and results sit at byte offsets from 12
// on, some of them pointer-sized at offsets that are not 8-aligned, so they are reached through the
// accessors below rather than as fields.
struct DriverControlBlock
{
    int32_t status;   // written by the kernel driver; 0 = success
    uint32_t flag;    // 0, except 1 for OpenStreaming
    uint32_t subCode; // DriverControlCode
    uint8_t args[52]; // bytes 12 .. 63

    static constexpr size_t kArgsOffset = 12;

    uint32_t wordAt(size_t byteOffset) const
    {
        uint32_t w;
        std::memcpy(&w, bytes() + byteOffset, sizeof w);
        return w;
    }
    void setWordAt(size_t byteOffset, uint32_t w) { std::memcpy(bytes() + byteOffset, &w, sizeof w); }
    uint64_t quadWordAt(size_t byteOffset) const
    {
        uint64_t q;
        std::memcpy(&q, bytes() + byteOffset, sizeof q);
        return q;
    }
    void setQuadWordAt(size_t byteOffset, uint64_t q) { std::memcpy(bytes() + byteOffset, &q, sizeof q); }

private:
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this); }
    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this); }
};
static_assert(sizeof(DriverControlBlock) == 64);
static_assert(offsetof(DriverControlBlock, status) == 0);
static_assert(offsetof(DriverControlBlock, flag) == 4);
static_assert(offsetof(DriverControlBlock, subCode) == 8);
static_assert(offsetof(DriverControlBlock, args) == DriverControlBlock::kArgsOffset);

// Bits of DriverInfo::flags and of SetDriverFlags.
inline constexpr uint32_t kDriverFlagRateLocked = 1u << 0;
inline constexpr uint32_t kDriverFlagSurround = 1u << 1;

// The nine words GetDriverInfo returns from byte 12 of the block.
struct DriverInfo
{
    uint32_t unused;
    uint32_t flags; // kDriverFlag...
    uint32_t sampleRate;
    uint32_t clockIndex;
    uint32_t bufferSize; // streaming buffer size in samples
    uint32_t minBufferSize;
    uint32_t maxBufferSize;
    uint32_t bufferSizeStep;
    uint32_t configuredBufferSize;
};
static_assert(sizeof(DriverInfo) == 36);

// The reply of HwInfo GetPolled, kept whole: the reply header, the status word, the output meter count
// and the meters (output meters first, then input meters).
struct PolledBlock
{
    static constexpr size_t kMaxMeters = 100;

    VdcHeader header;
    uint32_t status;           // bits 0..5 detected clocks; bit 8 + 2n / 9 + 2n MIDI in / out port n
    uint32_t unread1[4];       // p1 .. p4
    uint32_t outputMeterCount; // p5
    uint32_t unread2[3];       // p6 .. p8
    uint32_t meters[kMaxMeters];
};
static_assert(sizeof(PolledBlock) == 464);
static_assert(offsetof(PolledBlock, status) == 28);
static_assert(offsetof(PolledBlock, outputMeterCount) == 48);
static_assert(offsetof(PolledBlock, meters) == 64);

inline constexpr uint32_t kPolledHeaderBytes = offsetof(PolledBlock, meters);

} // namespace formats
