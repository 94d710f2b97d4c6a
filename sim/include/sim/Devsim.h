#pragma once

// The devsim command line as a function, so tests can run it in-process; the devsim program is a thin
// main() around it. Returns the exit status; what the command prints goes to out and err.

#include <string>
#include <vector>

namespace sim
{

int devsimMain(const std::vector<std::string>& args, std::string& out, std::string& err);

} // namespace sim
