#include "platform/Modules.h"

#include <cstring>
#include <dlfcn.h>
#include <strings.h>

namespace platform
{

std::string sharedObjectName(const char* moduleName)
{
    std::string name = moduleName != nullptr ? moduleName : "";
    if (name.size() > 4 && ::strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0)
        name.resize(name.size() - 4);
    return name + ".so";
}

LoadedModule LoadedModule::find(const char* moduleName)
{
    LoadedModule module;
    const std::string name = sharedObjectName(moduleName);
    // RTLD_NOLOAD: only a module the process already holds.
    module.handle_ = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    return module;
}

LoadedModule::~LoadedModule()
{
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

LoadedModule::LoadedModule(LoadedModule&& other) noexcept : handle_(other.handle_)
{
    other.handle_ = nullptr;
}

LoadedModule& LoadedModule::operator=(LoadedModule&& other) noexcept
{
    if (this != &other)
    {
        if (handle_ != nullptr)
            ::dlclose(handle_);
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

void* LoadedModule::procAddress(const char* name) const
{
    return handle_ != nullptr && name != nullptr ? ::dlsym(handle_, name) : nullptr;
}

} // namespace platform
