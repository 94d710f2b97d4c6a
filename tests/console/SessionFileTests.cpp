// Session files of the state block: the bytes written, the refusals, the legacy conversion's bounds, the
// extension rules and a write that fails.

#include "ConsoleTestSupport.h"
#include "console/core/ConsoleState.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

using namespace console;
using namespace consoletest;

namespace
{

using Error = ConsoleState::FileError;

// Every fsync of this program passes through the one below: while a test records, the path each
// descriptor names at that moment (a renamed file shows its new name) is noted before the call goes on.
std::mutex syncLock;
std::vector<std::string>* syncLog = nullptr; // guarded by syncLock

} // namespace

extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static const Fsync next = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    {
        std::lock_guard<std::mutex> lock(syncLock);
        if (syncLog != nullptr)
        {
            char path[PATH_MAX];
            const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
            syncLog->push_back(n > 0 ? std::string(path, size_t(n)) : std::string());
        }
    }
    return next(fd);
}

namespace
{

std::vector<uint8_t> fileBytes(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    const auto* p = static_cast<const uint8_t*>(block.getData());
    return std::vector<uint8_t>(p, p + block.getSize());
}

void writeBytes(const juce::File& file, const std::vector<uint8_t>& bytes)
{
    file.replaceWithData(bytes.data(), bytes.size());
}

uint32_t le(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void putLe(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + size_t(k)] = uint8_t(v >> (8 * k));
}

class SessionFileTest : public ::testing::Test
{
protected:
    void plug(const char* model) { plugWith(std::string("--model ") + model); }

    void plugWith(const std::string& arguments)
    {
        ASSERT_EQ(bus.devsim("plug u1 " + arguments), 0) << bus.err;
        device = firstDevice();
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(device->open());
        state = std::make_unique<ConsoleState>(*device);
        ASSERT_EQ(state->readFromDevice(), 0);
    }

    std::vector<uint32_t> image() const
    {
        std::vector<uint32_t> out(ConsoleState::kImageQuads);
        state->copyImage(out.data());
        return out;
    }

    juce::File file(const char* name) const { return juce::File(juce::String(bus.dir)).getChildFile(name); }

    testsupport::TempBus bus;
    device::vhw::Ptr device;
    std::unique_ptr<ConsoleState> state;
};

} // namespace

TEST_F(SessionFileTest, ASavedFileIsTheHeaderThenTheImageAsItLiesInMemory)
{
    plug("st8");
    state->setInputGangs(0x11);
    state->setPlaybackGangs(0x22);
    state->setOutputGangs(0x33);
    state->setHeaderWord(0x44);
    state->setWord(ConsoleState::kCrcWord, 0xDEADBEEF); // written as it is, not recomputed
    state->setOutputGain(3, -6.0f);
    state->setInputAlias(0, "Vocal");
    const juce::File target = file("Studio A.Strellis 8 session");
    ASSERT_EQ(state->writeSessionFile(target), Error::none);

    const std::vector<uint8_t> bytes = fileBytes(target);
    ASSERT_EQ(bytes.size(), 13456u);
    const uint8_t start[8] = {'o', 'm', 'a', 'K', 0x90, 0x34, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(bytes.data(), start, 8), 0);
    EXPECT_EQ(le(bytes, 8), 0x3B71u);
    EXPECT_EQ(le(bytes, 12), 0x5E8u);
    EXPECT_EQ(le(bytes, 16), device->getHwVersion());
    EXPECT_EQ(le(bytes, 28), 0x11u);
    EXPECT_EQ(le(bytes, 32), 0x22u);
    EXPECT_EQ(le(bytes, 36), 0x33u);
    EXPECT_EQ(le(bytes, 40), 0x44u);
    for (size_t at : {20u, 24u, 44u, 48u, 52u, 56u, 60u})
        EXPECT_EQ(le(bytes, at), 0u) << at;
    const std::vector<uint32_t> memory = image();
    EXPECT_EQ(std::memcmp(bytes.data() + 64, memory.data(), ConsoleState::kImageBytes), 0);
    EXPECT_EQ(le(bytes, 64 + 4), 0xDEADBEEFu);
    EXPECT_EQ(std::memcmp(bytes.data() + 64 + ConsoleState::kInputRecords + 2, "Vocal", 6), 0);
}

