// The driver object's channels: what init finds, the channel tables of one interface and of two, and
// the names the host is given.

#include "DriverTestSupport.h"

#include "formats/Text.h"

#include <cstring>
#include <iterator>
#include <set>

using namespace asiodrv;
using asiotest::typicalCaps;

namespace
{

class DriverChannels : public asiotest::DriverTest
{
};

} // namespace

TEST_F(DriverChannels, InitFindsNoHardwareWithoutAnInterfaceOfTheVendorAndMayBeRepeated)
{
    IASIO* driver = loadDriver();
    ASSERT_NE(driver, nullptr);
    char message[124];
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    driver->getErrorMessage(message);
    EXPECT_STREQ(message, "No Strellis hardware found");

    plug("foreign", typicalCaps().vendor(0x1234));
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    driver->getErrorMessage(message);
    EXPECT_STREQ(message, "No Strellis hardware found");

    plug("u1", typicalCaps());
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    driver->getErrorMessage(message);
    EXPECT_STREQ(message, "ASIO driver open failure");
    int32_t inputs = 0, outputs = 0;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 16) << "the foreign interface contributes nothing";
    EXPECT_EQ(outputs, 12);
    EXPECT_EQ(channelName(driver, true, 0), "Analog in 1") << "nor does it put unit names in front";
}

TEST_F(DriverChannels, OneInterfaceShowsItsChannelsByGroupName)
{
    plug("u1", typicalCaps(), "Studio");
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    char name[32];
    driver->getDriverName(name);
    EXPECT_STREQ(name, "ASIO Varnel 1394");
    EXPECT_EQ(driver->getDriverVersion(), 1);

    EXPECT_EQ(channelName(driver, true, 0), "Analog in 1");
    EXPECT_EQ(channelName(driver, true, 7), "Analog in 8");
    EXPECT_EQ(channelName(driver, true, 8), "ADAT A in 1");
    EXPECT_EQ(channelName(driver, true, 15), "ADAT A in 8");
    EXPECT_EQ(channelName(driver, false, 0), "Analog out 1");
    EXPECT_EQ(channelName(driver, false, 8), "S/PDIF out 1");
    EXPECT_EQ(channelName(driver, false, 11), "Headphones out 2");
    EXPECT_EQ(channelName(driver, true, 16), "<invalid>");
    EXPECT_EQ(channelName(driver, false, -1), "<invalid>");

    ASIOChannelInfo info{};
    info.channel = 3;
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_EQ(info.channelGroup, 0);
    EXPECT_EQ(info.type, ASIOSTInt32LSB);
}

TEST_F(DriverChannels, TwoInterfacesAddUpNewestFirstWithTheirNamesInFront)
{
    plug("u1", typicalCaps(), "First");
    plug("u2", typicalCaps().channels(4, 2).outputGroups({{0, 4}}).inputGroups({{1, 2}}), "Second");
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    int32_t inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 18);
    EXPECT_EQ(outputs, 16);
    // The interface plugged last is listed first; the other one's channels follow its own.
    EXPECT_EQ(channelName(driver, false, 0), "Second Analog out 1");
    EXPECT_EQ(channelName(driver, false, 4), "First Analog out 1");
    EXPECT_EQ(channelName(driver, true, 1), "Second S/PDIF in 2");
    EXPECT_EQ(channelName(driver, true, 2), "First Analog in 1");
}

TEST_F(DriverChannels, OutputRoutingNamesOutputsByPlaybackNumberAndUnmappedChannelsByNumber)
{
    // Flag bit 7: output routing. Ten playback channels and six inputs, with fewer mapped channels.
    plug("u1", typicalCaps().word(0, 0x80).channels(10, 6).inputGroups({{0, 4}}));
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(channelName(driver, false, 0), "Playback 1");
    EXPECT_EQ(channelName(driver, false, 9), "Playback 10");
    EXPECT_EQ(channelName(driver, true, 3), "Analog in 4");
    EXPECT_EQ(channelName(driver, true, 4), "Input 5");
}

