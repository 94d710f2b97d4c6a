#include "formats/Conversions.h"

#include <cmath>

namespace formats
{
namespace
{

// Round to nearest, halves to even (the default floating-point rounding mode), then saturate to the
// unsigned 32-bit range (NaN gives 0).
uint32_t roundToWord(double x, double max)
{
    const double r = std::nearbyint(x);
    if (!(r >= 0.0))
        return 0;
    if (r >= max)
        return static_cast<uint32_t>(max);
    return static_cast<uint32_t>(r);
}

} // namespace

uint32_t dbToGain(float db)
{
    // The intermediate steps are kept in float precision on purpose: stored sessions carry gains encoded
    // this way, and a wider intermediate would move some of them by one step.
    const float f = static_cast<float>(static_cast<double>(db) * 0.05);
    const float g = static_cast<float>(std::pow(10.0, static_cast<double>(f)));
    return roundToWord(static_cast<double>(g) * 16777216.0, 4294967295.0);
}

float gainToDb(uint32_t gain)
{
    if (gain == 0)
        return kSilenceDb;
    const float ratio = static_cast<float>(static_cast<double>(gain) / 16777216.0);
    return static_cast<float>(20.0 * std::log10(static_cast<double>(ratio)));
}

uint32_t panToDevice(float pan)
{
    return roundToWord(static_cast<double>(pan) * 255.0, 255.0);
}

float panFromDevice(uint32_t value)
{
    return static_cast<float>(static_cast<double>(value) * (1.0 / 255.0));
}

} // namespace formats
