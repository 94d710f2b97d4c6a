#pragma once

// The kernel driver's wire formats: they live in the formats library, which the ASIO driver shares. The
// device layer and its users name them as device::.

#include "formats/Wire.h"

namespace device
{
using namespace formats;
} // namespace device