TEST_F(DriverChannels, AnInterfaceContributesAtMostSixtyFourChannelsEachWay)
{
    plug("u1", typicalCaps().channels(100, 70));
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    int32_t inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 64);
    EXPECT_EQ(outputs, 64);
    EXPECT_EQ(channelName(driver, false, 63), "Output 64");
}

TEST_F(DriverChannels, AdatGroupsAreLetteredFromTheFirstAdatGroupOfTheirDirection)
{
    plug("u1", typicalCaps()
                   .channels(20, 8)
                   .outputGroups({{0, 2}, {1, 2}, {2, 8}, {2, 8}})
                   .inputGroups({{6, 2}, {2, 2}, {7, 4}}));
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(channelName(driver, false, 4), "ADAT A out 1");
    EXPECT_EQ(channelName(driver, false, 12), "ADAT B out 1");
    EXPECT_EQ(channelName(driver, false, 19), "ADAT B out 8");
    EXPECT_EQ(channelName(driver, true, 0), "I2S in 1");
    EXPECT_EQ(channelName(driver, true, 2), "ADAT A in 1");
    EXPECT_EQ(channelName(driver, true, 4), "Input in 1");
}

TEST_F(DriverChannels, ChannelNamesAndMessagesStayWithinTheSizesHostsGive)
{
    const std::string longName(40, 'N');
    plug("u1", typicalCaps(), longName);
    plug("u2", typicalCaps(), "Other");
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    struct
    {
        ASIOChannelInfo info;
        char guard[32];
    } record;
    std::memset(&record, 0x7E, sizeof record);
    record.info.channel = 12; // the first channel of u1, listed second
    record.info.isInput = ASIOFalse;
    ASSERT_EQ(driver->getChannelInfo(&record.info), ASE_OK);
    EXPECT_EQ(std::string(record.info.name), longName.substr(0, 18) + " Analog out 1");
    for (char c : record.guard)
        ASSERT_EQ(c, 0x7E);
}

TEST_F(DriverChannels, UnitNamesOfAnyBytesGiveValidNamesAndAUnitsChannelsStayApart)
{
    const auto studio = [](int umlauts) // "Studiox " and that many "ä"
    {
        std::string name = "Studiox ";
        for (int i = 0; i < umlauts; ++i)
            name += "\xC3\xA4";
        return name;
    };
    const std::string names[] = {"\xC0\x80",     "a\xC0\xAF",    "\xFF-\xFE",
                                 "\xED\xA0\x80", "Cut \xE2\x82", studio(12)};
    for (size_t i = 0; i < std::size(names); ++i)
        plug(std::string("u") + std::to_string(i), typicalCaps(), names[i]);
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    int32_t inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    std::set<std::string> seen;
    for (const bool isInput : {true, false})
        for (int32_t c = 0; c < (isInput ? inputs : outputs); ++c)
        {
            const std::string name = channelName(driver, isInput, c);
            EXPECT_EQ(formats::textFromBytes(name.data(), name.size()), name) << "valid UTF-8: " << name;
            EXPECT_TRUE(seen.insert(name).second) << "twice: " << name;
        }
    const std::string bad = "\xEF\xBF\xBD"; // U+FFFD
    const std::string expected[] = {bad + bad + " Analog in 1", "a" + bad + bad + " Analog in 1",
                                    bad + "-" + bad + " ADAT A in 8", bad + bad + bad + " S/PDIF out 2",
                                    "Cut " + bad + " Headphones out 1",
                                    // Too long for 31 bytes: the unit's name gives way, between characters.
                                    studio(5) + " Analog in 1", studio(3) + " Headphones out 2"};
    for (const std::string& name : expected)
        EXPECT_EQ(seen.count(name), 1u) << name;
}

TEST_F(DriverChannels, TheHostToolDescribesTheDriver)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    const std::string text = asiohost::describeDriver(*driver);
    EXPECT_NE(text.find("channels: 16 inputs, 12 outputs\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  input 8: ADAT A in 1 (group 0, type 18)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("supported rates: 44100 48000 88200 96000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  2: ADAT A"), std::string::npos) << text;
}
