#include "platform/FileVersion.h"

#include "VersionBlockBytes.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using testsupport::versionBlockBytes;

// A temporary file of the given bytes.
class TempFile
{
public:
    explicit TempFile(const std::vector<uint8_t>& bytes)
    {
        static int serial = 0;
        path = (std::filesystem::temp_directory_path() /
                ("strellis-fver-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
                   .string();
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

std::vector<uint8_t> fileWithBlockAt(size_t offset, size_t total, const std::vector<uint8_t>& block)
{
    std::vector<uint8_t> bytes(total, 0x5A);
    std::copy(block.begin(), block.end(), bytes.begin() + static_cast<long>(offset));
    return bytes;
}

} // namespace

TEST(FileVersion, TheDriverLibraryCarriesVersionFourEight)
{
    platform::FileVersion v;
    ASSERT_TRUE(platform::readFileVersion(ASIO_DRIVER_PATH, v));
    EXPECT_EQ(v.major, 4);
    EXPECT_EQ(v.minor, 8);
    EXPECT_EQ(v.build, 0);
    EXPECT_EQ(v.revision, 0);
}

TEST(FileVersion, AProgramThatReadsVersionsDoesNotFindTheMarkerInItself)
{
    platform::FileVersion v{9, 9, 9, 9};
    EXPECT_FALSE(platform::readFileVersion("/proc/self/exe", v));
    EXPECT_EQ(v.major, 9) << "a file without a block leaves the version untouched";
}

TEST(FileVersion, ABlockIsFoundAcrossTheReadersChunkBoundary)
{
    for (size_t offset :
         {size_t{0}, size_t{65536 - 17}, size_t{65536 - 32}, size_t{65536}, size_t{200000 - 32}})
    {
        TempFile f(fileWithBlockAt(offset, 200000, versionBlockBytes(1, 2, 3, 4)));
        platform::FileVersion v;
        ASSERT_TRUE(platform::readFileVersion(f.path, v)) << "offset " << offset;
        EXPECT_EQ(v.major, 1);
        EXPECT_EQ(v.minor, 2);
        EXPECT_EQ(v.build, 3);
        EXPECT_EQ(v.revision, 4);
    }
}

TEST(FileVersion, AMarkerWithoutAValidCheckOrAMissingFileIsNoVersion)
{
    std::vector<uint8_t> bad = versionBlockBytes(4, 8, 0, 0);
    bad[24] ^= 1;
    TempFile withBadCheck(fileWithBlockAt(100, 1000, bad));
    platform::FileVersion v;
    EXPECT_FALSE(platform::readFileVersion(withBadCheck.path, v));

    // A damaged block earlier in the file does not hide a good one later.
    std::vector<uint8_t> both = fileWithBlockAt(100, 1000, bad);
    const std::vector<uint8_t> good = versionBlockBytes(2, 1, 0, 0);
    std::copy(good.begin(), good.end(), both.begin() + 500);
    TempFile withBoth(both);
    ASSERT_TRUE(platform::readFileVersion(withBoth.path, v));
    EXPECT_EQ(v.major, 2);

    EXPECT_FALSE(platform::readFileVersion("/nonexistent/strellis/file", v));
}
