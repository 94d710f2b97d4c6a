#pragma once

// The sample-rate groups of the settings page.
//
// SampleRate offers one radio button per rate of the console's list that the device supports (from its
// lowest rate to its highest). Before Vista the rate is the device's clock rate (image word at byte 28),
// set with the VDC clock commands, and a "Locked" toggle (StSampleRateLock) sets the kernel driver's
// rate lock; a locked rate is unlocked around the change and locked again after it. On Vista and later
// the group is the "Core Audio sample rate", the kernel driver's rate (kept beside the image) set through
// its own requests, and SampleRateDisplay shows the rate the device's clock runs at (image word 28).
// Both groups follow a rate set elsewhere: after every poll the display reads the clock, and SampleRate
// reads its rate again when the driver's differs from the one it shows.
//
// No rate outside the offered list is ever sent: a session's rate the device does not offer stays in
// the image but is not sent, and on Vista nothing is sent before the driver's rate was first read.
//
// Threads: the device reads and writes run on the window's hardware thread; clicks, the display and
// the per-poll refresh on the message thread. A rate read from the device reaches the state on the
// message thread, and only when the user has not chosen a rate, loaded a session or reset since the read
// began (DeviceRead); so does a lock read reach the toggle, unless the user clicked it since.

#include "console/core/DeviceRead.h"
#include "console/core/HwCtrl.h"
#include "console/core/PolledSnapshot.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace console
{

class ConsoleContext;
class SettingsPageHost;

// The console's sample rates, Hz.
inline constexpr std::array<int, 7> kSampleRates = {32000, 44100, 48000, 88200, 96000, 176400, 192000};

// "48 kHz", "44.1 kHz", "176.4 kHz".
juce::String formatSampleRate(int rate);

// The sample-rate group the page refreshes after every poll.
class SampleRateBase
{
public:
    virtual ~SampleRateBase() = default;
    virtual void refresh(const PolledSnapshot& snapshot) = 0;
};

// "Locked": the kernel driver's rate lock (driver flag bit 0). Before Vista only.
class StSampleRateLock : public juce::ToggleButton, public HwCtrl
{
public:
    // Reads the driver's lock when the hardware thread starts.
    explicit StSampleRateLock(ConsoleContext& content);

    // Skipped while a click's SET is queued; the lock read is kept for handleCommandMessage.
    void readFromDevice() override;
    // Sends nothing while the lock is unknown (no read has succeeded and the user has not clicked).
    void writeToDevice() override;
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}

    // Id 0: a lock read since the user's latest click becomes the lock value; the toggle follows the
    // lock value. Other ids are the button's own.
    void handleCommandMessage(int commandId) override;
    // Any thread: the lock the control stands for (what a rate change restores).
    bool getLockValue() const { return lock_.load(); }

protected:
    void clicked() override;

private:
    ConsoleContext& content_;
    std::atomic<bool> lock_{false};  // set on the message thread
    std::atomic<bool> known_{false}; // lock_ is the driver's (read) or the user's (clicked)
    DeviceRead read_{*this};
};

class SampleRate : public juce::GroupComponent,
                   public HwCtrl,
                   public SampleRateBase,
                   private juce::Button::Listener
{
public:
    static constexpr int kRadioGroup = 0x72617465; // 'rate'

    // Sizes itself, adds itself to the page (which places it) and queues its first read.
    SampleRate(ConsoleContext& content, SettingsPageHost& page);
    ~SampleRate() override;

    void readFromDevice() override;
    void writeToDevice() override;
    // Shows the state's rate when image word 28 lies within the device's range. A session load (send)
    // counts as a change of the user's, with the SET its caller queues: a rate read before it is dropped.
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState&) override {}
    // "Reset" keeps the rate (and sends it again); its SET counts as a change of the user's, as a load's.
    void resetToDefault() override {}

    // A rate read from the device (unless the user chose one since) goes into the state; then the
    // button of the shown rate is on and every other off, and the buffer-size text follows.
    void handleCommandMessage(int commandId) override;
    // Reads the device's rate again when the driver's differs from the rate the group shows and no
    // change of the user's is on its way.
    void refresh(const PolledSnapshot& snapshot) override;

    int getButtonCount() const { return count_; }
    // Button k shows the k-th offered rate.
    juce::ToggleButton* getButton(int k) const;
    int getButtonRate(int k) const;
    // Whether the group offers this rate (it is in the list and within the device's range).
    bool isOffered(int rate) const;
    StSampleRateLock* getLock() const { return lock_.get(); }

private:
    void buttonClicked(juce::Button* button) override;
    int shownRate() const;

    ConsoleContext& content_;
    SettingsPageHost& page_;
    const bool vista_;
    int count_ = 0;
    std::array<int, kSampleRates.size()> rates_{};
    std::array<std::unique_ptr<juce::ToggleButton>, kSampleRates.size()> buttons_;
    std::unique_ptr<StSampleRateLock> lock_;
    std::atomic<bool> changePending_{false}; // set by a click, cleared when a write starts
    DeviceRead read_{*this};                 // the last rate read, not yet in the state
};

// On Vista and later: the rate the device's clock runs at, read after every poll.
class SampleRateDisplay : public juce::GroupComponent, public SampleRateBase, public HwCtrl
{
public:
    // Sizes itself, adds itself to the page (which places it) and queues its first read.
    SampleRateDisplay(ConsoleContext& content, SettingsPageHost& page);

    void readFromDevice() override;
    void writeToDevice() override {}
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}

    // A clock rate read goes into image word 28; the label shows that word.
    void handleCommandMessage(int commandId) override;
    void refresh(const PolledSnapshot& snapshot) override;

    const juce::Label& getLabel() const { return label_; }

private:
    ConsoleContext& content_;
    SettingsPageHost& page_;
    juce::Label label_{"sr display"};
    std::atomic<int> readRate_{0};
    std::atomic<bool> haveRead_{false};
};

} // namespace console
