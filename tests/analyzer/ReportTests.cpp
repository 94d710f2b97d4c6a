#include "AnalyzerTestSupport.h"

#include "analyzer/OhciList.h"
#include "analyzer/Report.h"

#include <gtest/gtest.h>

namespace
{

using analyzertest::Sandbox;

TEST(AnalyzerVersionText, ShowsMajorMinorThenNonzeroBuildAndRevisionButNeverTheLowNibble)
{
    EXPECT_EQ(analyzer::formatAnalyzerVersion(0x04080000), "4.8");
    EXPECT_EQ(analyzer::formatAnalyzerVersion(0x04080310), "4.8.3.1");
    EXPECT_EQ(analyzer::formatAnalyzerVersion(0x04080010), "4.8.1");
    EXPECT_EQ(analyzer::formatAnalyzerVersion(0x04080300), "4.8.3");
    EXPECT_EQ(analyzer::formatAnalyzerVersion(0x0102000E), "1.2") << "no E suffix here";
    EXPECT_EQ(analyzer::formatAnalyzerVersion(0xFFFFFFFF), "255.255.255.15");
}

TEST(StatisticsTexts, BufferTimeIsShownOnlyForANonzeroRate)
{
    EXPECT_EQ(analyzer::formatBufferTime(256, 48000), "5.333 msec");
    EXPECT_EQ(analyzer::formatBufferTime(2048, 44100), "46.440 msec");
    EXPECT_EQ(analyzer::formatBufferTime(256, 0), "");
}

TEST(HostControllerList, HasOneControllerWhenNothingWasSet)
{
    Sandbox box;
    const analyzer::OhciList list;
    ASSERT_EQ(list.size(), 1);
    EXPECT_FALSE(list[0].isEmpty());
}

TEST(HostControllerList, ListsTheControllersInEnumerationOrder)
{
    Sandbox box;
    box.devsim("controllers PCI\\VEN_1&DEV_2\\first PCI\\VEN_3&DEV_4\\second");
    const analyzer::OhciList list;
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0], "PCI\\VEN_1&DEV_2\\first");
    EXPECT_EQ(list[1], "PCI\\VEN_3&DEV_4\\second");
    EXPECT_EQ(list[2], "") << "an index outside the list reads empty";
}

TEST(HostControllerList, IsEmptyWithoutControllersAndWhenTheClassQueryFails)
{
    Sandbox box;
    box.devsim("controllers");
    EXPECT_EQ(analyzer::OhciList().size(), 0);
    box.devsim("controllers --fail");
    EXPECT_EQ(analyzer::OhciList().size(), 0);
}

TEST(HostControllerList, ReadsAnIdLongerThanItsFirstBufferWhole)
{
    Sandbox box;
    const std::string longId = "PCI\\VEN_1&DEV_2\\" + std::string(3000, 'L');
    box.devsim("controllers " + longId + " after");
    const analyzer::OhciList list;
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toStdString(), longId);
    EXPECT_EQ(list[1], "after");
}

} // namespace
