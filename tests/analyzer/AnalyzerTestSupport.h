#pragma once

// Helpers of the analyzer tests: a private bus, registry and documents folder per test, a message loop,
// and the devices of the analyzer's list.

#include "../registry/TempRegistry.h"
#include "TempBus.h"
#include "analyzer/AnalyzerDevices.h"

#include "GuiTest.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace analyzertest
{

using testsupport::haveDisplay;

// Runs the message loop until done() holds or timeoutMs passes; returns done().
template <typename Done> bool pumpUntil(Done done, int timeoutMs = 5000)
{
    const auto end = juce::Time::getMillisecondCounter() + uint32_t(timeoutMs);
    while (!done() && juce::Time::getMillisecondCounter() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    return done();
}

inline void pump(int ms)
{
    pumpUntil([] { return false; }, ms);
}

// A documents folder of the test's own (XDG_DOCUMENTS_DIR) for the test's lifetime.
class TempDocuments
{
public:
    TempDocuments()
    {
        static int serial = 0;
        dir = (std::filesystem::temp_directory_path() /
               ("strellis-docs-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
                  .string();
        std::filesystem::remove_all(dir);
        ::setenv("XDG_DOCUMENTS_DIR", dir.c_str(), 1);
    }
    ~TempDocuments()
    {
        ::unsetenv("XDG_DOCUMENTS_DIR");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    TempDocuments(const TempDocuments&) = delete;
    TempDocuments& operator=(const TempDocuments&) = delete;

    std::string reportPath() const { return dir + "/Latenzor report.txt"; }
    std::string readReport() const
    {
        std::ifstream in(reportPath(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir;
};

// A private bus, registry and documents folder.
struct Sandbox
{
    testsupport::TempBus bus;
    testsupport::TempRegistry registry;
    TempDocuments documents;

    // Runs a devsim command and fails the test when it is refused.
    void devsim(const std::string& command)
    {
        ASSERT_EQ(bus.devsim(command), 0) << command << ": " << bus.err;
    }
    // The value of a "devsim dump" line that starts with key and a blank.
    std::string dumped(const std::string& unit, const std::string& key)
    {
        bus.devsim("dump " + unit);
        std::istringstream lines(bus.out);
        for (std::string line; std::getline(lines, line);)
            if (line.compare(0, key.size() + 1, key + " ") == 0)
                return line.substr(key.size() + 1);
        return "(missing)";
    }
};

// The report with its date line (the second) taken out.
inline std::string withoutDateLine(const std::string& report)
{
    const size_t first = report.find("\r\n");
    const size_t second = first == std::string::npos ? first : report.find("\r\n", first + 2);
    if (second == std::string::npos)
        return report;
    return report.substr(0, first + 2) + report.substr(second + 2);
}

} // namespace analyzertest
