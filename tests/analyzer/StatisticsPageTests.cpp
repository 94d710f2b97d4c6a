#include "AnalyzerTestSupport.h"

#include "analyzer/StatisticsPage.h"
#include "platform/Debug.h"

#include <gtest/gtest.h>

#include <fstream>

namespace
{

using analyzer::Content;
using analyzertest::Sandbox;
using analyzertest::withoutDateLine;

// A capability record with known firmware versions, DSP 3.2.1 (byte 160) and ARM 4.8.3.1 (byte 164), and
// rates from 44100 (byte 156) to 96000 Hz (byte 152).
std::string recordWithVersions(const std::string& dir)
{
    uint8_t caps[260] = {};
    auto put = [&caps](int offset, uint32_t v) { std::memcpy(caps + offset, &v, 4); };
    put(152, 96000);
    put(156, 44100);
    put(160, 0x03020010);
    put(164, 0x04080310);
    const std::string path = dir + "/versions.caps";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(caps), sizeof caps);
    return path;
}

// The page as the window makes it: every device opened first.
class StatisticsPage : public ::testing::Test
{
protected:
    void makePage()
    {
        devices = std::make_unique<analyzer::DeviceList>();
        for (int i = 0; i < devices->getCount(); ++i)
            devices->getDevice(i)->open();
        page = std::make_unique<Content>(*devices);
    }
    void TearDown() override
    {
        page.reset();
        if (devices != nullptr)
            for (int i = 0; i < devices->getCount(); ++i)
                devices->getDevice(i)->close();
        devices.reset();
    }

    std::string row(int r) const { return page->getRowValue(r)->getText().toStdString(); }
    std::string label(const char* name) const
    {
        for (auto* child : page->getChildren())
            if (child->getName() == name)
                if (auto* l = dynamic_cast<juce::Label*>(child))
                    return l->getText().toStdString();
        return "(no label " + std::string(name) + ")";
    }

    // Every statistics field with its own value, at a frequency of one tick per microsecond.
    void setDistinctStatistics(const std::string& unit)
    {
        box.devsim("os qpf 1000000");
        box.devsim("stats " + unit +
                   " play.avg=1000 play.max=2000 rec.avg=3000 rec.max=4000 wake.avg=5000 wake.max=6000"
                   " host.avg=7000 host.max=8000 play.count=11 rec.count=12");
    }

    Sandbox box;
    std::unique_ptr<analyzer::DeviceList> devices;
    std::unique_ptr<Content> page;
};

TEST_F(StatisticsPage, ShowsTheFirstInterfacesRateBufferSizeAndBufferTimeAndFollowsChanges)
{
    box.devsim("plug a --model st8");
    makePage();
    EXPECT_EQ(label("samplerate"), "48000 Hz");
    EXPECT_EQ(label("buffsize"), "256 samples");
    EXPECT_EQ(label("bufftime"), "5.333 msec");

    box.devsim("set a buffer-size 512");
    page->refresh();
    EXPECT_EQ(label("buffsize"), "512 samples");
    EXPECT_EQ(label("bufftime"), "10.667 msec");
}

TEST_F(StatisticsPage, ShowsEveryStatisticsFieldInItsRow)
{
    box.devsim("plug a --model st8");
    setDistinctStatistics("a");
    makePage();
    EXPECT_EQ(row(Content::kPlaybackCountRow), "") << "empty until the first refresh";
    page->refresh();
    EXPECT_EQ(row(Content::kPlaybackCountRow), "11");
    EXPECT_EQ(row(Content::kPlaybackMaxRow), "2.000 msec");
    EXPECT_EQ(row(Content::kPlaybackAverageRow), "1.000 msec");
    EXPECT_EQ(row(Content::kRecordCountRow), "12");
    EXPECT_EQ(row(Content::kRecordMaxRow), "4.000 msec");
    EXPECT_EQ(row(Content::kRecordAverageRow), "3.000 msec");
    EXPECT_EQ(row(Content::kWakeupMaxRow), "6.000 msec");
    EXPECT_EQ(row(Content::kWakeupAverageRow), "5.000 msec");
    EXPECT_EQ(row(Content::kHostMaxRow), "8.000 msec");
    EXPECT_EQ(row(Content::kHostAverageRow), "7.000 msec");
}

