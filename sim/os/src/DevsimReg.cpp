// "devsim reg": reads and changes the registry store from the shell.

#include "simos/CommandWords.h"
#include "simos/Registry.h"

#include <cctype>
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
               std::vector<uint8_t>& data, std::string& why)
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
        uint64_t v = 0;
        if (!parseCommandNumber(text, 0xFFFFFFFFull, &v))
        {
            why = "not a 32-bit number: " + text;
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
            why = "binary data needs an even number of hex digits: " + text;
            return false;
        }
        for (size_t i = 0; i < digits.size(); i += 2)
        {
            const char pair[3] = {digits[i], digits[i + 1], 0};
            if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
                !std::isxdigit(static_cast<unsigned char>(pair[1])))
            {
                why = "not hex data: " + text;
                return false;
            }
            data.push_back(static_cast<uint8_t>(std::strtoul(pair, nullptr, 16)));
        }
        return true;
    }
    why = "unknown value type " + type + " (sz, dword or binary)";
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

// One line, as every devsim command answers: status 1 when the registry refused, 2 for a wrong command line.
constexpr int kFailed = 1;
constexpr int kWrongLine = 2;

int fail(std::string& err, int status, const std::string& text)
{
    err = "devsim: " + text + "\n";
    return status;
}

// The words each command takes after "reg <command>": at least, at most.
struct Shape
{
    const char* name;
    size_t least;
    size_t most;
    const char* words;
};

const Shape kShapes[] = {
    {"query", 1, 2, "a key and, if wanted, a value name"},
    {"set", 4, 4, "a key, a value name, a type and the data"},
    {"delete", 1, 2, "a key and, if wanted, a value name"},
};

} // namespace

int devsimReg(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    out.clear();
    err.clear();
    if (args.empty())
        return fail(err, kWrongLine, "reg takes query, set or delete (devsim --help shows them)");
    const std::string& command = args[0];
    if (command == "--help" || command == "help")
    {
        if (args.size() > 1)
            return fail(err, kWrongLine, unexpectedWord(args[1], "reg " + command));
        out = std::string(kUsage) + "\n";
        return 0;
    }
    const Shape* shape = nullptr;
    for (const Shape& s : kShapes)
        if (command == s.name)
            shape = &s;
    if (shape == nullptr)
        return fail(err, kWrongLine, "unknown reg command " + command + " (query, set or delete)");
    const size_t words = args.size() - 1;
    if (words < shape->least)
        return fail(err, kWrongLine, "reg " + command + " takes " + shape->words);
    if (words > shape->most)
    {
        std::string what = "reg";
        for (size_t i = 0; i <= shape->most; ++i)
            what += " " + args[i];
        return fail(err, kWrongLine, unexpectedWord(args[shape->most + 1], what));
    }

    Hive hive;
    std::string path;
    if (!parseKeyName(args[1], hive, path))
        return fail(err, kWrongLine, "not a key name: " + args[1]);
    RegistryStore store(registryRoot());

    if (command == "query")
    {
        std::string canonical;
        if (int32_t r = store.openKey(hive, path, &canonical); r != reg::kSuccess)
            return fail(err, kFailed, args[1] + ": " + resultText(r));
        if (args.size() == 3)
        {
            RegistryValue v;
            if (int32_t r = store.queryValue(hive, path, valueName(args[2]), v); r != reg::kSuccess)
                return fail(err, kFailed, args[1] + " " + args[2] + ": " + resultText(r));
            out = formatData(v) + "\n";
            return 0;
        }
        std::vector<RegistryValue> values;
        std::vector<std::string> subKeys;
        if (int32_t r = store.listKey(hive, path, values, subKeys); r != reg::kSuccess)
            return fail(err, kFailed, args[1] + ": " + resultText(r));
        const std::string heading = std::string(hiveName(hive)) + (canonical.empty() ? "" : "\\" + canonical);
        out = heading + "\n";
        for (const RegistryValue& v : values)
            out += "    " + (v.name.empty() ? std::string("(Default)") : v.name) + "    " + typeName(v.type) +
                   "    " + formatData(v) + "\n";
        for (const std::string& s : subKeys)
            out += heading + "\\" + s + "\n";
        return 0;
    }
    if (command == "set")
    {
        uint32_t type = 0;
        std::vector<uint8_t> data;
        std::string why;
        if (!parseData(args[3], args[4], type, data, why))
            return fail(err, kWrongLine, why);
        if (int32_t r = store.createKey(hive, path, nullptr, nullptr); r != reg::kSuccess)
            return fail(err, kFailed, args[1] + ": " + resultText(r));
        if (int32_t r = store.setValue(hive, path, valueName(args[2]), type, data.data(), data.size());
            r != reg::kSuccess)
            return fail(err, kFailed, args[1] + " " + args[2] + ": " + resultText(r));
        return 0;
    }
    const int32_t r =
        args.size() == 3 ? store.deleteValue(hive, path, valueName(args[2])) : store.deleteTree(hive, path);
    if (r != reg::kSuccess)
        return fail(err, kFailed,
                    args[1] + (args.size() == 3 ? " " + args[2] : std::string()) + ": " + resultText(r));
    return 0;
}

} // namespace sim::os
