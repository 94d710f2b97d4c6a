#include "sim/PrivateBus.h"

#include "sim/Devsim.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace sim
{

PrivateDirectory::PrivateDirectory(const char* variable, const std::string& prefix) : variable_(variable)
{
    static std::atomic<int> serial{0};
    dir = (std::filesystem::temp_directory_path() /
           (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
              .string();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    if (const char* old = std::getenv(variable))
    {
        hadOld_ = true;
        old_ = old;
    }
    ::setenv(variable, dir.c_str(), 1);
}

PrivateDirectory::~PrivateDirectory()
{
    if (hadOld_)
        ::setenv(variable_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(variable_.c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

PrivateBus::PrivateBus() : PrivateDirectory("STRELLIS_SIM_DIR", "strellis-test") {}

int PrivateBus::devsim(const std::string& commandLine)
{
    std::istringstream words(commandLine);
    std::vector<std::string> args;
    for (std::string w; words >> w;)
        args.push_back(w);
    out.clear();
    err.clear();
    return devsimMain(args, out, err);
}

std::string PrivateBus::dumped(const std::string& unit, const std::string& key)
{
    if (devsim("dump " + unit) == 0)
    {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (line.compare(0, key.size() + 1, key + " ") == 0)
                return line.substr(key.size() + 1);
    }
    return "(no line " + key + ")";
}

} // namespace sim
