#pragma once

// A bus, registry or folder of one's own for a while: what the tests and the benchmarks run against, so
// they neither see nor disturb the machine's bus and each other.

#include <string>

namespace sim
{

// A fresh, empty directory in the temporary folder, named by an environment variable while the object
// lives (STRELLIS_SIM_DIR for a bus, STRELLIS_REGISTRY for a registry...); afterwards the variable has its
// earlier value again and the directory is gone. Both variables are read at every call, so the next call
// of any code in the process uses it.
class PrivateDirectory
{
public:
    // prefix names the directory: <temp>/<prefix>-<pid>-<serial>.
    PrivateDirectory(const char* variable, const std::string& prefix);
    ~PrivateDirectory();
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;

    std::string dir;

private:
    std::string variable_;
    bool hadOld_ = false;
    std::string old_;
};

// A private bus, with devsim commands run in-process against it.
class PrivateBus : public PrivateDirectory
{
public:
    PrivateBus();

    // Runs "devsim <words>" (split at blanks) and returns its exit status; out and err keep what it printed.
    int devsim(const std::string& commandLine);

    // The rest of the first "devsim dump <unit>" line that starts with key and a blank; "(no line <key>)"
    // when there is none.
    std::string dumped(const std::string& unit, const std::string& key);

    std::string out;
    std::string err;
};

} // namespace sim
