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
    result_.store(kResultFlag | uint64_t(generation & kGenerationMask) << 40 |
                  uint64_t(uint32_t(channel) & 0xFF) << 32 | bits);
}

bool DeviceRead::take(int& channel, float& value)
{
    const uint64_t result = result_.exchange(0);
    if (result == 0)
        return false;
    channel = int(result >> 32 & 0xFF);
    const auto bits = uint32_t(result);
    std::memcpy(&value, &bits, sizeof value);
    return uint32_t(result >> 40 & kGenerationMask) == (control_.getChangeCount() & kGenerationMask);
}

} // namespace console