TEST_F(SessionFileTest, EveryRefusalHasItsTextAndChangesNothing)
{
    plug("st8");
    ASSERT_EQ(state->writeSessionFile(file("good.s")), Error::none);
    const std::vector<uint8_t> good = fileBytes(file("good.s"));
    state->setInputGangs(0x5);
    state->setHeaderWord(9);
    state->setOutputGain(0, -20.0f);
    const std::vector<uint32_t> before = image();

    auto variant = [&](size_t at, uint32_t value)
    {
        std::vector<uint8_t> b = good;
        putLe(b, at, value);
        return b;
    };
    const size_t version = 64 + 8;
    struct Case
    {
        const char* what;
        std::vector<uint8_t> bytes;
        Error error;
    };
    std::vector<uint8_t> shortFile(good.begin(), good.end() - 1);
    std::vector<uint8_t> bothWrong = variant(64, 3347);
    putLe(bothWrong, version, 600);
    const std::vector<Case> cases = {
        {"a byte short", shortFile, Error::cannotOpen},
        {"another magic", variant(0, 0x4B616D6E), Error::headerInvalid},
        {"another vendor", variant(8, 0x2D64), Error::headerInvalid},
        {"another model", variant(12, 0x5E4), Error::headerInvalid},
        {"another hardware version", variant(16, device->getHwVersion() + 1), Error::headerInvalid},
        {"another size word", variant(4, 13392), Error::headerInvalid},
        {"an image of another size", variant(64, 3347), Error::dataInvalid},
        {"version 513", variant(version, 513), Error::versionWrong},
        {"both faults", bothWrong, Error::versionWrong},
    };
    for (const Case& c : cases)
    {
        writeBytes(file("bad.s"), c.bytes);
        EXPECT_EQ(state->readSessionFile(file("bad.s")), c.error) << c.what;
        EXPECT_EQ(image(), before) << c.what;
        EXPECT_EQ(state->getInputGangs(), 0x5) << c.what;
        EXPECT_EQ(state->getHeaderWord(), 9) << c.what;
    }
    EXPECT_EQ(state->readSessionFile(file("missing.s")), Error::cannotOpen);

    std::vector<uint8_t> legacy(8192, 0);
    putLe(legacy, 0, 2048);
    putLe(legacy, 36, 256);
    std::vector<uint8_t> legacyShort(legacy.begin(), legacy.end() - 1);
    std::vector<uint8_t> legacyBoth = legacy;
    putLe(legacyBoth, 0, 2047);
    putLe(legacyBoth, 36, 255);
    std::vector<uint8_t> legacyData = legacy;
    putLe(legacyData, 0, 2047);
    const std::vector<Case> legacyCases = {{"a legacy byte short", legacyShort, Error::cannotOpen},
                                           {"another quadlet count", legacyData, Error::dataInvalid},
                                           {"both legacy faults", legacyBoth, Error::versionWrong}};
    for (const Case& c : legacyCases)
    {
        writeBytes(file("bad.ST8session"), c.bytes);
        EXPECT_EQ(state->readLegacySessionFile(file("bad.ST8session")), c.error) << c.what;
        EXPECT_EQ(image(), before) << c.what;
        EXPECT_EQ(state->getInputGangs(), 0x5) << c.what;
    }

    // Version 0 is accepted.
    writeBytes(file("v0.s"), variant(version, 0));
    EXPECT_EQ(state->readSessionFile(file("v0.s")), Error::none);
    EXPECT_EQ(state->getHeaderWord(), 0);

    EXPECT_STREQ(ConsoleState::getErrorText(Error::cannotOpen), "Unable to open the file.");
    EXPECT_STREQ(ConsoleState::getErrorText(Error::headerTooSmall), "The file header is too small.");
    EXPECT_STREQ(ConsoleState::getErrorText(Error::wrongSize), "The file is the wrong size.");
    EXPECT_STREQ(ConsoleState::getErrorText(Error::headerInvalid), "The file header is invalid.");
    EXPECT_STREQ(ConsoleState::getErrorText(Error::dataInvalid), "The data is invalid.");
    EXPECT_STREQ(ConsoleState::getErrorText(Error::versionWrong), "The session version is wrong.");
    EXPECT_STREQ(ConsoleState::getErrorText(Error::cannotWrite), "Unable to write the file.");
}

