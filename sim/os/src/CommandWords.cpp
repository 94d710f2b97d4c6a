#include "simos/CommandWords.h"

namespace sim::os
{

bool parseCommandNumber(const std::string& text, uint64_t max, uint64_t* value)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t first = hex ? 2 : 0;
    if (text.size() == first)
        return false;
    const uint64_t base = hex ? 16 : 10;
    uint64_t v = 0;
    for (size_t i = first; i < text.size(); ++i)
    {
        const char c = text[i];
        uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = uint64_t(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = uint64_t(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = uint64_t(c - 'A' + 10);
        else
            return false;
        if (digit > max || v > (max - digit) / base)
            return false;
        v = v * base + digit;
    }
    *value = v;
    return true;
}

std::string unexpectedWord(const std::string& word, const std::string& what)
{
    return "unexpected word " + word + " after " + what;
}

} // namespace sim::os
