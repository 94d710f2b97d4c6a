#include "simos/HostControllers.h"
#include "simos/BusDirectory.h"
#include "simos/CommandWords.h"

#include "simos/PerformanceCounter.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace sim::os
{

const char* const kDefaultHostControllerId = "PCI\\VEN_FFFE&DEV_1394&SUBSYS_00000000&REV_01\\3&SIMBUS&0&0008";

namespace
{

// First line of the file; then "fail" or "ok", then one instance id per line.
constexpr const char* kMagic = "strellis-controllers 1";

std::string listPath()
{
    return busDirectory() + "/controllers";
}

} // namespace

HostControllerList hostControllers()
{
    HostControllerList list;
    std::ifstream in(listPath(), std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kMagic || !std::getline(in, line))
    {
        list.instanceIds.push_back(kDefaultHostControllerId);
        return list;
    }
    list.queryFails = line == "fail";
    while (std::getline(in, line))
        if (!line.empty())
            list.instanceIds.push_back(line);
    return list;
}

bool setHostControllers(const HostControllerList& list)
{
    const std::string dir = busDirectory();
    ::mkdir(dir.c_str(), 0700);
    const std::string path = listPath();
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << kMagic << '\n' << (list.queryFails ? "fail" : "ok") << '\n';
        for (const std::string& id : list.instanceIds)
            out << id << '\n';
        out.close();
        if (!out)
        {
            std::remove(temporary.c_str());
            return false;
        }
    }
    // Readers see the old list or the new one, never a part.
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

int devsimControllers(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    (void)out;
    HostControllerList list;
    if (!args.empty() && args[0] == "--fail")
    {
        if (args.size() > 1)
        {
            err += "devsim: " + unexpectedWord(args[1], "controllers --fail") + "\n";
            return 2;
        }
        list.queryFails = true;
    }
    else
        for (const std::string& id : args)
        {
            if (id.empty() || id.compare(0, 2, "--") == 0 || id.find_first_of("\r\n") != std::string::npos)
            {
                err += "devsim: not an instance id: " + id + "\n";
                return 2;
            }
            list.instanceIds.push_back(id);
        }
    if (!setHostControllers(list))
    {
        err += "devsim: cannot write " + listPath() + "\n";
        return 1;
    }
    return 0;
}

int devsimOs(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    if (args.empty())
    {
        out += "qpf " + std::to_string(performanceFrequency()) + "\n";
        return 0;
    }
    if (args[0] != "qpf")
    {
        err += "devsim: unknown os setting " + args[0] + " (devsim --help lists them)\n";
        return 2;
    }
    if (args.size() == 1)
    {
        err += "devsim: os qpf takes a frequency in Hz\n";
        return 2;
    }
    if (args.size() > 2)
    {
        err += "devsim: " + unexpectedWord(args[2], "os qpf " + args[1]) + "\n";
        return 2;
    }
    const std::string& text = args[1];
    uint64_t hz = 0;
    if (!parseCommandNumber(text, 10000000000ull, &hz) || hz == 0)
    {
        err += "devsim: a counter frequency is 1 to 10000000000 Hz: " + text + "\n";
        return 2;
    }
    ::mkdir(busDirectory().c_str(), 0700);
    if (!setPerformanceFrequency(hz))
    {
        err += "devsim: cannot store the counter frequency\n";
        return 1;
    }
    return 0;
}

} // namespace sim::os
