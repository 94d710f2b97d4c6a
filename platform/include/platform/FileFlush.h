#pragma once

// Forcing what was written to a file, or the entries of a folder (a rename in it), onto the disk
// (FlushFileBuffers), so that a power cut after the call cannot undo it.

#include <string>

namespace platform
{

// Waits until the file's data, or the folder's entries, are on the disk. False when the path cannot be
// opened or the disk reports a failure.
bool flushToDisk(const std::string& path);

} // namespace platform
