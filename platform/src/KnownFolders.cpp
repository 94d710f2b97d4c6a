#include "platform/KnownFolders.h"

#include "simos/SystemDirectory.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace platform
{

bool getDocumentsFolder(std::string& path)
{
    std::string folder;
    if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR"); documents != nullptr && *documents != '\0')
        folder = documents;
    else
    {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0')
        {
            const passwd* user = ::getpwuid(::getuid());
            home = user != nullptr ? user->pw_dir : nullptr;
        }
        if (home == nullptr || *home == '\0')
            return false;
        folder = std::string(home) + "/Documents";
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec))
        return false;
    path = folder;
    return true;
}

uint32_t getSystemDirectory(char* buffer, uint32_t size)
{
    std::string folder;
    if (!sim::os::systemDirectory(folder) || folder.empty())
        return 0;
    const size_t length = folder.size();
    if (buffer == nullptr || length + 1 > size)
        return uint32_t(length + 1);
    std::memcpy(buffer, folder.c_str(), length + 1);
    return uint32_t(length);
}

} // namespace platform
