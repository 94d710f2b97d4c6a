#pragma once

// The device's encodings of gain and pan. Gain is an unsigned 8.24 fixed-point factor (0x01000000 =
// unity = 0 dB); pan is 0 (left) to 255 (right) on the device and 0.0 to 1.0 in the console.

#include <cstdint>

namespace formats
{

inline constexpr uint32_t kUnityGain = 0x01000000;
// The level shown for a gain of 0.
inline constexpr float kSilenceDb = -144.0f;

// 10^(dB/20) in 8.24, rounded to nearest with halves to even; saturates at 0 and 0xFFFFFFFF.
uint32_t dbToGain(float db);
// 20 log10(gain / 2^24); 0 gives kSilenceDb.
float gainToDb(uint32_t gain);

// pan x 255, rounded to nearest with halves to even, kept within 0 .. 255.
uint32_t panToDevice(float pan);
float panFromDevice(uint32_t value);

} // namespace formats
