// The state block: its accessors and layout, CRC, byte swap, properties keys, and the read of the
// device's session memory against the simulator.

#include "ConsoleTestSupport.h"
#include "console/core/ConsoleState.h"
#include "console/core/SettingsFileCheck.h"
#include "platform/Debug.h"

#include <cstring>
#include <memory>
#include <random>

using namespace console;
using namespace consoletest;

namespace
{

class StateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(bus.devsim("plug u1 --model st8"), 0) << bus.err;
        device = firstDevice();
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(device->open());
        state = std::make_unique<ConsoleState>(*device);
    }

    // The stored session as the flash holds it (memory order).
    std::vector<uint32_t> storedSession()
    {
        uint32_t base = 0;
        EXPECT_EQ(device->getSessionBase(base), 0);
        return readFlash(*device, base, ConsoleState::kImageQuads);
    }

    std::vector<uint32_t> image() const
    {
        std::vector<uint32_t> out(ConsoleState::kImageQuads);
        state->copyImage(out.data());
        return out;
    }

    testsupport::TempBus bus;
    device::vhw::Ptr device;
    std::unique_ptr<ConsoleState> state;
};

bool allZero(const std::vector<uint32_t>& v)
{
    return std::all_of(v.begin(), v.end(), [](uint32_t q) { return q == 0; });
}

} // namespace

TEST(StateHelpers, Crc32IsZlibsCrc)
{
    EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32("6789", 4, crc32("12345", 5)), 0xCBF43926u);
    EXPECT_EQ(crc32("", 0), 0u);
}

TEST(StateHelpers, ByteSwapReversesEachStartedQuadlet)
{
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    byteSwapQuadlets(b, 5);
    const uint8_t expected[8] = {4, 3, 2, 1, 8, 7, 6, 5};
    EXPECT_EQ(std::memcmp(b, expected, 8), 0);
    byteSwapQuadlets(b, 0);
    byteSwapQuadlets(b, -4);
    EXPECT_EQ(std::memcmp(b, expected, 8), 0);
}

TEST_F(StateTest, CrcCoversEverythingButTheSizeAndCrcWords)
{
    const std::vector<uint8_t> zeros(ConsoleState::kImageBytes - 8, 0);
    EXPECT_EQ(state->computeCrc(), crc32(zeros.data(), zeros.size()));
    const uint32_t before = state->computeCrc();
    state->setWord(ConsoleState::kSizeWord, 3348);
    state->setWord(ConsoleState::kCrcWord, 0xDEADBEEF);
    EXPECT_EQ(state->computeCrc(), before);
    state->setByte(ConsoleState::kImageBytes - 1, 1);
    EXPECT_NE(state->computeCrc(), before);

    state->setFlashCrc(state->computeCrc());
    EXPECT_FALSE(state->hasChanged());
    EXPECT_EQ(state->getWord(ConsoleState::kCrcWord), state->getFlashCrc());
    state->setMonitorGain(0, 0, -6.0f);
    EXPECT_TRUE(state->hasChanged());
}

TEST_F(StateTest, UnitAccessorsUseTheImageLayout)
{
    state->setMonitorGain(2, 7, 0.0f);
    EXPECT_EQ(state->getWord(8 + 2 * 40 + 7), 0x01000000u);
    EXPECT_FLOAT_EQ(state->getMonitorGain(2, 7), 0.0f);
    state->setOutputGain(3, -20.0f);
    EXPECT_EQ(state->getWord(6592 / 4 + 3), 1677722u);
    state->setPlaybackGain(39, 0.0f);
    EXPECT_EQ(state->getWord(6432 / 4 + 39), 0x01000000u);
    state->setPlaybackMute(5, 1);
    EXPECT_EQ(state->getByte(11472 + 5 * 24), 1);
    EXPECT_TRUE(state->getPlaybackMute(5));

    // Indices outside the image's 40 entries are ignored.
    state->setOutputGain(40, 0.0f);
    state->setMonitorGain(-1, 0, 0.0f);
    EXPECT_EQ(state->getWord(6592 / 4 + 40), 0u);
    EXPECT_EQ(state->getInputAlias(40), "");
}