TEST_F(StatisticsPage, ConvertsTicksWithTheCurrentCounterFrequency)
{
    box.devsim("plug a --model st8");
    box.devsim("os qpf 3579545");
    box.devsim("stats a play.max=1234567");
    makePage();
    page->refresh();
    EXPECT_EQ(row(Content::kPlaybackMaxRow), "344.895 msec");
    EXPECT_EQ(row(Content::kPlaybackAverageRow), "0.000 msec");
}

TEST_F(StatisticsPage, ShowsTheFirmwareCountersOnceFetchedArmDspOverflowDspUnderrun)
{
    box.devsim("plug a --model st8");
    box.devsim("set a counters 7 8 9");
    makePage();
    EXPECT_EQ(row(Content::kArmOverflowRow), "");
    page->refresh();
    EXPECT_EQ(row(Content::kArmOverflowRow), "7");
    EXPECT_EQ(row(Content::kDspOverflowRow), "9");
    EXPECT_EQ(row(Content::kDspUnderrunRow), "8");
}

TEST_F(StatisticsPage, WithUpdateOffTheCountersAreGreyAndStillButSaveFetchesThem)
{
    box.devsim("plug a --model st8");
    box.devsim("set a counters 1 2 3");
    makePage();
    page->refresh();
    page->getUpdateButton().setToggleState(false, juce::sendNotificationSync);
    const juce::Label* arm = page->getRowValue(Content::kArmOverflowRow);
    EXPECT_EQ(arm->findColour(juce::Label::textColourId), juce::Colour(128, 128, 128));

    box.devsim("set a counters 4 5 6");
    page->refresh();
    EXPECT_EQ(row(Content::kArmOverflowRow), "1");
    EXPECT_TRUE(page->saveReport());
    EXPECT_EQ(row(Content::kArmOverflowRow), "4");
    EXPECT_NE(box.documents.readReport().find("ARM overflow:             4\r\n"), std::string::npos);

    page->getUpdateButton().setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(arm->findColour(juce::Label::textColourId), juce::Colours::white);
}

TEST_F(StatisticsPage, LeavesTheStatisticsRowsEmptyWhenTheDeviceHasNoBlock)
{
    box.devsim("plug a --model st8");
    box.devsim("set a counters 7 8 9");
    box.devsim("fault a dc:7 fail");
    makePage();
    page->refresh();
    EXPECT_EQ(row(Content::kPlaybackCountRow), "");
    EXPECT_EQ(row(Content::kHostAverageRow), "");
    EXPECT_EQ(row(Content::kArmOverflowRow), "7") << "the rest of the page goes on";
}

TEST_F(StatisticsPage, ShowsNoBufferTimeWhileTheRateIsZero)
{
    box.devsim("plug a --model st8");
    box.devsim("fault a dc:3 fail always");
    makePage();
    page->refresh();
    EXPECT_EQ(label("samplerate"), "0 Hz");
    EXPECT_EQ(label("bufftime"), "");
}

TEST_F(StatisticsPage, ResetReachesEveryUnit)
{
    box.devsim("plug a --model st8");
    box.devsim("plug b --model st8");
    box.devsim("stats a play.count=5");
    box.devsim("stats b play.count=6");
    makePage();
    page->resetStatistics();
    for (const char* unit : {"a", "b"})
    {
        EXPECT_EQ(box.dumped(unit, "reset-statistics"), "1") << unit;
        EXPECT_EQ(box.dumped(unit, "statistics"), "playback 0 record 0") << unit;
    }
}

