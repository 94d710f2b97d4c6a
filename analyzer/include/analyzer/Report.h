#pragma once

// The kernel driver's timing statistics as the analyzer reads them, the texts the statistics page shows,
// and the text report that each save appends to "Latenzor report.txt".

#include "analyzer/AnalyzerDevices.h"

#include <cstdint>
#include <string>
#include <vector>

namespace analyzer
{

// The fields of the driver's statistics block that the analyzer reads (little-endian; times in
// performance-counter ticks).
struct Statistics
{
    int64_t playbackAverage = 0; // byte 0
    int64_t playbackMaximum = 0; // byte 8
    int64_t recordAverage = 0;   // byte 24
    int64_t recordMaximum = 0;   // byte 32
    int64_t wakeupAverage = 0;   // byte 72
    int64_t wakeupMaximum = 0;   // byte 80
    int64_t hostAverage = 0;     // byte 96
    int64_t hostMaximum = 0;     // byte 104
    uint32_t playbackCount = 0;  // byte 124
    uint32_t recordCount = 0;    // byte 128
};

// Reads each field of the block once (the driver writes it meanwhile, so fields may come from different
// moments). False, leaving out as it was, when there is no block.
bool readStatistics(const void* block, Statistics& out);

// ticks x factor (milliseconds per tick) as "%0.3f msec".
std::string formatMilliseconds(int64_t ticks, double millisecondsPerTick);

// The nominal buffer time, size / rate in milliseconds as "%.03f msec"; empty while the rate is 0.
std::string formatBufferTime(uint32_t bufferSize, uint32_t sampleRate);

// A firmware version word as the analyzer shows it: "major.minor", then ".b" for a nonzero bits 15-8,
// then ".c" for a nonzero bits 7-4 (bits 3-0 are never shown).
std::string formatAnalyzerVersion(uint32_t version);

// Everything one report holds, as the page last showed it.
struct ReportData
{
    std::string dateTime;
    uint32_t armVersion = 0;
    uint32_t dspVersion = 0;
    std::vector<std::string> controllers; // instance ids of the 1394 host controllers
    uint32_t sampleRate = 0;
    uint32_t bufferSize = 0;
    std::string bufferTime;
    std::string playbackCount, playbackMaximum, playbackAverage;
    std::string recordCount, recordMaximum, recordAverage;
    std::string wakeupMaximum, wakeupAverage;
    std::string hostMaximum, hostAverage;
    FirmwareCounters counters;
};

// The report's text with CR LF line ends, ending in three empty lines.
std::string buildReportText(const ReportData& data);

// Appends the text to the file (created when missing). True only when all of it was written and the file
// closed without error.
bool appendToFile(const std::string& path, const std::string& text);

} // namespace analyzer
