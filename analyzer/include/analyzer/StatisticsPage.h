#pragma once

// The statistics page, the analyzer window's only content: the first interface's sample rate, buffer size
// and buffer time, the kernel driver's timing statistics and the firmware's overrun counters, refreshed
// every 250 ms on the message thread; Reset clears the statistics of every interface, Save appends a text
// report to the documents folder.

#include "analyzer/AnalyzerDevices.h"
#include "analyzer/Report.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>

namespace analyzer
{

class Content : public juce::Component, public juce::Timer, public juce::Button::Listener
{
public:
    static constexpr int kRowCount = 22;
    static constexpr int kRefreshMs = 250;
    // Rows of the table (see the row table in the source).
    enum Row
    {
        kPlaybackCountRow = 1,
        kPlaybackMaxRow = 2,
        kPlaybackAverageRow = 3,
        kRecordCountRow = 6,
        kRecordMaxRow = 7,
        kRecordAverageRow = 8,
        kWakeupMaxRow = 11,
        kWakeupAverageRow = 12,
        kHostMaxRow = 15,
        kHostAverageRow = 16,
        kArmOverflowRow = 19,
        kDspOverflowRow = 20,
        kDspUnderrunRow = 21
    };
    static constexpr const char* kReportFileName = "Latenzor report.txt";

    // Reads device 0's driver information and starts the refresh timer.
    explicit Content(DeviceList& devices);
    ~Content() override;

    void paint(juce::Graphics& g) override;
    bool keyPressed(const juce::KeyPress& key) override;
    void timerCallback() override;
    void buttonClicked(juce::Button* button) override;

    // What the timer does: driver information, statistics and (while Update is on) the counters.
    void refresh();
    // Resets the statistics of every device of the list.
    void resetStatistics();
    // Fetches the counters and appends the report; the outcome is shown in a message box. True when
    // the report was written.
    bool saveReport();

    // The value label of a table row; null for a heading or blank row.
    juce::Label* getRowValue(int row) const;
    juce::TextButton& getUpdateButton() { return update_; }
    juce::TextButton& getSaveButton() { return save_; }
    juce::TextButton& getResetButton() { return reset_; }
    // The report's data as the page shows it now, with this date and time.
    ReportData collectReportData(const std::string& dateTime) const;

private:
    void updateBufferTime();
    void fetchFirmwareCounters();
    void showCounters();
    juce::Label* addLabel(const juce::String& name, const juce::String& text, juce::Rectangle<int> bounds,
                          bool isValue);

    DeviceList& devices_;
    juce::Label* sampleRateLabel_ = nullptr;
    juce::Label* bufferSizeLabel_ = nullptr;
    juce::Label* bufferTimeLabel_ = nullptr;
    juce::TextButton save_{"Save"};
    juce::TextButton reset_{"Reset"};
    juce::TextButton update_{"Update"};
    uint32_t lastRate_ = 0;
    uint32_t lastSize_ = 0;
    FirmwareCounters counters_; // the last fetched; 0 until a fetch succeeds
    juce::OwnedArray<juce::Label> labels_;
    std::array<juce::Label*, kRowCount> rowValues_{};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Content)
};

} // namespace analyzer