TEST_F(StateTest, PanOfAnOutputPairIsStoredForBothChannels)
{
    state->setMonitorPan(3, 5, 1.0f);
    EXPECT_EQ(state->getByte(8272 + 3 * 40 + 4), 255);
    EXPECT_EQ(state->getByte(8272 + 3 * 40 + 5), 255);
    EXPECT_EQ(state->getByte(8272 + 3 * 40 + 6), 0);
    EXPECT_FLOAT_EQ(state->getMonitorPan(3, 4), 1.0f);
    EXPECT_FLOAT_EQ(state->getMonitorPan(3, 5), 1.0f);
    state->setMonitorPan(3, 4, 0.5f);
    EXPECT_EQ(state->getByte(8272 + 3 * 40 + 5), 128);
}

TEST_F(StateTest, NamesAreCutTo21CharactersAndNeverReadPastTheirRecord)
{
    state->setInputAlias(1, "abcdefghijklmnopqrstuvwxyz0123");
    EXPECT_EQ(state->getInputAlias(1), "abcdefghijklmnopqrstu");
    EXPECT_EQ(state->getByte(7312 + 24 + 23), 0);

    // A record whose name fills every byte (as an unterminated session could) gives 22 characters.
    for (int i = 2; i < 24; ++i)
        state->setByte(12432 + 24 * 2 + i, 'x');
    state->setByte(12432 + 24 * 3 + 2, 'y');
    EXPECT_EQ(state->getOutputAlias(2), juce::String::repeatedString("x", 22));
    state->terminateAliases();
    EXPECT_EQ(state->getOutputAlias(2), juce::String::repeatedString("x", 21));

    state->setPlaybackAlias(0, juce::String::fromUTF8("Gr\xc3\xbc\xc3\x9f \xe2\x82\xac"));
    EXPECT_EQ(state->getPlaybackAlias(0), juce::String::fromUTF8("Gr\xc3\xbc\xc3\x9f ?"));
}

TEST_F(StateTest, PropertiesKeepDeviceNamesUnlessAKeyIsPresent)
{
    state->setInputAlias(0, "Kick");
    state->setInputAlias(1, "Snare");
    state->setPlaybackAlias(0, "DAW 1");

    juce::PropertySet props;
    props.setValue("input alias 1", "Vocal");
    props.setValue("play alias 0", "");
    props.setValue("output gangs", 0);
    props.setValue("most recent folder", "/home/me/sessions");
    state->loadProperties(props);

    EXPECT_EQ(state->getInputAlias(0), "Kick");
    EXPECT_EQ(state->getInputAlias(1), "Vocal");
    EXPECT_EQ(state->getPlaybackAlias(0), "");
    EXPECT_EQ(state->getInputGangs(), -1);
    EXPECT_EQ(state->getOutputGangs(), 0);
    EXPECT_EQ(state->getMostRecentFolder(), "/home/me/sessions");

    juce::PropertySet saved;
    state->saveProperties(saved);
    EXPECT_EQ(saved.getValue("input alias 0"), "Kick");
    EXPECT_EQ(saved.getIntValue("output gangs", 99), 0);
    EXPECT_EQ(saved.getIntValue("input gangs", 99), -1);
    const int inputs = int(device->getCaps().getInputCount());
    EXPECT_TRUE(saved.containsKey("input alias " + juce::String(inputs - 1)));
    EXPECT_FALSE(saved.containsKey("input alias " + juce::String(inputs)));
}

