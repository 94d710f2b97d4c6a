// The devsim command line: its answers, its errors and what its commands leave on the bus.

#include "SimClient.h"

#include "Models.h"
#include "TempRegistry.h"
#include "sim/Devsim.h"

#include <sstream>

using namespace simtest;

namespace
{

bool oneLine(const std::string& text)
{
    return !text.empty() && text.find('\n') == text.size() - 1 && text.compare(0, 8, "devsim: ") == 0;
}

} // namespace

TEST(SimCli, HelpListsEveryCommandAndKnob)
{
    Bus bus;
    ASSERT_EQ(bus.devsim("--help"), 0);
    for (const char* word :
         {"plug", "unplug", "list", "dump", "fault", "set", "reset", "meter.in.", "meter.out.", "clocks",
          "midi", "counters", "flash.busy", "driver-version", "session-base", "session-chunk",
          "vdc:<cat>/<cmd>", "status:<n>", "--blank-flash"})
        EXPECT_NE(bus.out.find(word), std::string::npos) << word;
    EXPECT_EQ(bus.devsim(""), 2);
}

TEST(SimCli, MistakesGetOneLineAndANonzeroStatus)
{
    Bus bus;
    bus.run("plug u1 --model st8");
    const char* const mistakes[] = {
        "frobnicate",
        "plug",
        "plug bad/name --model st8",
        "plug u2",
        "plug u2 --model nothing",
        "plug u2 --model st8 --caps /dev/null",
        "plug u2 --model st8 --no-caps",
        "plug u2 --caps /nonexistent",
        "plug u1 --model st8",
        "plug u2 --model st8 --unique-name",
        "unplug nobody",
        "unplug u1 --codes 9",
        "dump nobody",
        "set u1 volume 3",
        "set u1 meter.in.64 1",
        "set u1 clocks x",
        "set u1 counters 1 2",
        "set u1 session-chunk 65",
        "set u1 session-base 0x1FFFF0",
        "set u1 buffer-size 100",
        "fault u1 vdc:3 timeout",
        "fault u1 dc:3 timeout",
        "fault u1 vdc:any status:1",
        "fault u1 ver vdr:3",
        "fault u1 open fail 0",
        "fault u1 vdc:any explode",
        "fault nobody vdc:any fail",
    };
    for (const char* m : mistakes)
    {
        EXPECT_NE(bus.devsim(m), 0) << m;
        EXPECT_TRUE(oneLine(bus.err)) << m << ": " << bus.err;
        EXPECT_EQ(bus.out, "") << m;
    }
}

TEST(SimCli, UnknownOptionsAndExtraWordsAreRefusedWithStatusTwoAndChangeNothing)
{
    Bus bus;
    bus.run("plug u1 --model st8");
    ASSERT_EQ(bus.devsim("list"), 0);
    const std::string before = bus.out;
    const std::pair<const char*, const char*> mistakes[] = {
        {"plug u2 --model st8 --firmwre 4.0", "--firmwre"},
        {"reset extra", "extra"},
        {"list everything", "everything"},
        {"unplug u1 now", "now"},
        {"unplug u1 --force", "--force"},
        {"dump u1 u2", "u2"},
        {"mkfirmware st8 /tmp --quad 3", "--quad"},
        {"models all", "all"},
    };
    for (const auto& [m, word] : mistakes)
    {
        EXPECT_EQ(bus.devsim(m), 2) << m;
        EXPECT_TRUE(oneLine(bus.err)) << m << ": " << bus.err;
        EXPECT_NE(bus.err.find(word), std::string::npos) << m << ": " << bus.err;
        EXPECT_EQ(bus.out, "") << m;
    }
    ASSERT_EQ(bus.devsim("list"), 0);
    EXPECT_EQ(bus.out, before);
}

