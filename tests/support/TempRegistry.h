#pragma once

// A private registry for one test: a fresh STRELLIS_REGISTRY directory for the test's lifetime.

#include "sim/PrivateBus.h"

namespace testsupport
{

struct TempRegistry : sim::PrivateDirectory
{
    TempRegistry() : PrivateDirectory("STRELLIS_REGISTRY", "strellis-registry-test") {}
};

} // namespace testsupport
