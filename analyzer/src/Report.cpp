#include "analyzer/Report.h"

#include <cstdio>
#include <cstring>

namespace analyzer
{
namespace
{

int64_t read64(const uint8_t* block, int offset)
{
    int64_t value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

uint32_t read32(const uint8_t* block, int offset)
{
    uint32_t value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

// Captions are padded with blanks to this width, so the values line up.
constexpr size_t kCaptionWidth = 26;

std::string caption(const char* text)
{
    std::string padded(text);
    if (padded.size() < kCaptionWidth)
        padded.append(kCaptionWidth - padded.size(), ' ');
    return padded;
}

} // namespace

bool readStatistics(const void* block, Statistics& out)
{
    if (block == nullptr)
        return false;
    const auto* b = static_cast<const uint8_t*>(block);
    out.playbackAverage = read64(b, 0);
    out.playbackMaximum = read64(b, 8);
    out.recordAverage = read64(b, 24);
    out.recordMaximum = read64(b, 32);
    out.wakeupAverage = read64(b, 72);
    out.wakeupMaximum = read64(b, 80);
    out.hostAverage = read64(b, 96);
    out.hostMaximum = read64(b, 104);
    out.playbackCount = read32(b, 124);
    out.recordCount = read32(b, 128);
    return true;
}

std::string formatMilliseconds(int64_t ticks, double millisecondsPerTick)
{
    char text[64];
    std::snprintf(text, sizeof text, "%0.3f msec", static_cast<double>(ticks) * millisecondsPerTick);
    return text;
}

std::string formatBufferTime(uint32_t bufferSize, uint32_t sampleRate)
{
    if (sampleRate == 0)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.03f msec",
                  static_cast<double>(bufferSize) / static_cast<double>(sampleRate) * 1000.0);
    return text;
}

std::string formatAnalyzerVersion(uint32_t version)
{
    std::string text = std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF);
    if (const uint32_t build = (version >> 8) & 0xFF; build != 0)
        text.append(".").append(std::to_string(build));
    if (const uint32_t revision = (version >> 4) & 0xF; revision != 0)
        text.append(".").append(std::to_string(revision));
    return text;
}

std::string buildReportText(const ReportData& d)
{
    std::string t;
    auto line = [&t](const std::string& text) { t += text + "\r\n"; };
    line("Latenzor report");
    line(d.dateTime);
    line("ARM code: " + formatAnalyzerVersion(d.armVersion));
    line("DSP code: " + formatAnalyzerVersion(d.dspVersion));
    if (d.controllers.size() == 1)
        line("1394 controller: " + d.controllers[0]);
    else
    {
        line("1394 controllers: " + std::to_string(d.controllers.size()));
        for (const std::string& id : d.controllers)
            line("     " + id);
        line("");
    }
    line(caption("Sample rate:") + std::to_string(d.sampleRate));
    line(caption("Buffer size:") + std::to_string(d.bufferSize));
    line(caption("Nominal buffer time:") + d.bufferTime);
    line("");
    line(caption("Playback count:") + d.playbackCount);
    line(caption("Playback max time:") + d.playbackMaximum);
    line(caption("Playback average time:") + d.playbackAverage);
    line("");
    line(caption("Record count:") + d.recordCount);
    line(caption("Record max time:") + d.recordMaximum);
    line(caption("Record average time:") + d.recordAverage);
    line("");
    line(caption("ASIO wakeup max time:") + d.wakeupMaximum);
    line(caption("ASIO wakeup average time:") + d.wakeupAverage);
    line("");
    line(caption("ASIO host max time:") + d.hostMaximum);
    line(caption("ASIO host average time:") + d.hostAverage);
    line("");
    line(caption("ARM overflow:") + std::to_string(d.counters.armOverflow));
    line(caption("DSP underrun:") + std::to_string(d.counters.dspUnderrun));
    line(caption("DSP overflow:") + std::to_string(d.counters.dspOverflow));
    line("");
    line("");
    line("");
    return t;
}

bool appendToFile(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

} // namespace analyzer
