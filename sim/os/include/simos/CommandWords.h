#pragma once

// How every devsim command reads the words of its command line, so that all of them accept and refuse
// the same things.

#include <cstdint>
#include <string>

namespace sim::os
{

// A number as a devsim command line writes it: decimal, or hexadecimal with 0x, and nothing else (no
// blank, no sign, no other base). False for anything else or a value above max.
bool parseCommandNumber(const std::string& text, uint64_t max, uint64_t* value);

// The refusal of a word a command does not take: "unexpected word <word> after <what>".
std::string unexpectedWord(const std::string& word, const std::string& what);

} // namespace sim::os
