#pragma once

// A private simulator bus for one test: a fresh bus directory in STRELLIS_SIM_DIR for the test's
// lifetime, and devsim commands run in-process against it.

#include "sim/PrivateBus.h"

namespace testsupport
{

using TempBus = sim::PrivateBus;

} // namespace testsupport
