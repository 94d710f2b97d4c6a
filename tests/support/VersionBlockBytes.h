#pragma once

// A file-version block (the one a deliverable embeds, docs/architecture.md "File versions") written byte by
// byte at its documented offsets, independently of the struct the reader uses, so a wrong layout in the
// reader shows up in the tests. Like the reader, it keeps the marker with every byte inverted, so that a
// test program does not carry the marker and find it in its own file.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport
{

// The 32 bytes of a valid block.
inline std::vector<uint8_t> versionBlockBytes(uint16_t major, uint16_t minor, uint16_t build,
                                              uint16_t revision)
{
    static constexpr uint8_t kInvertedMarker[16] = {0xAC, 0xAB, 0xAD, 0xBA, 0xB3, 0xB3, 0xB6, 0xAC,
                                                    0xC5, 0xB9, 0xB6, 0xB3, 0xBA, 0xA9, 0xBA, 0xAD};
    std::vector<uint8_t> bytes(32);
    for (size_t i = 0; i < 16; ++i)
        bytes[i] = static_cast<uint8_t>(~kInvertedMarker[i]);
    const auto put = [&bytes](size_t offset, uint32_t value, int size)
    {
        for (int b = 0; b < size; ++b)
            bytes[offset + b] = static_cast<uint8_t>(value >> (8 * b));
    };
    put(16, major, 2);
    put(18, minor, 2);
    put(20, build, 2);
    put(22, revision, 2);
    put(24, ~(uint32_t{major} | uint32_t{minor} << 16) ^ (uint32_t{build} | uint32_t{revision} << 16), 4);
    put(28, 1, 4); // layout version
    return bytes;
}

// A file as a deliverable is: some code, then the block. False when it cannot be written.
inline bool writeVersionedFile(const std::string& path, uint16_t major, uint16_t minor, uint16_t build,
                               uint16_t revision)
{
    const std::vector<uint8_t> block = versionBlockBytes(major, minor, build, revision);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "code before the block";
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    return static_cast<bool>(out);
}

} // namespace testsupport
