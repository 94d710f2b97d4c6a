#pragma once

// The fixtures of the console program's tests: a private home in the private bus folder, and on top of it
// a console window of a simulated unit. Each suite adds what its unit and its checks need.

#include "ConsoleTestSupport.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"
#include "console/ui/window/ConsoleWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace consoletest
{

// HOME points into the bus folder (restored afterwards), so that the program's properties and documents
// stay in the test's own folder; the trace is the bus's.
class PrivateHomeFixture : public ::testing::Test
{
protected:
    // Derived fixtures go on only when this has neither skipped nor failed.
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        const char* home = std::getenv("HOME");
        oldHome_ = home != nullptr ? home : "";
        home_ = bus_.dir + "/home";
        std::filesystem::create_directories(home_);
        ::setenv("HOME", home_.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
    }

    void TearDown() override
    {
        if (!oldHome_.empty())
            ::setenv("HOME", oldHome_.c_str(), 1);
    }

    static bool setUpStopped() { return IsSkipped() || HasFatalFailure(); }

    testsupport::TempBus bus_;
    Trace trace_{bus_.dir};
    std::string home_;

private:
    std::string oldHome_;
};

// A console window, in the console's look, of the first unit plugged on the bus.
class ConsoleWindowFixture : public PrivateHomeFixture
{
protected:
    void SetUp() override
    {
        PrivateHomeFixture::SetUp();
        if (setUpStopped())
            return;
        console::installConsoleLookAndFeel();
    }

    void TearDown() override
    {
        destroyWindow();
        device_ = nullptr;
        PrivateHomeFixture::TearDown();
    }

    // Deletes the window; a drain's barrier goes first, once the thread that may hold it has stopped.
    void destroyWindow()
    {
        if (barrier_ != nullptr)
        {
            stopHardwareThread();
            barrier_.reset();
        }
        window_.reset();
    }

    // Waits until the hardware thread has done everything queued so far and its results are shown, and
    // until every value the window reads from its unit has arrived (each part is queued once the one
    // before it has arrived).
    void drain()
    {
        if (barrier_ == nullptr)
            barrier_ = std::make_unique<ThreadBarrier>(*content().getControls());
        do
        {
            barrier_->queue();
            ASSERT_TRUE(pumpUntil([&] { return barrier_->passed(); }));
            ASSERT_TRUE(pumpPosted()); // what the reads before it posted
        } while (content().getUnitRead()->isReading());
    }

    // Plugs u1 with these arguments ("--model st8 --unique-name S", "--caps <file>", ...).
    void plug(const std::string& arguments) { ASSERT_EQ(bus_.devsim("plug u1 " + arguments), 0) << bus_.err; }

    // Opens the device of the first plugged unit.
    void openDevice()
    {
        device_ = firstDevice();
        ASSERT_NE(device_, nullptr);
        ASSERT_TRUE(device_->open());
    }

    // Shows a window for the open device.
    void showWindow()
    {
        window_ = std::make_unique<console::ConsoleWindow>(*device_);
        window_->setVisible(true);
    }

    // Plugs u1, shows its window and clears the trace of what the window sent while opening.
    void plugAndShow(const std::string& arguments)
    {
        ASSERT_NO_FATAL_FAILURE(plug(arguments));
        ASSERT_NO_FATAL_FAILURE(openDevice());
        showWindow();
        trace_.clear();
    }

    // Stops the window's hardware thread, for a test whose own controls go before the window: the thread
    // may still hold them.
    void stopHardwareThread()
    {
        if (window_ == nullptr)
            return;
        console::hwthread* thread = content().getHwThread();
        thread->clearWindow();
        thread->signalThreadShouldExit();
        thread->notify();
        thread->waitForStop(-1);
    }

    console::CwContent& content() const { return window_->getContent(); }
    console::ConsoleState& state() const { return window_->getState(); }

    device::vhw::Ptr device_;
    std::unique_ptr<console::ConsoleWindow> window_;

private:
    std::unique_ptr<ThreadBarrier> barrier_;
};

} // namespace consoletest
