#pragma once

// Facts about the system the programs run on, as Windows would answer them.

namespace platform
{

// Whether the system is Windows Vista or later (false: Windows XP). The environment variable
// STRELLIS_WINDOWS ("xp" or "vista", any letter case) decides for the process; otherwise the simulated
// machine's setting does (devsim os windows), which is Vista unless set.
bool isWindowsVistaOrLater();

} // namespace platform
