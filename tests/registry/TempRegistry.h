#pragma once

// A private registry for one test: a fresh STRELLIS_REGISTRY directory for the test's lifetime.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace testsupport
{

class TempRegistry
{
public:
    TempRegistry()
    {
        static int serial = 0;
        dir = (std::filesystem::temp_directory_path() /
               ("strellis-registry-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
                  .string();
        std::filesystem::remove_all(dir);
        const char* old = std::getenv("STRELLIS_REGISTRY");
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        ::setenv("STRELLIS_REGISTRY", dir.c_str(), 1);
    }

    ~TempRegistry()
    {
        if (hadOld_)
            ::setenv("STRELLIS_REGISTRY", old_.c_str(), 1);
        else
            ::unsetenv("STRELLIS_REGISTRY");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    std::string dir;

private:
    bool hadOld_ = false;
    std::string old_;
};

} // namespace testsupport