TEST(SimCli, EveryCommandRefusesAWrongLineWithStatusTwoAndOneLineNamingTheWord)
{
    Bus bus;
    testsupport::TempRegistry registry;
    bus.run("plug u1 --model st8");
    ASSERT_EQ(bus.devsim("list"), 0);
    const std::string before = bus.out;
    // Whole words, blanks included, as a shell hands them over.
    const std::pair<std::vector<std::string>, const char*> mistakes[] = {
        {{"help", "extra"}, "extra"},
        {{"fault", "u1", "clear", "extra"}, "extra"},
        {{"volume", "u1", "0", "-3", "extra"}, "extra"},
        {{"os", "extra"}, "extra"},
        {{"os", "windows", "me"}, "me"},
        {{"controllers", "--fail", "x"}, "x"},
        {{"set", "u1", "clocks", " 1"}, " 1"},
        {{"set", "u1", "clocks", "0x 1"}, "0x 1"},
        {{"set", "u1", "endpoints", "on", "x"}, "x"},
        {{"stats", "u1", "play.avg=+5"}, "+5"},
        {{"os", "qpf", "+5"}, "+5"},
        {{"plug", "u2", "--model", "st8", "--model", "st4"}, "--model"},
        {{"fault", "u1", "vdc:any", "fail", "--after", "1", "--after", "2"}, "--after"},
        {{"reg"}, "reg"},
        {{"reg", "query", "HKCU\\Software", "a", "b"}, "b"},
        {{"reg", "set", "HKCU\\Software\\X", "v", "dword", " 5"}, " 5"},
    };
    for (const auto& [words, word] : mistakes)
    {
        std::string out;
        std::string err;
        const std::string line = ::testing::PrintToString(words);
        EXPECT_EQ(sim::devsimMain(words, out, err), 2) << line;
        EXPECT_TRUE(oneLine(err)) << line << ": " << err;
        EXPECT_NE(err.find(word), std::string::npos) << line << ": " << err;
        EXPECT_EQ(out, "") << line;
    }
    ASSERT_EQ(bus.devsim("list"), 0);
    EXPECT_EQ(bus.out, before);
    EXPECT_EQ(bus.devsim("os"), 0);
    EXPECT_NE(bus.out.find("qpf 1000000000\n"), std::string::npos) << bus.out;
    // What the registry refuses is status 1, in the same one line.
    EXPECT_EQ(bus.devsim("reg query HKCU\\Software\\X"), 1);
    EXPECT_TRUE(oneLine(bus.err)) << bus.err;
}

TEST(SimCli, ACapsFileLongerThanARecordIsRefused)
{
    Bus bus;
    const std::string file = bus.dir + "/big.caps";
    std::ofstream(file, std::ios::binary) << std::string(261, 'x');
    EXPECT_EQ(bus.devsim("plug u1 --caps " + file), 1);
    EXPECT_NE(bus.err.find("261"), std::string::npos) << bus.err;
}

TEST(SimCli, ListShowsEveryUnitWithItsStateAndPath)
{
    Bus bus;
    bus.run("plug desk --model st12");
    bus.run("plug spare --model foreign");
    bus.run("unplug spare");
    bus.run("plug bare --no-caps");
    ASSERT_EQ(bus.devsim("list"), 0);
    EXPECT_EQ(bus.out, "desk plugged " + pathOf("desk") + " st12\nspare unplugged " + pathOf("spare") +
                           " foreign\nbare plugged " + pathOf("bare") + " none\n");
}

TEST(SimCli, DumpShowsTheRecordTheMixerAndTheDriver)
{
    OneUnit bus("--model st8 --unique-name Desk");
    ASSERT_EQ(vdc(bus.handle, 4, 0, {2, 8388608}, 36).vdr(), 0u);
    bus.run("fault u1 dc:9 status:1 3");
    ASSERT_EQ(bus.devsim("dump u1"), 0);
    for (const char* expected :
         {"unit u1 plugged\n", "record st8, 260 bytes\n", "vendor 0x003b71 model 0x05e8",
          "unique_name \"Desk\" (5 bytes)\n", "channels 10 in, 12 out, 12 playback\n",
          "driver version 0x04080000 flags 0x00000000 buffer 256", "fault dc:9 status:1 3\n",
          "out 2 gain 8388608 (-6.02 dB) mute 0 nominal 0\n",
          "mon 3 2 gain 16777216 (0.00 dB) mute 0 solo 0 pan 255\n", "isoc 0 0 3 0 0 2 4 0"})
        EXPECT_NE(bus.out.find(expected), std::string::npos) << expected << "\n" << bus.out;
}

