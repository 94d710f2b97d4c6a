#pragma once

// Text from outside bytes (a unit's name, a string of the OS, a file) for the GUI programs: the formats
// library's one conversion (formats/Text.h: valid UTF-8 kept byte for byte, each invalid sequence
// U+FFFD), handed to the framework with its length. So valid UTF-8 gives the very string the framework
// made of it before, and no other bytes reach it.

#include "formats/Text.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <string>

namespace device
{

juce::String textFromBytes(const char* bytes, size_t size);
juce::String textFromBytes(const std::string& bytes);
// C text (up to its first zero byte); null gives an empty string.
juce::String textFromCString(const char* text);

} // namespace device
