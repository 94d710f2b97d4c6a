#include "platform/FileVersion.h"

#include "platform/VersionBlock.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform
{
namespace
{

// The marker is kept here with every byte inverted, so that a program that reads versions does not
// carry the marker itself and find it in its own file.
constexpr unsigned char kInvertedMarker[16] = {0xAC, 0xAB, 0xAD, 0xBA, 0xB3, 0xB3, 0xB6, 0xAC,
                                               0xC5, 0xB9, 0xB6, 0xB3, 0xBA, 0xA9, 0xBA, 0xAD};

bool blockAt(const unsigned char* p, const unsigned char* marker, FileVersion& out)
{
    if (std::memcmp(p, marker, 16) != 0)
        return false;
    FileVersionBlock block;
    std::memcpy(&block, p, sizeof block);
    if (block.layout != 1 ||
        block.check != fileVersionCheck(block.major, block.minor, block.build, block.revision))
        return false;
    out = FileVersion{block.major, block.minor, block.build, block.revision};
    return true;
}

} // namespace

bool readFileVersion(const std::string& path, FileVersion& out)
{
    unsigned char marker[16];
    for (size_t i = 0; i < sizeof marker; ++i)
        marker[i] = static_cast<unsigned char>(~kInvertedMarker[i]);

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;

    // Read in chunks; the last block-size - 1 bytes of a chunk are carried over so that a block spanning
    // two reads is still found.
    constexpr size_t kChunk = 1 << 16;
    constexpr size_t kKeep = sizeof(FileVersionBlock) - 1;
    static_assert(kChunk > kKeep);
    unsigned char buffer[kChunk + kKeep];
    size_t have = 0;
    bool found = false;
    for (;;)
    {
        const ssize_t n = ::read(fd, buffer + have, kChunk);
        if (n < 0)
            break;
        have += static_cast<size_t>(n);
        for (size_t i = 0; !found && i + sizeof(FileVersionBlock) <= have; ++i)
            if (buffer[i] == marker[0])
                found = blockAt(buffer + i, marker, out);
        if (found || n == 0)
            break;
        const size_t keep = have < kKeep ? have : kKeep;
        std::memmove(buffer, buffer + have - keep, keep);
        have = keep;
    }
    ::close(fd);
    return found;
}

} // namespace platform