TEST_F(StateTest, ThousandsOfRandomNamesRoundTripThroughThePropertiesFileUnchanged)
{
    // Any byte a name may hold, up to 21 characters, many beginning with '<' or '&' and full of markup:
    // the framework stores a value that reads as XML as an element, and some crashed or hung it.
    std::mt19937 random(25);
    auto pick = [&](int n) { return int(random() % uint32_t(n)); };
    const std::string markup = "<>&#x;?/!-[]=\"' CDATAabc0123456789";
    auto randomName = [&]
    {
        juce::String name;
        const int length = pick(22);
        for (int i = 0; i < length; ++i)
        {
            const int kind = i == 0 ? pick(3) : 2 + pick(2);
            const int c = kind == 0   ? '<'
                          : kind == 1 ? '&'
                          : kind == 2 ? 1 + pick(255)
                                      : markup[size_t(pick(int(markup.size())))];
            name += juce::String::charToString(juce::juce_wchar(c));
        }
        return name;
    };
    const auto& caps = device->getCaps();
    const int inputs = int(caps.getInputCount());
    const int outputs = int(caps.getOutputCount());
    const int plays = int(caps.getPlaybackChannels(48000));
    const juce::File file = juce::File(juce::String(bus.dir)).getChildFile("names.properties");
    juce::PropertiesFile::Options options;
    options.storageFormat = juce::PropertiesFile::storeAsXML;

    for (int names = 0; names < 3000; names += inputs + outputs + plays + 1)
    {
        for (int i = 0; i < inputs; ++i)
            state->setInputAlias(i, randomName());
        for (int i = 0; i < outputs; ++i)
            state->setOutputAlias(i, randomName());
        for (int i = 0; i < plays; ++i)
            state->setPlaybackAlias(i, randomName());
        state->setMostRecentFolder(randomName());
        {
            juce::PropertiesFile properties(file, options);
            state->saveProperties(properties);
            ASSERT_TRUE(properties.save());
        }
        ASSERT_EQ(checkSettingsFile(file, "PROPERTIES"), file);
        ASSERT_TRUE(file.existsAsFile()) << "set aside after " << names << " names";
        juce::PropertiesFile properties(file, options);
        keepSettingsValuesAsText(properties);
        ConsoleState loaded(*device);
        loaded.loadProperties(properties);
        for (int i = 0; i < inputs; ++i)
            ASSERT_EQ(loaded.getInputAlias(i), state->getInputAlias(i));
        for (int i = 0; i < outputs; ++i)
            ASSERT_EQ(loaded.getOutputAlias(i), state->getOutputAlias(i));
        for (int i = 0; i < plays; ++i)
            ASSERT_EQ(loaded.getPlaybackAlias(i), state->getPlaybackAlias(i));
        ASSERT_EQ(loaded.getMostRecentFolder(), state->getMostRecentFolder());
    }
}

TEST_F(StateTest, EntriesOfEarlierVersionsLoadAsBeforeAndValuesThatReadAsMarkupAreSavedAsText)
{
    // Plain values, and names that earlier versions let the framework store as elements: those load as
    // the framework reads them. A value of a key the window does not own is kept as text too.
    const juce::File file = juce::File(juce::String(bus.dir)).getChildFile("old.properties");
    file.replaceWithText("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n"
                         "  <VALUE name=\"input alias 0\" val=\"Kick\"/>\n"
                         "  <VALUE name=\"input alias 1\">\n    <Snare/>\n  </VALUE>\n"
                         "  <VALUE name=\"input alias 2\">\n    <a>x<b/>y</a>\n  </VALUE>\n"
                         "  <VALUE name=\"note\" val=\"&lt;Hat\"/>\n"
                         "  <VALUE name=\"most recent folder\" val=\"/home/me/s\"/>\n"
                         "</PROPERTIES>\n");
    juce::PropertiesFile::Options options;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    for (int opened = 0; opened < 2; ++opened)
    {
        ASSERT_EQ(checkSettingsFile(file, "PROPERTIES"), file);
        juce::PropertiesFile properties(file, options);
        keepSettingsValuesAsText(properties);
        ConsoleState loaded(*device);
        loaded.loadProperties(properties);
        EXPECT_EQ(loaded.getInputAlias(0), "Kick");
        EXPECT_EQ(loaded.getInputAlias(1), "<Snare/>");
        EXPECT_EQ(loaded.getInputAlias(2), "<a>x<b/>y</a>");
        EXPECT_EQ(decodeSettingsText(properties.getValue("note")), "<Hat");
        EXPECT_EQ(loaded.getMostRecentFolder(), "/home/me/s");
        loaded.saveProperties(properties);
        ASSERT_TRUE(properties.save());
    }
    // What the console stores stays as readable as it was.
    const juce::String text = file.loadFileAsString();
    EXPECT_TRUE(text.contains("<VALUE name=\"input alias 0\" val=\"Kick\"/>")) << text;
    EXPECT_TRUE(text.contains("<VALUE name=\"most recent folder\" val=\"/home/me/s\"/>")) << text;
}