TEST_F(StatisticsPage, SavedReportHoldsTheRecordStatisticsCountersAndController)
{
    box.devsim("plug a --caps " + recordWithVersions(box.bus.dir));
    setDistinctStatistics("a");
    box.devsim("set a counters 21 22 23");
    box.devsim("controllers PCI\\VEN_1&DEV_2\\only");
    makePage();
    page->refresh();
    platform::DebugCapture debug;
    ASSERT_TRUE(page->saveReport());
    EXPECT_TRUE(debug.contains("Message box [Latenzor] Report saved to your \"My Documents\" folder."));

    const std::string report = box.documents.readReport();
    const std::string expected = "Latenzor report\r\n"
                                 "ARM code: 4.8.3.1\r\n"
                                 "DSP code: 3.2.1\r\n"
                                 "1394 controller: PCI\\VEN_1&DEV_2\\only\r\n"
                                 "Sample rate:              48000\r\n"
                                 "Buffer size:              256\r\n"
                                 "Nominal buffer time:      5.333 msec\r\n"
                                 "\r\n"
                                 "Playback count:           11\r\n"
                                 "Playback max time:        2.000 msec\r\n"
                                 "Playback average time:    1.000 msec\r\n"
                                 "\r\n"
                                 "Record count:             12\r\n"
                                 "Record max time:          4.000 msec\r\n"
                                 "Record average time:      3.000 msec\r\n"
                                 "\r\n"
                                 "ASIO wakeup max time:     6.000 msec\r\n"
                                 "ASIO wakeup average time: 5.000 msec\r\n"
                                 "\r\n"
                                 "ASIO host max time:       8.000 msec\r\n"
                                 "ASIO host average time:   7.000 msec\r\n"
                                 "\r\n"
                                 "ARM overflow:             21\r\n"
                                 "DSP underrun:             22\r\n"
                                 "DSP overflow:             23\r\n"
                                 "\r\n"
                                 "\r\n"
                                 "\r\n";
    EXPECT_EQ(withoutDateLine(report), expected);
    const std::string date = report.substr(17, report.find("\r\n", 17) - 17);
    EXPECT_TRUE(date.find(juce::String(juce::Time::getCurrentTime().getYear()).toStdString()) !=
                std::string::npos)
        << date;
}

TEST_F(StatisticsPage, SavedReportListsTwoControllersAndAVeryLongIdOrNone)
{
    box.devsim("plug a --model st8");
    const std::string longId = "PCI\\VEN_1&DEV_2\\" + std::string(1500, 'L');
    box.devsim("controllers PCI\\A " + longId);
    makePage();
    ASSERT_TRUE(page->saveReport());
    box.devsim("controllers");
    ASSERT_TRUE(page->saveReport());

    const std::string report = box.documents.readReport();
    const std::string two = "1394 controllers: 2\r\n     PCI\\A\r\n     " + longId + "\r\n\r\nSample rate:";
    const std::string none = "1394 controllers: 0\r\n\r\nSample rate:";
    const size_t first = report.find(two);
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(report.find(none, first), std::string::npos) << "the second report follows the first";
}

TEST_F(StatisticsPage, SavingTwiceAppendsTwoCompleteReports)
{
    box.devsim("plug a --model st8");
    makePage();
    page->refresh();
    ASSERT_TRUE(page->saveReport());
    const std::string once = box.documents.readReport();
    ASSERT_TRUE(page->saveReport());
    const std::string twice = box.documents.readReport();
    ASSERT_EQ(twice.size(), 2 * once.size());
    EXPECT_EQ(withoutDateLine(twice.substr(once.size())), withoutDateLine(once));
    EXPECT_EQ(once.substr(once.size() - 8), "\r\n\r\n\r\n\r\n") << "ends with three empty lines";
}

TEST_F(StatisticsPage, AReportThatCannotBeWrittenSaysSo)
{
    box.devsim("plug a --model st8");
    makePage();
    std::filesystem::create_directories(box.documents.reportPath()); // a folder where the file should be
    platform::DebugCapture debug;
    EXPECT_FALSE(page->saveReport());
    EXPECT_TRUE(debug.contains("Message box [Latenzor] Unable to save report"));
}

TEST_F(StatisticsPage, KeepsADeviceWithoutAnyUsableAnswer)
{
    box.devsim("plug a --model st8");
    box.devsim("fault a open fail always");
    makePage();
    page->refresh();
    EXPECT_EQ(row(Content::kPlaybackCountRow), "");
    EXPECT_EQ(row(Content::kArmOverflowRow), "");
    EXPECT_TRUE(page->saveReport()) << "a report of what the page has is still written";
    EXPECT_NE(box.documents.readReport().find("ARM overflow:             0\r\n"
                                              "DSP underrun:             0\r\n"
                                              "DSP overflow:             0\r\n"),
              std::string::npos)
        << "counters never fetched are 0";
}

} // namespace
