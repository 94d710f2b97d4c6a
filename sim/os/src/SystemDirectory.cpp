#include "simos/SystemDirectory.h"
#include "simos/BusDirectory.h"
#include "simos/CommandWords.h"
#include "simos/Registry.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#ifndef STRELLIS_DRIVER_BUILD_DIR
#define STRELLIS_DRIVER_BUILD_DIR "/usr/lib"
#endif

namespace sim::os
{
namespace
{

constexpr const char* kFailMarker = "--fail";
// Where a registration puts the driver's file: the server key of the driver's COM class.
constexpr const char* kDriverServerKey = "CLSID\\{5B2E9A64-0D13-4C7F-8A55-1E6C3F90B7D2}\\InprocServer32";

std::string settingPath()
{
    return busDirectory() + "/system-dir";
}

std::string withoutTrailingSeparator(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The folder of the registered driver file, when it is registered and the file exists.
bool registeredDriverFolder(std::string& folder)
{
    RegistryValue value;
    RegistryStore store(registryRoot());
    if (store.queryValue(Hive::ClassesRoot, kDriverServerKey, "", value) != reg::kSuccess ||
        value.type != reg::kSz)
        return false;
    std::string file(value.data.begin(), value.data.end());
    file = file.substr(0, file.find('\0'));
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec))
        return false;
    folder = std::filesystem::path(file).parent_path().string();
    return !folder.empty();
}

// Empty when nothing is set; kFailMarker when the query is to fail.
std::string storedSetting()
{
    std::ifstream in(settingPath(), std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

bool storeSetting(const std::string& text)
{
    ::mkdir(busDirectory().c_str(), 0700);
    const std::string path = settingPath();
    if (text.empty())
        return std::remove(path.c_str()) == 0 || !std::filesystem::exists(path);
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text << '\n';
        out.close();
        if (!out)
        {
            std::remove(temporary.c_str());
            return false;
        }
    }
    // Readers see the old setting or the new one, never a part.
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace

bool systemDirectory(std::string& path)
{
    const std::string setting = storedSetting();
    if (setting == kFailMarker)
        return false;
    if (!setting.empty())
    {
        path = setting;
        return true;
    }
    std::string folder;
    path = registeredDriverFolder(folder) ? folder : withoutTrailingSeparator(STRELLIS_DRIVER_BUILD_DIR);
    return true;
}

int devsimOsSystemDir(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    if (args.empty())
    {
        std::string path;
        out += systemDirectory(path) ? "system-dir " + path + "\n" : std::string("system-dir --fail\n");
        return 0;
    }
    if (args.size() > 1)
    {
        err += "devsim: " + unexpectedWord(args[1], "os system-dir " + args[0]) + "\n";
        return 2;
    }
    if (args[0].empty())
    {
        err += "devsim: os system-dir takes a folder, --fail or --default\n";
        return 2;
    }
    std::string setting = args[0];
    if (setting == "--default")
        setting.clear();
    else if (setting != kFailMarker)
    {
        if (setting[0] == '-' || setting.find('\n') != std::string::npos)
        {
            err += "devsim: not a folder (or --fail or --default): " + setting + "\n";
            return 2;
        }
        setting = withoutTrailingSeparator(setting);
    }
    if (!storeSetting(setting))
    {
        err += "devsim: cannot write " + settingPath() + "\n";
        return 1;
    }
    return 0;
}

} // namespace sim::os