TEST_F(StateTest, FullSessionReadGivesTheStoredSessionInRecordOrder)
{
    const auto stored = storedSession();
    ASSERT_EQ(stored.size(), size_t(ConsoleState::kImageQuads));
    ASSERT_EQ(stored[0], 3348u) << "the simulator stores a factory session at plug";

    Trace trace(bus.dir);
    ASSERT_EQ(state->readFromDevice(), 0);
    EXPECT_TRUE(state->mayWriteFlash());
    EXPECT_EQ(state->getFlashCrc(), stored[1]);

    auto expected = stored;
    auto* bytes = reinterpret_cast<uint8_t*>(expected.data());
    for (int base :
         {ConsoleState::kInputRecords, ConsoleState::kOutputRecords, ConsoleState::kPlaybackRecords})
        for (int i = 0; i < 40; ++i)
            bytes[base + i * 24 + 23] = 0;
    expected[1] = crc32(bytes + 8, ConsoleState::kImageBytes - 8);
    EXPECT_EQ(image(), expected);

    const auto reads = trace.vdc(0);
    ASSERT_EQ(reads.size(), 53u);
    EXPECT_EQ(reads[52].params, (std::vector<uint32_t>{52 * 64, 20}));
}

TEST_F(StateTest, ShortRepliesContinueAtTheNextQuadlet)
{
    ASSERT_EQ(state->readFromDevice(), 0);
    const auto full = image();

    ASSERT_EQ(bus.devsim("set u1 session-chunk 10"), 0) << bus.err;
    Trace trace(bus.dir);
    ConsoleState again(*device);
    ASSERT_EQ(again.readFromDevice(), 0);
    std::vector<uint32_t> second(ConsoleState::kImageQuads);
    again.copyImage(second.data());
    EXPECT_EQ(second, full);

    const auto reads = trace.vdc(0);
    ASSERT_EQ(reads.size(), 335u);
    EXPECT_EQ(reads[1].params, (std::vector<uint32_t>{10, 64}));
    EXPECT_EQ(reads[334].params, (std::vector<uint32_t>{3340, 8}));
}

TEST_F(StateTest, ReadThatFailsPartWayLeavesAZeroedImageThatIsNeverStored)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:0/3 vdr:5 1 --after 10"), 0) << bus.err;
    platform::DebugCapture debug;
    Trace trace(bus.dir);
    EXPECT_EQ(state->readFromDevice(), 2);
    EXPECT_EQ(trace.vdc(0).size(), 11u) << "ten blocks read before the failure";
    EXPECT_TRUE(allZero(image()));
    EXPECT_FALSE(state->mayWriteFlash());
    EXPECT_TRUE(debug.contains("VDC error for " + device->getUniqueName() + " - rval 5"));

    state->markWholeImage(); // a session load or reset replaces the image
    EXPECT_TRUE(state->mayWriteFlash());
}

TEST_F(StateTest, ReadThatFailsAtOnceLeavesAZeroedImage)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:0/3 vdr:7 1"), 0) << bus.err;
    EXPECT_EQ(state->readFromDevice(), 2);
    EXPECT_TRUE(allZero(image()));
    EXPECT_FALSE(state->mayWriteFlash());
}

