#pragma once

// The registry as a simulated OS service: three hives (classes root, local machine, current user) kept as
// files in one directory that every process shares. Each operation takes a file lock, reads the hive
// afresh (so it sees what other processes wrote), and writes a change back before it lets the lock go.
// Key names and value names ignore letter case and keep the case they were created with.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim::os
{

enum class Hive
{
    ClassesRoot,
    LocalMachine,
    CurrentUser
};

// Result codes and value types, with the values Windows gives them.
namespace reg
{
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kFileNotFound = 2;
inline constexpr int32_t kAccessDenied = 5;
inline constexpr int32_t kInvalidParameter = 87;
inline constexpr int32_t kMoreData = 234;
inline constexpr int32_t kNoMoreItems = 259;
inline constexpr int32_t kCantWrite = 1013;
inline constexpr int32_t kKeyDeleted = 1018;

inline constexpr uint32_t kSz = 1;
inline constexpr uint32_t kBinary = 3;
inline constexpr uint32_t kDword = 4;

// Longest key name component.
inline constexpr size_t kMaxKeyNameLength = 255;
} // namespace reg

// "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER".
const char* hiveName(Hive hive);

// Accepts the full names and HKCR, HKLM, HKCU, ignoring case.
bool parseHive(const std::string& text, Hive& out);

// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\ASIO" into its hive and the path below it.
bool parseKeyName(const std::string& text, Hive& hive, std::string& path);

// The directory that holds the registry: STRELLIS_REGISTRY when set, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/strellis-registry. Read on every call.
std::string registryRoot();

struct RegistryValue
{
    std::string name; // "" is the key's default value
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// The store under one root directory. Paths are relative to the hive, with backslashes between the
// components; "" is the hive's own key. Operations on values and subkeys answer kKeyDeleted when the key
// named by the path does not exist (any more).
class RegistryStore
{
public:
    explicit RegistryStore(std::string rootDirectory) : root_(std::move(rootDirectory)) {}

    const std::string& root() const { return root_; }

    // kSuccess when the key exists; canonical (may be null) receives its path with the stored letter case.
    int32_t openKey(Hive hive, const std::string& path, std::string* canonical) const;

    // Creates the key and every missing level above it.
    int32_t createKey(Hive hive, const std::string& path, std::string* canonical, bool* created);

    int32_t queryValue(Hive hive, const std::string& path, const std::string& name, RegistryValue& out) const;
    int32_t setValue(Hive hive, const std::string& path, const std::string& name, uint32_t type,
                     const void* data, size_t size);
    int32_t deleteValue(Hive hive, const std::string& path, const std::string& name);

    // The index-th subkey name, in order of names ignoring case; kNoMoreItems past the last.
    int32_t enumSubKey(Hive hive, const std::string& path, uint32_t index, std::string& name) const;

    // Deletes a key that has no subkeys (kAccessDenied when it has some, or for the hive's own key).
    int32_t deleteKey(Hive hive, const std::string& path);

    // Deletes a key with everything below it (a shell convenience, not a call the system makes).
    int32_t deleteTree(Hive hive, const std::string& path);

    // The values and subkey names of one key.
    int32_t listKey(Hive hive, const std::string& path, std::vector<RegistryValue>& values,
                    std::vector<std::string>& subKeys) const;

private:
    std::string root_;
};

// The "devsim reg" command: args are the words after "reg". Returns the exit status.
int devsimReg(const std::vector<std::string>& args, std::string& out, std::string& err);

} // namespace sim::os
