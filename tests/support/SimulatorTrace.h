#pragma once

// The simulator's trace of one test (docs/simulator.md, The trace): STRELLIS_TRACE names a file of the
// test's bus while the object lives.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace testsupport
{

struct VdcLine
{
    uint32_t category = 0;
    uint32_t command = 0;
    std::vector<uint32_t> params;
    uint32_t vdr = 0;
};

class Trace
{
public:
    explicit Trace(const std::string& dir) : path_(dir + "/trace.txt")
    {
        ::setenv("STRELLIS_TRACE", path_.c_str(), 1);
    }
    ~Trace() { ::unsetenv("STRELLIS_TRACE"); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    void clear() const { std::ofstream(path_, std::ios::trunc); }

    // Every line, with the process id in front shown as "pid" when it is this process's.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::ifstream in(path_);
        const std::string mine = std::to_string(::getpid()) + " ";
        for (std::string line; std::getline(in, line);)
            out.push_back(line.compare(0, mine.size(), mine) == 0 ? "pid " + line.substr(mine.size()) : line);
        return out;
    }

    // This process's lines without the process id: "<unit> <request> => <answer>".
    std::vector<std::string> requests() const
    {
        std::vector<std::string> out;
        for (const std::string& line : lines())
            if (line.compare(0, 4, "pid ") == 0)
                out.push_back(line.substr(4));
        return out;
    }

    // The VDC requests, in order; only those of the given category when category >= 0.
    std::vector<VdcLine> vdc(int category = -1) const
    {
        std::vector<VdcLine> out;
        for (const std::string& line : lines())
        {
            std::istringstream words(line);
            std::string pid, unit, kind;
            words >> pid >> unit >> kind;
            if (kind != "VDC")
                continue;
            VdcLine v;
            uint32_t length = 0;
            words >> v.category >> v.command >> length;
            for (std::string w; words >> w && w != "=>";)
                v.params.push_back(uint32_t(std::stoul(w)));
            std::string nt;
            words >> nt >> v.vdr;
            if (category < 0 || int(v.category) == category)
                out.push_back(v);
        }
        return out;
    }

    // "cat/cmd" of each flash request, e.g. "1/5 1/0 1/3 1/2 ...", with the first parameter for lock and
    // erase ("1/5:1", "1/0:0x20000") so sequences read easily.
    std::vector<std::string> flashSequence() const
    {
        std::vector<std::string> out;
        for (const VdcLine& v : vdc(1))
        {
            std::string s = std::to_string(v.category) + "/" + std::to_string(v.command);
            if ((v.command == 5 || v.command == 0) && !v.params.empty())
            {
                char text[32];
                std::snprintf(text, sizeof text, v.command == 0 ? ":0x%x" : ":%u", v.params[0]);
                s += text;
            }
            out.push_back(s);
        }
        return out;
    }

private:
    std::string path_;
};

// n zero words as a trace line shows them: " 0 0 ...".
inline std::string zeros(int n)
{
    std::string s;
    for (int k = 0; k < n; ++k)
        s += " 0";
    return s;
}

} // namespace testsupport
