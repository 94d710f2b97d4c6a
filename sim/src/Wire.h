#pragma once

// The kernel driver's side of the wire: I/O control codes, packet and block offsets, status values.
// The system's formats library (formats/Wire.h) defines the same bytes for the device layer and the ASIO
// driver; the simulator keeps this reading of its own on purpose, and never includes that library, so
// that an offset wrong on either side shows up as a failing exchange instead of being shared silently.
// The same holds for the capability record's offsets (Models.h) and the shared streaming block's
// (Streaming.h).

#include <cstdint>

namespace sim::wire
{

constexpr const char* kInterfaceClass = "{3D5A1F20-7C44-4B9E-9E21-6A0B5C7D8E31}";

constexpr uint32_t IOCTL_DRIVER_VERSION = 0x1D2000;
constexpr uint32_t IOCTL_VDC_TRANSACTION = 0x1D2004;
constexpr uint32_t IOCTL_DRIVER_CONTROL = 0x1D2008;

constexpr uint32_t kDefaultDriverVersion = 0x04080000;

// NT status values in word 0 of a VDC reply or in a control block's status.
constexpr uint32_t STATUS_SUCCESS = 0;
constexpr uint32_t STATUS_TIMEOUT = 0x102;
constexpr uint32_t STATUS_BUS_RESET = 0xC0120090;
constexpr uint32_t STATUS_NOT_IMPLEMENTED = 0xC0000002;
constexpr uint32_t STATUS_INVALID_PARAMETER = 0xC000000D;
constexpr uint32_t STATUS_INVALID_DEVICE_REQUEST = 0xC0000010;

// VDC packet: word indexes.
constexpr int kPktNtStatus = 0;
constexpr int kPktLength = 1;
constexpr int kPktCategory = 4;
constexpr int kPktCommand = 5;
constexpr int kPktVdr = 6;
constexpr int kPktParams = 7;
constexpr int kPktMaxWords = 77; // 308 bytes
constexpr uint32_t kPktHeaderBytes = 28;
constexpr uint32_t kPktMaxBytes = 308;

// The unit's return values.
enum VdrStatus : uint32_t
{
    VDR_OK = 0,
    VDR_BAD_COMMAND = 1,   // unknown category or command
    VDR_BAD_PARAMETER = 2, // channel, index, count, rate or clock out of range
    VDR_FLASH_ERROR = 3,   // flash address out of range, or a write that needs erased bits
    VDR_BAD_LENGTH = 4,    // packet too short for its parameters
    VDR_NOT_SUPPORTED = 5, // a flash lock sent to a unit without one
    VDR_BUSY = 12          // flash busy
};

enum Category : uint32_t
{
    CAT_HWINFO = 0,
    CAT_FLASH = 1,
    CAT_HWCONTROL = 3,
    CAT_PHYS_OUT = 4,
    CAT_PHYS_IN = 5,
    CAT_PLAYBACK_MIX = 6,
    CAT_MONITOR_MIX = 8,
    CAT_IO_CONFIG = 9
};

// Driver-control block: byte offsets.
constexpr uint32_t kControlBlockBytes = 64;
constexpr int kCtlStatus = 0;
constexpr int kCtlFlag = 4;
constexpr int kCtlCode = 8;
constexpr int kCtlArgs = 12;

enum ControlCode : uint32_t
{
    CTL_OPEN_STREAMING = 1,
    CTL_CLOSE_STREAMING = 2,
    CTL_GET_DRIVER_INFO = 3,
    CTL_CLAIM_CHANNEL = 4,
    CTL_START_STREAMING = 5,
    CTL_STOP_STREAMING = 6,
    CTL_GET_STATISTICS = 7,
    CTL_RESET_STATISTICS = 8,
    CTL_SET_BUFFER_SIZE = 9,
    CTL_SET_DRIVER_FLAGS = 10,
    CTL_GET_SAMPLE_RATE = 15,
    CTL_SET_SAMPLE_RATE = 16
};

constexpr uint32_t kBufferMin = 32;
constexpr uint32_t kBufferMax = 2048;
constexpr uint32_t kBufferStep = 32;
constexpr uint32_t kBufferDefault = 256;

// Statistics block: byte offsets.
constexpr int kStPlayAvg = 0;
constexpr int kStPlayMax = 8;
constexpr int kStRecAvg = 24;
constexpr int kStRecMax = 32;
constexpr int kStWakeAvg = 72;
constexpr int kStWakeMax = 80;
constexpr int kStHostAvg = 96;
constexpr int kStHostMax = 104;
constexpr int kStPlayCount = 124;
constexpr int kStRecCount = 128;

// Registry results and types.
constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_MORE_DATA = 234;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;

} // namespace sim::wire
