// "devsim reg": reads and changes the registry store from the shell.

#include "simos/Registry.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim::os
{
namespace
{

const char* kUsage = "usage: devsim reg query <key> [<value>] | set <key> <value> (sz|dword|binary) <data> | "
                     "delete <key> [<value>]";

// "" and "(Default)" both name a key's default value.
std::string valueName(const std::string& arg)
{
    return arg == "(Default)" ? std::string() : arg;
}

const char* typeName(uint32_t type)
{
    switch (type)
    {
    case reg::kSz:
        return "REG_SZ";
    case reg::kDword:
        return "REG_DWORD";
    case reg::kBinary:
        return "REG_BINARY";
    }
    return "REG_NONE";
}

std::string hex(const std::vector<uint8_t>& data)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : data)
    {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

// A value's data as one line: text up to its terminator, a DWORD in decimal, anything else in hex.
std::string formatData(const RegistryValue& v)
{
    if (v.type == reg::kSz)
    {
        std::string text(v.data.begin(), v.data.end());
        const size_t nul = text.find('\0');
        return nul == std::string::npos ? text : text.substr(0, nul);
    }
    if (v.type == reg::kDword && v.data.size() == 4)
    {
        const uint32_t w =
            v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
        return std::to_string(w);
    }
    return hex(v.data);
}

bool parseData(const std::string& type, const std::string& text, uint32_t& regType,
               std::vector<uint8_t>& data, std::string& err)
{
    data.clear();
    if (type == "sz")
    {
        regType = reg::kSz;
        data.assign(text.begin(), text.end());
        data.push_back(0);
        return true;
    }
    if (type == "dword")
    {
        regType = reg::kDword;
        errno = 0;
        char* end = nullptr;
        const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
        if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || v > 0xFFFFFFFFull)
        {
            err = "devsim reg: not a 32-bit number: " + text + "\n";
            return false;
        }
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return true;
    }
    if (type == "binary")
    {
        regType = reg::kBinary;
        std::string digits;
        for (char c : text)
            if (c != ' ' && c != ',')
                digits += c;
        if (digits.size() % 2 != 0)
        {
            err = "devsim reg: binary data needs an even number of hex digits\n";
            return false;
        }
        for (size_t i = 0; i < digits.size(); i += 2)
        {
            const char pair[3] = {digits[i], digits[i + 1], 0};
            if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
                !std::isxdigit(static_cast<unsigned char>(pair[1])))
            {
                err = "devsim reg: not hex data: " + text + "\n";
                return false;
            }
            data.push_back(static_cast<uint8_t>(std::strtoul(pair, nullptr, 16)));
        }
        return true;
    }
    err = "devsim reg: unknown value type " + type + " (sz, dword or binary)\n";
    return false;
}

std::string resultText(int32_t result)
{
    switch (result)
    {
    case reg::kFileNotFound:
    case reg::kKeyDeleted:
        return "not found";
    case reg::kAccessDenied:
        return "access denied";
    case reg::kInvalidParameter:
        return "invalid name";
    case reg::kCantWrite:
        return "cannot write the registry";
    }
    return "error " + std::to_string(result);
}

int fail(std::string& err, const std::string& text)
{
    err = "devsim reg: " + text + "\n";
    return 1;
}

} // namespace

int devsimReg(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    out.clear();
    err.clear();
    if (args.empty() || args[0] == "--help" || args[0] == "help")
    {
        if (args.empty())
            return fail(err, kUsage + 7);
        out = std::string(kUsage) + "\n";
        return 0;
    }
    const std::string& command = args[0];
    if (args.size() < 2)
        return fail(err, kUsage + 7);

    Hive hive;
    std::string path;
    if (!parseKeyName(args[1], hive, path))
        return fail(err, "not a key name: " + args[1]);
    RegistryStore store(registryRoot());

    if (command == "query" && args.size() <= 3)
    {
        std::string canonical;
        if (int32_t r = store.openKey(hive, path, &canonical); r != reg::kSuccess)
            return fail(err, args[1] + ": " + resultText(r));
        if (args.size() == 3)
        {
            RegistryValue v;
            if (int32_t r = store.queryValue(hive, path, valueName(args[2]), v); r != reg::kSuccess)
                return fail(err, args[1] + " " + args[2] + ": " + resultText(r));
            out = formatData(v) + "\n";
            return 0;
        }
        std::vector<RegistryValue> values;
        std::vector<std::string> subKeys;
        if (int32_t r = store.listKey(hive, path, values, subKeys); r != reg::kSuccess)
            return fail(err, args[1] + ": " + resultText(r));
        const std::string heading = std::string(hiveName(hive)) + (canonical.empty() ? "" : "\\" + canonical);
        out = heading + "\n";
        for (const RegistryValue& v : values)
            out += "    " + (v.name.empty() ? std::string("(Default)") : v.name) + "    " + typeName(v.type) +
                   "    " + formatData(v) + "\n";
        for (const std::string& s : subKeys)
            out += heading + "\\" + s + "\n";
        return 0;
    }
    if (command == "set" && args.size() == 5)
    {
        uint32_t type = 0;
        std::vector<uint8_t> data;
        if (!parseData(args[3], args[4], type, data, err))
            return 1;
        if (int32_t r = store.createKey(hive, path, nullptr, nullptr); r != reg::kSuccess)
            return fail(err, args[1] + ": " + resultText(r));
        if (int32_t r = store.setValue(hive, path, valueName(args[2]), type, data.data(), data.size());
            r != reg::kSuccess)
            return fail(err, args[1] + " " + args[2] + ": " + resultText(r));
        return 0;
    }
    if (command == "delete" && args.size() <= 3)
    {
        const int32_t r = args.size() == 3 ? store.deleteValue(hive, path, valueName(args[2]))
                                           : store.deleteTree(hive, path);
        if (r != reg::kSuccess)
            return fail(err,
                        args[1] + (args.size() == 3 ? " " + args[2] : std::string()) + ": " + resultText(r));
        return 0;
    }
    return fail(err, kUsage + 7);
}

} // namespace sim::os