TEST_F(SessionFileTest, TheLegacyConverterReadsNoMoreThanTheFileHasRoomForAndTerminatesNames)
{
    // 26 inputs and 26 outputs: more than the format's 24 of each, and more gang flags than its 12.
    const testsupport::CapsBytes::Groups groups = {{0, 8}, {2, 8}, {2, 8}, {0, 2}};
    const std::string caps = bus.dir + "/caps26.bin";
    ASSERT_TRUE(testsupport::CapsBytes::withGroups(groups, groups)
                    .word(12, 0x5E12)
                    .modelName("Test 26")
                    .clockMask(3)
                    .channels(26, 26)
                    .word(96, 26)
                    .word(100, 26)
                    .rates(44100, 96000)
                    .writeTo(caps));
    plugWith("--caps " + caps);
    const std::vector<uint32_t> before = image();
    state->setInputGangs(0);
    state->setPlaybackGangs(0);
    state->setOutputGangs(0);
    std::vector<uint8_t> legacy(8192, 0xA5);
    putLe(legacy, 0, 2048);
    putLe(legacy, 36, 256);
    ASSERT_EQ(state->readLegacySessionFile(file("x.ST12session")), Error::cannotOpen);
    writeBytes(file("x.ST12session"), legacy);
    ASSERT_EQ(state->readLegacySessionFile(file("x.ST12session")), Error::none);

    const std::vector<uint32_t> after = image();
    auto byteOf = [](const std::vector<uint32_t>& img, int at)
    { return reinterpret_cast<const uint8_t*>(img.data())[at]; };
    const int record23 = ConsoleState::kInputRecords + 23 * ConsoleState::kRecordBytes;
    const int record24 = record23 + ConsoleState::kRecordBytes;
    EXPECT_EQ(byteOf(after, record23 + 5), 0xA5);
    EXPECT_EQ(byteOf(after, record23 + 23), 0);
    for (int k = 0; k < ConsoleState::kRecordBytes; ++k)
        EXPECT_EQ(byteOf(after, record24 + k), byteOf(before, record24 + k));
    EXPECT_EQ(after[size_t(ConsoleState::kMonitorGainWords + 23 * 40 + 22)], 0xA5A5A5A5u);
    EXPECT_EQ(after[size_t(ConsoleState::kMonitorGainWords + 24 * 40)],
              before[size_t(ConsoleState::kMonitorGainWords + 24 * 40)]);
    EXPECT_EQ(state->getInputGangs(), 0xFFF);
    EXPECT_EQ(after[size_t(ConsoleState::kOutputGainWords + 23)], 0xA5A5A5A5u);
    EXPECT_EQ(after[size_t(ConsoleState::kOutputGainWords + 24)],
              before[size_t(ConsoleState::kOutputGainWords + 24)]);
    EXPECT_EQ(state->getOutputAlias(23), juce::String::repeatedString(juce::String::charToString(0xA5), 21));
    EXPECT_EQ(state->getPlaybackAlias(23).length(), 21);
    // Flags of channels 0 to 11 are read (pairs 0 to 5); later bytes belong to other fields.
    EXPECT_EQ(state->getPlaybackGangs(), 0x3F);
    EXPECT_EQ(state->getOutputGangs(), 0x3F);
}

TEST(SessionFileNames, LegacyExtensionsAndWildcardsFollowTheModel)
{
    EXPECT_EQ(ConsoleState::getLegacyExtension(0x5E8), ".ST8session");
    EXPECT_EQ(ConsoleState::getLegacyExtension(0x5E12), ".ST12session");
    EXPECT_EQ(ConsoleState::getLegacyExtension(0x5E4), "");
    EXPECT_TRUE(ConsoleState::isLegacyFile(0x5E8, juce::File("/s/Old.ST8session")));
    EXPECT_TRUE(ConsoleState::isLegacyFile(0x5E8, juce::File("/s/Old.st8SESSION")));
    EXPECT_FALSE(ConsoleState::isLegacyFile(0x5E8, juce::File("/s/Old.ST12session")));
    EXPECT_FALSE(ConsoleState::isLegacyFile(0x5E8, juce::File("/s/ST8session")));
    EXPECT_FALSE(ConsoleState::isLegacyFile(0x5E4, juce::File("/s/Old.ST8session")));
    EXPECT_EQ(ConsoleState::getLoadWildcard(0x5E8, "*.X8 session"), "*.X8 session;*.ST8session");
    EXPECT_EQ(ConsoleState::getLoadWildcard(0x5E4, "*.X4 session"), "*.X4 session");
}

TEST_F(SessionFileTest, AWriteThatFailsLeavesTheOldFileWholeAndNothingBesideIt)
{
    plug("st8");
    const juce::File target = file("Kept.Strellis 8 session");
    ASSERT_TRUE(target.replaceWithText("the old session"));
    state->setOutputGain(0, -3.0f);

    // Files may grow to 4000 bytes: the new session (13456) cannot be written whole.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Error error = state->writeSessionFile(target);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, Error::cannotWrite);
    EXPECT_EQ(target.loadFileAsString(), "the old session");
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(bus.dir))
        files += entry.path().filename().string().find("Kept") != std::string::npos ? 1 : 0;
    EXPECT_EQ(files, 1);

    // Without the limit the same save replaces it.
    ASSERT_EQ(state->writeSessionFile(target), Error::none);
    EXPECT_EQ(target.getSize(), 13456);
}

TEST_F(SessionFileTest, ASaveIsOnTheDiskBeforeItTakesTheTargetsNameAndItsRenameAfter)
{
    plug("st8");
    const juce::File target = file("Synced.Strellis 8 session");
    ASSERT_TRUE(target.replaceWithText("the old session"));
    std::vector<std::string> synced;
    {
        std::lock_guard<std::mutex> lock(syncLock);
        syncLog = &synced;
    }
    const Error error = state->writeSessionFile(target);
    {
        std::lock_guard<std::mutex> lock(syncLock);
        syncLog = nullptr;
    }
    ASSERT_EQ(error, Error::none);
    EXPECT_EQ(target.getSize(), 13456);
    // First the new file under a name of its own beside the target (not yet renamed), then the folder.
    const std::filesystem::path folder = std::filesystem::canonical(bus.dir);
    ASSERT_EQ(synced.size(), 2u);
    EXPECT_EQ(std::filesystem::path(synced[0]).parent_path(), folder);
    EXPECT_NE(std::filesystem::path(synced[0]).filename(), "Synced.Strellis 8 session");
    EXPECT_FALSE(std::filesystem::exists(synced[0]));
    EXPECT_EQ(std::filesystem::path(synced[1]), folder);
}