TEST_F(StateTest, AReadOfErasedFlashKeepsNothingOfItAndIsStoredWhateverTheStaleCrc)
{
    uint32_t base = 0;
    ASSERT_EQ(device->getSessionBase(base), 0);
    ASSERT_EQ(device->flashErase(base & ~0x1FFFu), 0);
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i)
        device->flashGetStatus(ready);
    EXPECT_EQ(state->readFromDevice(), 1);
    EXPECT_TRUE(state->foundNoSession());
    EXPECT_TRUE(allZero(image()));
    EXPECT_FALSE(state->mayWriteFlash()) << "not before what the unit runs was read into it";

    // A save cut short leaves the CRC word of what it was writing: the unit's values go to flash even
    // when that matches them, as it does once the save has set the image's version and size words.
    state->markWholeImage();
    std::vector<uint32_t> snapshot(ConsoleState::kImageQuads);
    state->prepareFlashSave(snapshot.data());
    state->setFlashCrc(state->computeCrc());
    EXPECT_TRUE(state->prepareFlashSave(snapshot.data()));
}

TEST_F(StateTest, AValueFromTheUnitTakesOnlyTheBitsNoOneWroteSinceAndTheImageWaitsForEveryOne)
{
    state->markWholeImage();
    const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const int flags = 4 * ConsoleState::kFlagsWord;
    const int monitorFlags = ConsoleState::kMonitorFlags + 5;
    const int gain = 4 * (ConsoleState::kOutputGainWords + 2);
    state->awaitUnitValue(flags, 4, 0xFF);
    state->awaitUnitValue(monitorFlags, 1, 0x03);
    state->awaitUnitValue(gain, 4, 0xFF);
    EXPECT_FALSE(state->mayWriteFlash());

    // The user turns phantom power off and a monitor mute on, and moves an output fader.
    state->setWordBits(ConsoleState::kFlagsWord, ConsoleState::kPhantomFlag, 0);
    state->setByteBits(monitorFlags, 0x01, 0x01);
    state->setWord(ConsoleState::kOutputGainWords + 2, 0x123456);
    EXPECT_TRUE(state->putUnitValue(flags, ones, 4, 0xFF));
    EXPECT_TRUE(state->putUnitValue(monitorFlags, ones, 1, 0x03));
    EXPECT_FALSE(state->putUnitValue(gain, ones, 4, 0xFF));
    EXPECT_EQ(state->getWord(ConsoleState::kFlagsWord), ~ConsoleState::kPhantomFlag);
    EXPECT_EQ(state->getByte(monitorFlags), 0x03);
    EXPECT_EQ(state->getWord(ConsoleState::kOutputGainWords + 2), 0x123456u);
    EXPECT_TRUE(state->mayWriteFlash());

    // A value taken once is not taken again, and a session load ends every wait.
    EXPECT_FALSE(state->putUnitValue(flags, std::vector<uint8_t>(4, 0).data(), 4, 0xFF));
    state->awaitUnitValue(gain, 4, 0xFF);
    state->replaceImage(std::vector<uint32_t>(ConsoleState::kImageQuads, 0).data());
    EXPECT_TRUE(state->mayWriteFlash());
    EXPECT_FALSE(state->putUnitValue(gain, ones, 4, 0xFF));
}

TEST_F(StateTest, ReadPausesBetweenTriesAndGivesUpAfterTwoSecondsOfTryAgain)
{
    // Each try takes the request's time and a 10 ms pause of the manual clock, for 2000 ms: the stored
    // CRC's read (its failure leaves the CRC unknown) and the session's.
    const double tries = 2000.0 / (10 + sim::os::kVdcTransactionMs);
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/1 busreset always"), 0) << bus.err;
    Trace trace(bus.dir);
    {
        testsupport::ManualClock clock;
        EXPECT_EQ(state->readFromDevice(), 0);
    }
    const auto reads = trace.vdc(1);
    EXPECT_NEAR(
        double(std::count_if(reads.begin(), reads.end(), [](const auto& v) { return v.command == 1; })),
        tries, 2.0);

    ASSERT_EQ(bus.devsim("fault u1 clear"), 0) << bus.err;
    ASSERT_EQ(bus.devsim("fault u1 vdc:0/3 busreset always"), 0) << bus.err;
    trace.clear();
    testsupport::ManualClock clock;
    EXPECT_EQ(state->readFromDevice(), -1);
    EXPECT_NEAR(double(trace.vdc(0).size()), tries, 2.0);
    EXPECT_TRUE(allZero(image()));
    EXPECT_FALSE(state->mayWriteFlash());
}
