#pragma once

// The capability record and its channel maps: they live in the formats library, which the ASIO driver shares.
// The device layer and its users name them as device::.

#include "formats/HwInfoCaps.h"

namespace device
{
using namespace formats;
} // namespace device
