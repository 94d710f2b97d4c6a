#include "analyzer/StatisticsPage.h"

#include "analyzer/OhciList.h"
#include "formats/Wire.h"
#include "platform/KnownFolders.h"
#include "platform/MessageBox.h"
#include "platform/PerformanceCounter.h"

namespace analyzer
{
namespace
{

constexpr int kPageWidth = 340;
constexpr int kTableTop = 92;
constexpr int kRowHeight = 18;
constexpr int kValueX = kPageWidth / 2;
constexpr const char* kBoxTitle = "Latenzor";

const juce::Colour kPageColour(15, 15, 15);
const juce::Colour kValueColour(55, 55, 55);
const juce::Colour kGreyText(128, 128, 128);
const juce::Colour kActionButtonColour(0, 200, 0);

struct RowSpec
{
    const char* caption; // null for a blank row
    bool hasValue;
};

const RowSpec kRows[Content::kRowCount] = {
    {"Playback", false},    {"Buffer count", true}, {"Maximum time", true}, {"Average time", true},
    {nullptr, false},       {"Record", false},      {"Buffer count", true}, {"Maximum time", true},
    {"Average time", true}, {nullptr, false},       {"ASIO wakeup", false}, {"Maximum time", true},
    {"Average time", true}, {nullptr, false},       {"ASIO host", false},   {"Maximum time", true},
    {"Average time", true}, {nullptr, false},       {"Firmware", false},    {"ARM overflow", true},
    {"DSP overflow", true}, {"DSP underrun", true}};

juce::Font pageFont()
{
    // Just under 12.6: the height the page was laid out with.
    return juce::Font("Arial", 12.5999994f, juce::Font::bold);
}

juce::String decimal(uint32_t value)
{
    return juce::String(static_cast<juce::uint64>(value));
}

} // namespace

Content::Content(DeviceList& devices) : devices_(devices)
{
    setName("stats content");
    setOpaque(true);
    setSize(kPageWidth, 0);

    if (device::vhw::Ptr first = devices_.getDevice(0))
    {
        first->readDriverInfo();
        lastRate_ = first->getDriverInfo().sampleRate;
        lastSize_ = first->getDriverInfo().bufferSize;
    }
    const int valueWidth = kPageWidth / 4;
    sampleRateLabel_ =
        addLabel("samplerate", decimal(lastRate_) + " Hz", {kValueX, 22, valueWidth, 14}, true);
    addLabel({}, "Sample rate", {80, 20, valueWidth, 18}, false);
    bufferSizeLabel_ =
        addLabel("buffsize", decimal(lastSize_) + " samples", {kValueX, 40, valueWidth, 14}, true);
    addLabel({}, "Buffer size", {80, 38, valueWidth, 18}, false);
    bufferTimeLabel_ =
        addLabel("bufftime", formatBufferTime(lastSize_, lastRate_), {kValueX, 58, valueWidth, 14}, true);
    addLabel({}, "Buffer time", {80, 56, valueWidth, 18}, false);

    int y = kTableTop;
    for (int row = 0; row < kRowCount; ++row, y += kRowHeight)
    {
        const RowSpec& spec = kRows[row];
        if (spec.caption == nullptr)
            continue;
        if (spec.hasValue)
        {
            addLabel({}, spec.caption, {40, y, 110, kRowHeight}, false);
            rowValues_[row] = addLabel({}, {}, {kValueX, y + 2, 150, 14}, true);
        }
        else
            addLabel({}, spec.caption, {20, y, 130, kRowHeight}, false);
    }

    update_.setClickingTogglesState(true);
    update_.setToggleState(true, juce::dontSendNotification);
    update_.setColour(juce::TextButton::buttonColourId, kGreyText);
    update_.setColour(juce::TextButton::buttonOnColourId, juce::Colours::white);
    update_.setBounds(kPageWidth / 2 + 45, rowValues_[kArmOverflowRow]->getY() - 23, 60, 18);

    const int buttonY = y + 18;
    save_.setBounds((kPageWidth / 2 - 70) / 2, buttonY, 70, 26);
    reset_.setBounds((kPageWidth / 2 - 70) / 2 + kPageWidth / 2, buttonY, 70, 26);
    reset_.addShortcut(juce::KeyPress(juce::KeyPress::returnKey));
    for (juce::TextButton* b : {&save_, &reset_})
        b->setColour(juce::TextButton::buttonColourId, kActionButtonColour);
    for (juce::TextButton* b : {&update_, &save_, &reset_})
    {
        addAndMakeVisible(*b);
        b->addListener(this);
    }

    setSize(kPageWidth, y + 56);
    setWantsKeyboardFocus(true); // Esc ends the program
    toFront(true);
    startTimer(kRefreshMs);
}

Content::~Content()
{
    stopTimer();
    for (juce::TextButton* b : {&update_, &save_, &reset_})
        b->removeListener(this);
    removeAllChildren();
}

juce::Label* Content::addLabel(const juce::String& name, const juce::String& text,
                               juce::Rectangle<int> bounds, bool isValue)
{
    auto* label = labels_.add(new juce::Label(name, text));
    label->setFont(pageFont());
    label->setColour(juce::Label::backgroundColourId, isValue ? kValueColour : kPageColour);
    label->setColour(juce::Label::textColourId, juce::Colours::white);
    label->setBounds(bounds);
    addAndMakeVisible(label);
    return label;
}

void Content::paint(juce::Graphics& g)
{
    g.fillAll(kPageColour);
}

bool Content::keyPressed(const juce::KeyPress& key)
{
    if (key.getKeyCode() == juce::KeyPress::escapeKey)
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->systemRequestedQuit();
    juce::Component* parent = getParentComponent();
    return parent != nullptr && parent->keyPressed(key);
}

void Content::timerCallback()
{
    refresh();
}

void Content::refresh()
{
    device::vhw::Ptr first = devices_.getDevice(0);
    if (first == nullptr)
        return;
    const double millisecondsPerTick = 1000.0 / static_cast<double>(platform::queryPerformanceFrequency());

    // A failed request leaves the last driver information, so the labels keep their values.
    first->readDriverInfo();
    const formats::DriverInfo& info = first->getDriverInfo();
    if (info.sampleRate != lastRate_)
    {
        lastRate_ = info.sampleRate;
        sampleRateLabel_->setText(decimal(lastRate_) + " Hz", juce::dontSendNotification);
        updateBufferTime();
    }
    if (info.bufferSize != lastSize_)
    {
        lastSize_ = info.bufferSize;
        bufferSizeLabel_->setText(decimal(lastSize_) + " samples", juce::dontSendNotification);
        updateBufferTime();
    }

    // A device that could not be opened has no block: its rows stay empty.
    Statistics s;
    if (readStatistics(first->getStatisticsAddress(), s))
    {
        auto show = [this](int row, const juce::String& text)
        { rowValues_[row]->setText(text, juce::dontSendNotification); };
        auto time = [millisecondsPerTick](int64_t ticks)
        { return juce::String(formatMilliseconds(ticks, millisecondsPerTick)); };
        show(kPlaybackCountRow, decimal(s.playbackCount));
        show(kPlaybackMaxRow, time(s.playbackMaximum));
        show(kPlaybackAverageRow, time(s.playbackAverage));
        show(kRecordCountRow, decimal(s.recordCount));
        show(kRecordMaxRow, time(s.recordMaximum));
        show(kRecordAverageRow, time(s.recordAverage));
        show(kWakeupMaxRow, time(s.wakeupMaximum));
        show(kWakeupAverageRow, time(s.wakeupAverage));
        show(kHostMaxRow, time(s.hostMaximum));
        show(kHostAverageRow, time(s.hostAverage));
    }

    if (update_.getToggleState())
        fetchFirmwareCounters();
}

void Content::updateBufferTime()
{
    bufferTimeLabel_->setText(formatBufferTime(lastSize_, lastRate_), juce::dontSendNotification);
}

void Content::fetchFirmwareCounters()
{
    device::vhw::Ptr first = devices_.getDevice(0);
    if (first != nullptr && analyzer::fetchFirmwareCounters(*first, counters_) == formats::kResultDone)
        showCounters();
}

void Content::showCounters()
{
    rowValues_[kArmOverflowRow]->setText(decimal(counters_.armOverflow), juce::dontSendNotification);
    rowValues_[kDspUnderrunRow]->setText(decimal(counters_.dspUnderrun), juce::dontSendNotification);
    rowValues_[kDspOverflowRow]->setText(decimal(counters_.dspOverflow), juce::dontSendNotification);
}

void Content::resetStatistics()
{
    for (int i = 0; i < devices_.getCount(); ++i)
        if (device::vhw::Ptr d = devices_.getDevice(i))
            d->resetStatistics();
}

void Content::buttonClicked(juce::Button* button)
{
    if (button == &reset_)
        resetStatistics();
    else if (button == &save_)
        saveReport();
    else if (button == &update_)
    {
        const juce::Colour text = update_.getToggleState() ? juce::Colours::white : kGreyText;
        for (int row : {kArmOverflowRow, kDspOverflowRow, kDspUnderrunRow})
            rowValues_[row]->setColour(juce::Label::textColourId, text);
    }
}

juce::Label* Content::getRowValue(int row) const
{
    return row >= 0 && row < kRowCount ? rowValues_[row] : nullptr;
}

ReportData Content::collectReportData(const std::string& dateTime) const
{
    ReportData d;
    d.dateTime = dateTime;
    if (device::vhw::Ptr first = devices_.getDevice(0))
    {
        d.armVersion = first->getCaps().getArmVersion();
        d.dspVersion = first->getCaps().getDspVersion();
    }
    const OhciList controllers;
    for (const juce::String& id : controllers)
        d.controllers.push_back(id.toStdString());
    d.sampleRate = lastRate_;
    d.bufferSize = lastSize_;
    d.bufferTime = bufferTimeLabel_->getText().toStdString();
    auto row = [this](int r) { return rowValues_[r]->getText().toStdString(); };
    d.playbackCount = row(kPlaybackCountRow);
    d.playbackMaximum = row(kPlaybackMaxRow);
    d.playbackAverage = row(kPlaybackAverageRow);
    d.recordCount = row(kRecordCountRow);
    d.recordMaximum = row(kRecordMaxRow);
    d.recordAverage = row(kRecordAverageRow);
    d.wakeupMaximum = row(kWakeupMaxRow);
    d.wakeupAverage = row(kWakeupAverageRow);
    d.hostMaximum = row(kHostMaxRow);
    d.hostAverage = row(kHostAverageRow);
    d.counters = counters_;
    return d;
}

bool Content::saveReport()
{
    fetchFirmwareCounters();
    const ReportData data =
        collectReportData(juce::Time::getCurrentTime().toString(true, true, true, false).toStdString());
    std::string folder;
    const bool saved = platform::getDocumentsFolder(folder) &&
                       appendToFile(folder + "/" + kReportFileName, buildReportText(data));
    platform::messageBox(kBoxTitle,
                         saved ? "Report saved to your \"My Documents\" folder." : "Unable to save report");
    return saved;
}

} // namespace analyzer
