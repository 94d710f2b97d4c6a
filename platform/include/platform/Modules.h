#pragma once

// Modules the host process has loaded, looked up at run time (GetModuleHandleA and GetProcAddress). A
// module is only found when the process already holds it; it is never loaded here. A Windows module name
// "Name.dll" stands for the shared object "Name.so" of the process (matched by its file or soname), so a
// host, or a test, provides a module by loading a library of that name.

#include <string>

namespace platform
{

class LoadedModule
{
public:
    // The module when the process has it loaded; otherwise an empty object.
    static LoadedModule find(const char* moduleName);

    LoadedModule() = default;
    ~LoadedModule();
    LoadedModule(LoadedModule&& other) noexcept;
    LoadedModule& operator=(LoadedModule&& other) noexcept;
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    // The exported function's address, or null.
    void* procAddress(const char* name) const;

private:
    void* handle_ = nullptr; // a reference that keeps the module while this object lives
};

// "Avrt.dll" -> "Avrt.so".
std::string sharedObjectName(const char* moduleName);

} // namespace platform
