// The tab bar: captions for the output layouts, tab widths, selection, clicks and activity lights.

#include "CapsBuilder.h"
#include "ConsoleTestSupport.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/window/TabBar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace
{

using consoleapptest::makeCaps;

std::vector<std::string> names(const std::vector<console::TopTab>& tabs, bool shortForm = false)
{
    std::vector<std::string> out;
    for (const console::TopTab& t : tabs)
        out.push_back((shortForm ? t.shortName : t.name).toStdString());
    return out;
}

class FakeHost : public console::TabBarHost
{
public:
    explicit FakeHost(device::HwInfoCaps caps) : caps_(caps) { console::ConsoleLayout layout(caps_); }
    const device::HwInfoCaps& getHwInfo() const override { return caps_; }
    void showPage(int index) override { shown.push_back(index); }

    std::vector<int> shown;

private:
    device::HwInfoCaps caps_;
};

TEST(TabCaptions, OneOutputGroupIsNumberedByPair)
{
    bool narrow = true;
    const auto tabs = console::makeTopTabs(makeCaps({{0, 8}}, {{0, 8}}), 700, narrow);
    EXPECT_FALSE(narrow);
    EXPECT_EQ(names(tabs), (std::vector<std::string>{"OUTPUTS 1-2", "OUTPUTS 3-4", "OUTPUTS 5-6",
                                                     "OUTPUTS 7-8", "SETTINGS"}));
    const auto narrowTabs = console::makeTopTabs(makeCaps({{0, 8}}, {{0, 8}}), 400, narrow);
    EXPECT_TRUE(narrow);
    EXPECT_EQ(names(narrowTabs, true), (std::vector<std::string>{"1-2", "3-4", "5-6", "7-8", "SETTINGS"}));
}

TEST(TabCaptions, SeveralGroupsAreNamedByGroupWithOutSuffixes)
{
    bool narrow = false;
    const auto caps = makeCaps({{0, 4}}, {{0, 4}, {1, 2}});
    EXPECT_EQ(names(console::makeTopTabs(caps, 700, narrow)),
              (std::vector<std::string>{"ANALOG 1-2 OUT", "ANALOG 3-4 OUT", "S/PDIF OUT", "SETTINGS"}));
    const auto narrowTabs = console::makeTopTabs(caps, 300, narrow);
    ASSERT_TRUE(narrow);
    EXPECT_EQ(names(narrowTabs, true), (std::vector<std::string>{"A 1-2", "A 3-4", "S", "SETTINGS"}));
}

TEST(TabCaptions, HeadphonesAndUnnamedGroupsGetNoOutSuffix)
{
    bool narrow = false;
    const auto caps = makeCaps({{0, 2}}, {{0, 2}, {5, 2}, {6, 4}});
    EXPECT_EQ(names(console::makeTopTabs(caps, 900, narrow)),
              (std::vector<std::string>{"ANALOG OUT", "HEADPHONES", "OUTPUT 1-2", "OUTPUT 3-4", "SETTINGS"}));
}

TEST(TabCaptions, ADeviceWithFewerThanTwoOutputsStillGetsOneOutputTab)
{
    bool narrow = false;
    EXPECT_EQ(names(console::makeTopTabs(makeCaps({{0, 2}}, {{0, 1}}), 400, narrow)),
              (std::vector<std::string>{"OUTPUTS", "SETTINGS"}));
    EXPECT_EQ(names(console::makeTopTabs(makeCaps({{0, 2}}, {}), 400, narrow)),
              (std::vector<std::string>{"OUTPUT", "SETTINGS"}));
}

TEST(TabCaptions, AChannelWithoutAMapEntryIsNamedOutput)
{
    // More outputs than the groups hold: the last pair has no map entry.
    auto caps = makeCaps({{0, 2}}, {{0, 2}, {1, 2}});
    caps.outputCount = 6;
    bool narrow = false;
    const auto tabs = console::makeTopTabs(caps, 900, narrow);
    ASSERT_EQ(tabs.size(), 4u);
    EXPECT_EQ(tabs[2].name, "OUTPUT");
    EXPECT_EQ(tabs[2].shortName, "OUTPUT");
    EXPECT_EQ(console::makeTopTabs(caps, 200, narrow)[2].shortName, "Out");
}

TEST(TabWidths, WideBarsCapTabsAt140AndNarrowBarsSwitchTo130And60)
{
    bool narrow = false;
    const auto caps = makeCaps({{0, 2}}, {{0, 8}});
    EXPECT_EQ(console::makeTopTabs(caps, 86 + 4 * 120, narrow)[1].width, 120);
    EXPECT_FALSE(narrow);
    EXPECT_EQ(console::makeTopTabs(caps, 86 + 4 * 115, narrow)[0].width, 115);
    EXPECT_EQ(console::makeTopTabs(caps, 2000, narrow)[3].width, 140);
    const auto tabs = console::makeTopTabs(caps, 86 + 4 * 114, narrow);
    EXPECT_TRUE(narrow);
    EXPECT_EQ(tabs[0].x, 3);
    EXPECT_EQ(tabs[0].width, 130);
    EXPECT_EQ(tabs[1].x, 133);
    EXPECT_EQ(tabs[1].width, 60);
    EXPECT_EQ(tabs[4].width, 80);
    EXPECT_EQ(tabs[4].textWidthAdjust, 0);
    EXPECT_EQ(tabs[0].textWidthAdjust, -19);
}

TEST(TabBar, SavedTabsOutsideTheRangeOpenTheFirstTabAndMinusOneTheSettings)
{
    FakeHost host(makeCaps({{0, 2}}, {{0, 8}}));
    console::VarnelTopTabBar bar(host, 700);
    bar.setCurrentTab(4); // "SETTINGS" has index 4
    EXPECT_EQ(bar.getCurrentTab(), 0);
    EXPECT_TRUE(host.shown.empty()); // tab 0 was selected already
    bar.setCurrentTab(-1);
    EXPECT_EQ(bar.getCurrentTab(), -1);
    bar.setCurrentTab(2);
    EXPECT_EQ(bar.getCurrentTab(), 2);
    EXPECT_EQ(host.shown, (std::vector<int>{-1, 4}));
}

TEST(TabBar, ClicksSelectTheTabUnderTheMouseAndNothingOutsideTheBar)
{
    FakeHost host(makeCaps({{0, 2}}, {{0, 8}}));
    console::VarnelTopTabBar bar(host, 700);
    const auto& tabs = bar.getTabs();
    auto click = [&bar](int x, int y)
    {
        const juce::MouseEvent e(
            juce::Desktop::getInstance().getMainMouseSource(), juce::Point<float>(float(x), float(y)), {},
            0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &bar, &bar, juce::Time::getCurrentTime(),
            juce::Point<float>(float(x), float(y)), juce::Time::getCurrentTime(), 1, false);
        bar.mouseUp(e);
    };
    click(tabs[1].x + 5, 10);
    EXPECT_EQ(bar.getSelected(), 1);
    click(tabs[3].x + 5, 30);
    click(tabs[3].x + 5, -1);
    click(tabs.back().x + tabs.back().width + 2, 10);
    EXPECT_EQ(bar.getSelected(), 1);
    click(tabs.back().x + 1, 10);
    EXPECT_EQ(host.shown, (std::vector<int>{2, -1}));
}

TEST(TabBar, NarrowTabsWidenTheSelectedOneAndMoveTheLights)
{
    FakeHost host(makeCaps({{0, 2}}, {{0, 8}}));
    console::VarnelTopTabBar bar(host, 400);
    ASSERT_TRUE(bar.isNarrow());
    bar.selectTab(2);
    const auto& tabs = bar.getTabs();
    EXPECT_EQ(tabs[0].width, 60);
    EXPECT_EQ(tabs[2].width, 130);
    EXPECT_EQ(tabs[2].x, 3 + 120);
    EXPECT_EQ(tabs[4].x, 3 + 120 + 130 + 60);
    // The two lights of tab 2 sit at its right end, one pixel apart.
    EXPECT_EQ(bar.getLights()[4]->getX(), tabs[2].x + tabs[2].width - 16);
    EXPECT_EQ(bar.getLights()[5]->getX(), tabs[2].x + tabs[2].width - 10);
    EXPECT_EQ(bar.getLights()[4]->getY(), 13);
}

TEST(TabBar, EveryPresetsTabsLieInsideTheBarWithWholeCaptionsClearOfTheLights)
{
    testsupport::TempBus bus;
    ASSERT_EQ(bus.devsim("models"), 0);
    std::istringstream models(bus.out);
    const juce::Font font = console::VarnelTopTabBar::getCaptionFont();
    for (std::string line; std::getline(models, line);)
    {
        const std::string preset = line.substr(0, line.find(' '));
        SCOPED_TRACE(preset);
        ASSERT_EQ(bus.devsim("reset"), 0);
        ASSERT_EQ(bus.devsim("plug u1 --model " + preset), 0);
        const device::vhw::Ptr device = consoletest::firstDevice();
        ASSERT_NE(device, nullptr);
        FakeHost host(device->getCaps());
        // The bar is as wide as the window.
        console::VarnelTopTabBar bar(host, console::ConsoleLayout(device->getCaps()).getContentSize().x);
        const auto& tabs = bar.getTabs();
        for (int selected = int(tabs.size()) - 1; selected >= 0; --selected)
        {
            bar.selectTab(selected);
            for (size_t t = 0; t < tabs.size(); ++t)
            {
                const console::TopTab& tab = tabs[t];
                const juce::String caption = int(t) == selected ? tab.name : tab.shortName;
                SCOPED_TRACE(caption + " with tab " + juce::String(selected) + " selected");
                EXPECT_GE(tab.x, 0);
                EXPECT_LE(tab.x + tab.width, bar.getWidth());
                // Whole: squeezed no further than the bar squeezes captions, so never cut short.
                const int area = tab.width + tab.textWidthAdjust;
                const float text = font.getStringWidthFloat(caption);
                EXPECT_LE(text * console::VarnelTopTabBar::kCaptionMinimumScale, float(area));
                if (t + 1 == tabs.size())
                    continue;
                // Centred in its area, the caption ends a little before the tab's first light.
                const float right = float(tab.x) + (float(area) + std::min(text, float(area))) / 2.0f;
                EXPECT_LE(right + 2.0f, float(bar.getLights()[int(2 * t)]->getX()));
            }
        }
    }
}

TEST(ActivityLights, FollowTheOutputLevelsInFourSteps)
{
    EXPECT_EQ(console::ActivityLight::frameForLevel(0), 0);
    EXPECT_EQ(console::ActivityLight::frameForLevel((1u << 24) - 1), 0);
    EXPECT_EQ(console::ActivityLight::frameForLevel(1u << 24), 1);
    EXPECT_EQ(console::ActivityLight::frameForLevel(1u << 29), 2);
    EXPECT_EQ(console::ActivityLight::frameForLevel(90u << 24), 3);
    EXPECT_EQ(console::ActivityLight::frameForLevel(0x7FFFFFFF), 3);
    // At and above full scale, as the strip meters read it.
    EXPECT_EQ(console::ActivityLight::frameForLevel(0x80000000u), 3);
    EXPECT_EQ(console::ActivityLight::frameForLevel(0xFFFFFFFFu), 3);

    FakeHost host(makeCaps({{0, 2}}, {{0, 4}}));
    console::VarnelTopTabBar bar(host, 700);
    ASSERT_EQ(bar.getLights().size(), 4);
    console::PolledSnapshot poll;
    poll.polled.meters[1] = 1u << 29;
    poll.polled.meters[2] = 90u << 24;
    bar.refresh(poll);
    EXPECT_EQ(bar.getLights()[0]->getFrame(), 0);
    EXPECT_EQ(bar.getLights()[1]->getFrame(), 2);
    EXPECT_EQ(bar.getLights()[2]->getFrame(), 3);
}

TEST(ActivityLights, ALightWithoutAChannelStaysDark)
{
    FakeHost host(makeCaps({{0, 2}}, {{0, 1}}));
    console::VarnelTopTabBar bar(host, 400);
    ASSERT_EQ(bar.getLights().size(), 2);
    console::PolledSnapshot poll;
    poll.polled.meters[0] = 0x7FFFFFFF;
    poll.polled.meters[1] = 0x7FFFFFFF;
    bar.refresh(poll);
    EXPECT_EQ(bar.getLights()[0]->getFrame(), 3);
    EXPECT_EQ(bar.getLights()[1]->getFrame(), 0);
}

} // namespace
