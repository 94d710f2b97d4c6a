#pragma once

// The gain and pan encodings: they live in the formats library, which the ASIO driver shares. The
// device layer and its users name them as device::.

#include "formats/Conversions.h"

namespace device
{
using namespace formats;
} // namespace device
