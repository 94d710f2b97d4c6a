#pragma once

// The file version a deliverable carries. STRELLIS_FILE_VERSION_BLOCK(major, minor, build, revision), put
// once at namespace scope in one source file of the deliverable, embeds a 32-byte block in the section
// "strellis_fver"; platform::readFileVersion finds it by scanning the file's bytes. Layout (little-endian):
//
//   byte  0  16 bytes  marker "STRELLIS:FILEVER"
//   byte 16  4 x u16   major, minor, build, revision
//   byte 24  u32       check: ~(major | minor << 16) ^ (build | revision << 16)
//   byte 28  u32       layout version, 1
//
// The check tells a real block from the marker text met elsewhere in a file.

#include <bit>
#include <cstdint>

namespace platform
{

static_assert(std::endian::native == std::endian::little, "the version block is little-endian");

struct FileVersionBlock
{
    char marker[16];
    uint16_t major;
    uint16_t minor;
    uint16_t build;
    uint16_t revision;
    uint32_t check;
    uint32_t layout;
};
static_assert(sizeof(FileVersionBlock) == 32);

constexpr uint32_t fileVersionCheck(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision)
{
    return ~(uint32_t{major} | uint32_t{minor} << 16) ^ (uint32_t{build} | uint32_t{revision} << 16);
}

} // namespace platform

// "used" keeps the block although nothing refers to it; the named section keeps it apart from other data.
#define STRELLIS_FILE_VERSION_BLOCK(major, minor, build, revision)                                           \
    extern "C" __attribute__((used, section("strellis_fver"), aligned(8), visibility("hidden")))             \
    const ::platform::FileVersionBlock strellisFileVersionBlock = {                                          \
        {'S', 'T', 'R', 'E', 'L', 'L', 'I', 'S', ':', 'F', 'I', 'L', 'E', 'V', 'E', 'R'},                    \
        (major),                                                                                             \
        (minor),                                                                                             \
        (build),                                                                                             \
        (revision),                                                                                          \
        ::platform::fileVersionCheck((major), (minor), (build), (revision)),                                 \
        1}
