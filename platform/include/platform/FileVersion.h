#pragma once

// File versions. Linux files have no version resource, so every deliverable embeds a small version block
// of our own (STRELLIS_FILE_VERSION_BLOCK) that readFileVersion finds by scanning the file's bytes,
// without loading the file.

#include <cstdint>
#include <string>

namespace platform
{

struct FileVersion
{
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// False when the file cannot be read or carries no version block.
bool readFileVersion(const std::string& path, FileVersion& out);

} // namespace platform
