#pragma once

// The settings page's groups besides the sample rate: clock source, ASIO buffer size, playback routing,
// phantom power, S/PDIF format and wave-device mode. Each is a device-bound control: clicks and what
// the screen shows run on the message thread, the device requests on the window's hardware thread.
// Each group sizes itself and adds itself to the page, which places it.

#include "console/core/DeviceRead.h"
#include "console/core/HwCtrl.h"
#include "console/core/PolledSnapshot.h"

#include "device/HwInfoCaps.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace console
{

class ConsoleState;
class ConsoleContext;
class SettingsPageHost;

// "Clock source": one radio button per clock the device supports, the selected one on, those the device
// does not detect greyed out ("Internal" never). The selection is image word 24; choosing a source sends
// it with the rate kept. The unit's source is read when the window opens: the selection and the image
// take it, unless the user chose, loaded or reset since the read began.
class ClockSource : public juce::GroupComponent, public HwCtrl, private juce::Button::Listener
{
public:
    static constexpr int kRadioGroup = 0x636C6F6B; // 'clok'
    static constexpr int kAdat = 4;                // its button keeps its place but is hidden

    ClockSource(ConsoleContext& content, SettingsPageHost& page);
    ~ClockSource() override;

    void readFromDevice() override;
    void writeToDevice() override;
    // A supported index of image word 24 becomes the selection; the selection is stored back and shown.
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState& state) override;
    void resetToDefault() override {}

    // The button of the selected source is on, every other off.
    void handleCommandMessage(int commandId) override;
    // After every poll: when the status word changed (and always the first time), each source button
    // but "Internal" is enabled exactly when its clock is detected.
    void updateLockStatus(const PolledSnapshot& snapshot);

    int getSelected() const { return selected_.load(); }
    // The button of clock index i (0 to 5); null when the device lacks that clock.
    juce::ToggleButton* getButton(int clock) const;
    int getButtonCount() const { return count_; }

private:
    void buttonClicked(juce::Button* button) override;
    // The device has clock i (0 to 5).
    bool isSupported(int clock) const;

    ConsoleContext& content_;
    std::atomic<int> selected_{0};
    DeviceRead read_{*this};
    int count_ = 0;
    std::array<std::unique_ptr<juce::ToggleButton>, 6> buttons_;
    uint32_t lastStatus_ = 0;
    bool statusShown_ = false;
};

// The buffer-size slider: its text is the size with its length at the state's sample rate.
class StBufferSizeSlider : public juce::Slider
{
public:
    explicit StBufferSizeSlider(ConsoleState& state);
    // "256 samples / 5.3 msec"; empty while the state's rate (image word 28) is 0.
    juce::String getTextFromValue(double value) override;

private:
    ConsoleState& state_;
};

// "Buffer size": the kernel driver's ASIO buffer size, 32 to 2048 samples in steps of 32. The driver
// refuses a change while an ASIO application holds the device: the group then tells the user and goes
// back to the driver's size.
class BufferSize : public juce::GroupComponent, private juce::Slider::Listener, public HwCtrl
{
public:
    static constexpr const char* kRefusalText =
        "\nYour device is currently being used by an ASIO application.\n\nPlease change the buffer size "
        "from that application using\nthe ASIO control panel.";

    // Adds itself to the page and queues its first read.
    BufferSize(ConsoleContext& content, SettingsPageHost& page);
    ~BufferSize() override;

    // Skipped while a drag's SET is queued; the size read is kept for handleCommandMessage.
    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}

    // 0: a size read since the user's latest drag becomes the size; the slider shows the size. 1: the
    // refusal alert.
    void handleCommandMessage(int commandId) override;

    // The size the group shows and sends (0 until the driver's was first read; nothing is sent then).
    int getSize() const { return size_.load(); }
    StBufferSizeSlider& getSlider() { return slider_; }

private:
    void sliderValueChanged(juce::Slider*) override {}
    void sliderDragStarted(juce::Slider*) override {}
    void sliderDragEnded(juce::Slider* slider) override;

    // Brings a refused write's alert to the message thread without allocating.
    class RefusalNotifier : public juce::AsyncUpdater
    {
    public:
        explicit RefusalNotifier(BufferSize& owner) : owner_(owner) {}
        ~RefusalNotifier() override { cancelPendingUpdate(); }

    private:
        void handleAsyncUpdate() override { owner_.handleCommandMessage(1); }
        BufferSize& owner_;
    };

    ConsoleContext& content_;
    std::atomic<int> size_{0}; // set on the message thread
    DeviceRead read_{*this};
    StBufferSizeSlider slider_;
    RefusalNotifier refusal_{*this};
};

// "Routing": which of the first three playback pairs feeds each of the first three output pairs. The
// choice is the routing record of the image (70 words; word 4 + i = first playback channel of output
// pair i), sent whole.
class IsocMap : public juce::GroupComponent, public HwCtrl, private juce::ComboBox::Listener
{
public:
    static constexpr int kRows = 3;

