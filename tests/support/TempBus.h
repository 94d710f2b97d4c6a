#pragma once

// A private simulator bus for one test: a fresh bus directory in STRELLIS_SIM_DIR for the test's
// lifetime, and devsim commands run in-process against it.

#include "sim/Devsim.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace testsupport
{

class TempBus
{
public:
    TempBus()
    {
        static int serial = 0;
        dir = (std::filesystem::temp_directory_path() /
               ("strellis-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
                  .string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const char* old = std::getenv("STRELLIS_SIM_DIR");
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        ::setenv("STRELLIS_SIM_DIR", dir.c_str(), 1);
    }

    ~TempBus()
    {
        if (hadOld_)
            ::setenv("STRELLIS_SIM_DIR", old_.c_str(), 1);
        else
            ::unsetenv("STRELLIS_SIM_DIR");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    TempBus(const TempBus&) = delete;
    TempBus& operator=(const TempBus&) = delete;

    // Runs "devsim <words>" (split at blanks) and returns its exit status; out/err keep what it printed.
    int devsim(const std::string& commandLine)
    {
        std::istringstream words(commandLine);
        std::vector<std::string> args;
        for (std::string w; words >> w;)
            args.push_back(w);
        out.clear();
        err.clear();
        return sim::devsimMain(args, out, err);
    }

    std::string dir;
    std::string out;
    std::string err;

private:
    bool hadOld_ = false;
    std::string old_;
};

} // namespace testsupport
