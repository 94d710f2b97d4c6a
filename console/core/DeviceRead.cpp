#include "console/core/DeviceRead.h"

#include <cstring>

namespace console
{
namespace
{

// A result in one word, so the two threads never see half of one: a flag, 23 bits of the generation,
// 8 of the channel and the value's 32 bits.
constexpr uint64_t kResultFlag = uint64_t(1) << 63;
constexpr uint32_t kGenerationMask = 0x7FFFFF;

} // namespace

void DeviceRead::put(int channel, float value, uint32_t generation)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putBits(channel, bits, generation);
}

void DeviceRead::put(int channel, int32_t value, uint32_t generation)
{
    putBits(channel, uint32_t(value), generation);
}

bool DeviceRead::take(int& channel, float& value)
{
    uint32_t bits = 0;
    const bool current = takeBits(channel, bits);
    std::memcpy(&value, &bits, sizeof value);
    return current;
}

bool DeviceRead::take(int& channel, int32_t& value)
{
    uint32_t bits = 0;
    const bool current = takeBits(channel, bits);
    value = int32_t(bits);
    return current;
}

void DeviceRead::putBits(int channel, uint32_t bits, uint32_t generation)
{
    result_.store(kResultFlag | uint64_t(generation & kGenerationMask) << 40 |
                  uint64_t(uint32_t(channel) & 0xFF) << 32 | bits);
}

bool DeviceRead::takeBits(int& channel, uint32_t& bits)
{
    const uint64_t result = result_.exchange(0);
    if (result == 0)
        return false;
    channel = int(result >> 32 & 0xFF);
    bits = uint32_t(result);
    return uint32_t(result >> 40 & kGenerationMask) == (control_.getChangeCount() & kGenerationMask);
}

} // namespace console
