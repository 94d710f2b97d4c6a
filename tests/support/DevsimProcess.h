#pragma once

// Runs the devsim program in a process of its own, as a user at a shell would. The suites that include
// this define DEVSIM_PATH, the built program.

#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace testsupport
{

// devsim's exit status, or -1 when it could not be run.
inline int devsimProcess(std::vector<std::string> args)
{
    args.insert(args.begin(), DEVSIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, DEVSIM_PATH, nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace testsupport