TEST(SimCli, VolumeAndMuteMoveTheEndpointThatCarriesAPlaybackChannel)
{
    Bus bus;
    bus.run("plug u1 --model st4");
    bus.run("volume u1 3 -12");
    bus.run("volume u1 0 -200"); // held within the endpoint's range
    bus.run("mute u1 2 1");      // the whole stereo endpoint
    ASSERT_EQ(bus.devsim("dump u1"), 0);
    for (const char* expected :
         {"play 0 gain 266 (-96.00 dB) mute 0", "play 2 gain 16777216 (0.00 dB) mute 1", "(-12.00 dB) mute 1",
          "play 4 gain 16777216 (0.00 dB) mute 0", "endpoints on, stereo, 8 channels: 0+2 2+2 4+2 6+2\n"})
        EXPECT_NE(bus.out.find(expected), std::string::npos) << expected << "\n" << bus.out;
    bus.run("set u1 endpoints off");
    EXPECT_EQ(bus.devsim("volume u1 0 -6"), 1);
    for (const char* mistake :
         {"mute u1 0 2", "volume u1 x -6", "volume u1 0 loud", "set u1 endpoints maybe"})
        EXPECT_EQ(bus.devsim(mistake), 2) << mistake;
}

TEST(SimCli, ResetPullsEveryUnitAndEmptiesTheBus)
{
    Bus bus;
    bus.run("plug a --model st2");
    bus.run("plug b --model st4");
    const uint64_t before = sim::kernel::interfaceEventSequence();
    bus.run("reset");
    EXPECT_TRUE(sim::kernel::interfacePaths(kClass).empty());
    uint64_t next = 0;
    EXPECT_EQ(sim::kernel::interfaceEventsSince(kClass, before, &next).size(), 2u);
    ASSERT_EQ(bus.devsim("list"), 0);
    EXPECT_EQ(bus.out, "");
    EXPECT_FALSE(std::filesystem::exists(bus.dir + "/a.flash"));
    bus.run("plug a --model st2");
    const intptr_t h = sim::kernel::open(pathOf("a"));
    EXPECT_NE(h, -1);
    sim::kernel::close(h);
}

TEST(SimCli, FirmwareFilesMatchTheFlashOfAUnitOfTheirVersion)
{
    OneUnit bus("--model m1200f");
    ASSERT_EQ(bus.devsim("mkfirmware m1200f " + bus.dir), 0) << bus.err;
    EXPECT_EQ(std::count(bus.out.begin(), bus.out.end(), '\n'), 5);
    std::ifstream file(bus.dir + "/morvayfpga.dat");
    int magic[5];
    for (int& m : magic)
        file >> m;
    EXPECT_EQ(magic[0], 1651);
    EXPECT_EQ(magic[1] + magic[2] + magic[3] + magic[4], 1);
    std::vector<uint32_t> quads;
    for (std::string token; file >> token;)
        quads.push_back(uint32_t(std::stoul(token, nullptr, 16)));
    ASSERT_EQ(quads.size(), 64u + quads[2]);
    EXPECT_EQ(quads[0], 3u) << "FPGA image";
    EXPECT_EQ(quads[6], 1u);
    const VdcReply r = vdc(bus.handle, 1, 1, {quads[1], 64}, 308);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(r.p(2 + i), quads[64 + size_t(i)]) << i;
}

TEST(SimCli, ModelsListsEveryPresetOfTheFirmwareTableAndAForeignOne)
{
    Bus bus;
    ASSERT_EQ(bus.devsim("models"), 0);
    for (const char* id : {"model 0x05e2", "model 0x05e4", "model 0x05e8", "model 0x5e12", "model 0x03d8",
                           "model 0x5ed1", "model 0x7e01", "model 0x7e02", "vendor 0xa1b2"})
        EXPECT_NE(bus.out.find(id), std::string::npos) << id;
}

TEST(SimCli, VersionsAreReadLikeTheConsoleWritesThem)
{
    uint32_t v = 0;
    EXPECT_TRUE(sim::parseVersion("4.8", &v));
    EXPECT_EQ(v, 0x04080000u);
    EXPECT_TRUE(sim::parseVersion("4.8.1.14", &v));
    EXPECT_EQ(v, 0x0408010Eu);
    EXPECT_TRUE(sim::parseVersion("0x04070000", &v));
    EXPECT_EQ(v, 0x04070000u);
    EXPECT_FALSE(sim::parseVersion("4", &v));
    EXPECT_FALSE(sim::parseVersion("4.256", &v));
    EXPECT_EQ(sim::versionText(0x0408000E), "4.8.14");
}
