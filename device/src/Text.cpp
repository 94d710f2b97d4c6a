#include "device/Text.h"

#include <cstring>

namespace device
{

juce::String textFromBytes(const char* bytes, size_t size)
{
    // Given its length, the framework takes the text as it is.
    const std::string text = formats::textFromBytes(bytes, size);
    return juce::String::fromUTF8(text.data(), int(text.size()));
}

juce::String textFromBytes(const std::string& bytes)
{
    return textFromBytes(bytes.data(), bytes.size());
}

juce::String textFromCString(const char* text)
{
    return text != nullptr ? textFromBytes(text, std::strlen(text)) : juce::String();
}

} // namespace device
