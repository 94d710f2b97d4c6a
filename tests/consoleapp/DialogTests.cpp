// The UI's dialogs: the flash progress window and the message boxes shown as alert windows.

#include "ConsoleTestSupport.h"
#include "console/ui/settings/SettingsGroups.h"
#include "console/ui/window/FlashProgressWindow.h"
#include "console/ui/window/JuceMessageBox.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

using namespace console;
using testsupport::Later;

TEST(FlashProgressWindowTest, EndBeforeTheModalLoopDoesNotHang)
{
    REQUIRE_DISPLAY();
    FlashProgressWindow window(nullptr, true);
    window.signalFinished();
    bool rescued = false;
    // Ends a loop that would otherwise never end: only a hang lasts that long.
    Later rescue(
        [&]
        {
            rescued = true;
            window.exitModalState(0);
        },
        testsupport::kHangMs);
    window.runUntilFinished();
    EXPECT_TRUE(window.hasFinished());
    EXPECT_FALSE(rescued);
    EXPECT_FALSE(window.isVisible());
}

TEST(FlashProgressWindowTest, ProgressMovesForwardByAtLeastTheMinimumStep)
{
    REQUIRE_DISPLAY();
    FlashProgressWindow window(nullptr, false);
    window.setProgress(0.04f);
    EXPECT_EQ(window.getProgress(), 0.0f);
    window.setProgress(0.05f);
    EXPECT_FLOAT_EQ(window.getProgress(), 0.05f);
    window.setProgress(0.02f);
    EXPECT_FLOAT_EQ(window.getProgress(), 0.05f);
    window.setMinimumStep(0.0f);
    window.setProgress(0.051f);
    EXPECT_FLOAT_EQ(window.getProgress(), 0.051f);
    window.resetProgress();
    EXPECT_EQ(window.getProgress(), 0.0f);
    EXPECT_EQ(window.getTitle(), "Flash update");
    EXPECT_EQ(window.getWidth(), 350);
    EXPECT_EQ(window.getHeight(), 180);
    EXPECT_TRUE(window.isOnDesktop());
}

TEST(JuceMessageBoxTest, AlertAnswersItsButtonsAndOtherThreadsGetTheCautiousAnswer)
{
    REQUIRE_DISPLAY();
    const auto present = makeJuceMessageBoxPresenter();
    juce::String title;
    Later press(
        [&]
        {
            auto* alert = dynamic_cast<juce::AlertWindow*>(
                juce::ModalComponentManager::getInstance()->getModalComponent(0));
            ASSERT_NE(alert, nullptr);
            title = alert->getName();
            alert->exitModalState(1); // the first button
        });
    EXPECT_EQ(present("u1", "Update now?", platform::MB_YESNO), platform::IDYES);
    EXPECT_EQ(title, "u1");

    int answers[3] = {};
    std::thread other(
        [&]
        {
            answers[0] = present("t", "x", platform::MB_YESNO);
            answers[1] = present("t", "x", platform::MB_OKCANCEL);
            answers[2] = present("t", "x", platform::MB_OK);
        });
    other.join();
    EXPECT_EQ(answers[0], platform::IDNO);
    EXPECT_EQ(answers[1], platform::IDCANCEL);
    EXPECT_EQ(answers[2], platform::IDOK);
}

TEST(JuceMessageBoxTest, TheBoxShowsEachLineOfItsTextWholeAsALineOfItsOwn)
{
    REQUIRE_DISPLAY();
    const auto present = makeJuceMessageBoxPresenter();
    const juce::String text = BufferSize::kRefusalText;
    juce::StringArray lines;
    Later look(
        [&]
        {
            auto* alert = dynamic_cast<juce::AlertWindow*>(
                juce::ModalComponentManager::getInstance()->getModalComponent(0));
            ASSERT_NE(alert, nullptr);
            // The labels the box draws text in (the framework keeps an invisible one for screen readers),
            // top to bottom.
            std::vector<juce::Label*> labels;
            std::function<void(juce::Component&)> collect = [&](juce::Component& parent)
            {
                for (juce::Component* child : parent.getChildren())
                {
                    auto* label = dynamic_cast<juce::Label*>(child);
                    if (label != nullptr && label->isShowing() &&
                        !label->findColour(juce::Label::textColourId).isTransparent())
                        labels.push_back(label);
                    collect(*child);
                }
            };
            collect(*alert);
            std::sort(labels.begin(), labels.end(),
                      [alert](juce::Label* a, juce::Label* b) {
                          return alert->getLocalPoint(a, juce::Point<int>()).y <
                                 alert->getLocalPoint(b, juce::Point<int>()).y;
                      });
            for (juce::Label* label : labels)
            {
                lines.add(label->getText());
                const juce::Rectangle<int> area =
                    label->getBorderSize().subtractedFrom(label->getLocalBounds());
                EXPECT_LE(label->getFont().getStringWidthFloat(label->getText()), float(area.getWidth()))
                    << label->getText();
                EXPECT_GE(float(area.getHeight()), label->getFont().getHeight());
                EXPECT_TRUE(
                    alert->getLocalBounds().contains(alert->getLocalArea(label, label->getLocalBounds())));
            }
            alert->exitModalState(0);
        });
    EXPECT_EQ(present("Varnel Strellis Console", text.toStdString(), platform::MB_OK), platform::IDOK);
    EXPECT_EQ(lines.joinIntoString("\n"), text);
}