    IsocMap(ConsoleContext& content, SettingsPageHost& page);
    ~IsocMap() override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState&) override {}
    // Output pair i from playback pair i; the record otherwise zero but its entry count (3).
    void resetToDefault() override;

    // A record read from the device goes into the image; each box shows the pair of its word.
    void handleCommandMessage(int commandId) override;

    juce::ComboBox& getComboBox(int row) { return boxes_[size_t(row)]; }
    juce::Label& getLabel(int row) { return labels_[size_t(row)]; }
    // The label of output pair row, from the capability record.
    static juce::String outputLabel(const device::HwInfoCaps& caps, int row);

private:
    using Record = std::array<uint32_t, 70>;
    void comboBoxChanged(juce::ComboBox* box) override;
    Record copyRecord() const; // callers hold routingLock_
    void storeRecord(const Record& record);

    ConsoleContext& content_;
    std::array<juce::ComboBox, kRows> boxes_;
    std::array<juce::Label, kRows> labels_;
    // Every copy of the record into or out of the image is whole with respect to the other thread.
    mutable std::mutex routingLock_;
    Record readRecord_{}; // guarded by routingLock_: the last record read, not yet in the image
    bool haveRead_ = false;
};

// "Phantom power": the +48 V supply of the microphone inputs (image word 12, bit 31). What the unit runs
// is read when the window opens: the button and the image take it, unless the user clicked, loaded or
// reset since the read began.
class PhantomPower : public juce::GroupComponent, public HwCtrl, private juce::Button::Listener
{
public:
    PhantomPower(ConsoleContext& content, SettingsPageHost& page);
    ~PhantomPower() override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState& state) override;
    // "Reset" keeps phantom power as it is (and sends it again).
    void resetToDefault() override {}
    void handleCommandMessage(int commandId) override;

    int getValue() const { return value_.load(); }
    juce::ToggleButton& getButton() { return button_; }

private:
    void buttonClicked(juce::Button* button) override;

    ConsoleContext& content_;
    std::atomic<int> value_{0};
    DeviceRead read_{*this};
    juce::ToggleButton button_{"+48V"};
};

// "S/PDIF format": consumer or professional channel status (device flag bit 1; image word 12, bit 1).
class SpdifFormat : public juce::GroupComponent, public HwCtrl, private juce::Button::Listener
{
public:
    static constexpr int kRadioGroup = 0x73706466; // 'spdf'

    SpdifFormat(ConsoleContext& content, SettingsPageHost& page);
    ~SpdifFormat() override;

    void readFromDevice() override;
    void writeToDevice() override;
    void loadFromState(ConsoleState& state, bool send) override;
    void storeToState(ConsoleState& state) override;
    // Consumer.
    void resetToDefault() override;
    void handleCommandMessage(int commandId) override;

    int getValue() const { return value_.load(); }
    juce::ToggleButton& getConsumerButton() { return consumer_; }
    juce::ToggleButton& getProfessionalButton() { return professional_; }

private:
    void buttonClicked(juce::Button* button) override;

    ConsoleContext& content_;
    std::atomic<int> value_{0};
    juce::ToggleButton consumer_{"Consumer"};
    juce::ToggleButton professional_{"Professional"};
};

// "Wave devices": whether the kernel driver presents the playback channels as stereo wave devices or as
// one surround device (driver flag bit 1). Not part of the session. The change takes effect when the
// device restarts: before Vista the user is told so; on Vista and later the page pauses instead.
class Surround : public juce::GroupComponent, public HwCtrl, private juce::Button::Listener
{
public:
    static constexpr int kRadioGroup = 0x73757272; // 'surr'
    static constexpr const char* kRestartText =
        "To apply this change, please restart or reconnect your Strellis.";

    // Reads the driver's mode when the hardware thread starts.
    Surround(ConsoleContext& content, SettingsPageHost& page);
    ~Surround() override;

    // Skipped while a choice is queued; the mode read is kept for handleCommandMessage.
    void readFromDevice() override;
    // Sends nothing while the mode is unknown (no read has succeeded and the user has not chosen): the
    // start-up choice is no mode of the driver's. A failed request is logged and the buttons go back to
    // the driver's last known mode (read or sent), on the message thread under the rule of a read; with
    // none, the mode is unknown again.
    void writeToDevice() override;
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}
    // A mode read (or a failed send's driver mode) since the user's latest choice becomes the group's;
    // the buttons show the mode.
    void handleCommandMessage(int commandId) override;

    int getValue() const { return value_.load(); }
    juce::ToggleButton& getStereoButton() { return stereo_; }
    juce::ToggleButton& getSurroundButton() { return surround_; }

private:
    void buttonClicked(juce::Button* button) override;

    ConsoleContext& content_;
    SettingsPageHost& page_;
    static constexpr int kStartValue = 1;   // shown until a mode is known: "Surround sound"
    static constexpr int kModeUnknown = -1; // no read has succeeded and no send either

    std::atomic<int> value_{kStartValue};       // set on the message thread
    std::atomic<int> driverMode_{kModeUnknown}; // the mode the driver was last known to have
    std::atomic<bool> known_{false};            // value_ is the driver's (read) or the user's (clicked)
    // A read's mode reaches value_ on the message thread, unless the user chose since the read began.
    DeviceRead read_{*this};
    juce::ToggleButton stereo_{"Stereo"};
    juce::ToggleButton surround_{"Surround sound"};
};

// The title of the console's alerts.
inline constexpr const char* kConsoleAlertTitle = "Varnel Strellis Console";

} // namespace console
