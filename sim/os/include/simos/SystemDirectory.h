#pragma once

// The machine's system folder, as GetSystemDirectory answers it: where the ASIO driver of the suite is
// installed. The setting is kept in the bus directory (file "system-dir"), so every process of the bus
// sees what devsim set. Without a setting it is the folder of the driver file registered for the driver's
// class (when that file exists), else the folder the driver is built in. The query can also be told to
// fail.

#include <string>
#include <vector>

namespace sim::os
{

// False when the machine is told to fail the query; otherwise path is the folder, without a trailing
// separator.
bool systemDirectory(std::string& path);

// "devsim os system-dir [<path> | --fail | --default]": args are the words after "system-dir". Returns
// the exit status.
int devsimOsSystemDir(const std::vector<std::string>& args, std::string& out, std::string& err);

} // namespace sim::os
