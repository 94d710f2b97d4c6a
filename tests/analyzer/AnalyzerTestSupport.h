#pragma once

// Helpers of the analyzer tests: a private bus, registry and documents folder per test, a message loop,
// and the devices of the analyzer's list.

#include "MessageLoop.h"
#include "TempBus.h"
#include "TempRegistry.h"
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

using testsupport::pumpUntil;

// A documents folder of the test's own (XDG_DOCUMENTS_DIR) for the test's lifetime.
struct TempDocuments : sim::PrivateDirectory
{
    TempDocuments() : PrivateDirectory("XDG_DOCUMENTS_DIR", "strellis-docs-test") {}

    std::string reportPath() const { return dir + "/Latenzor report.txt"; }
    std::string readReport() const
    {
        std::ifstream in(reportPath(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
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
    std::string dumped(const std::string& unit, const std::string& key) { return bus.dumped(unit, key); }
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
