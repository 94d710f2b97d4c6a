#include "formats/Text.h"

#include <cstdint>
#include <cstring>

namespace formats
{
namespace
{

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
constexpr size_t kReplacementBytes = sizeof kReplacement - 1;

// The bytes of the character at p (n > 0 bytes left), and whether they are a valid one. An invalid
// sequence is as long as the valid start it has, at least one byte, so the next byte that could begin a
// character is looked at again.
struct Step
{
    size_t length;
    bool valid;
};

Step nextCharacter(const uint8_t* p, size_t n)
{
    const uint8_t lead = p[0];
    if (lead < 0x80)
        return {1, true};
    // The bytes of the character and the range its second byte must lie in (the first continuation
    // byte is where overlong forms, surrogates and values above U+10FFFF show).
    size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    else
        return {1, false};
    for (size_t i = 1; i < length; ++i)
    {
        if (i >= n || p[i] < low || p[i] > high)
            return {i, false};
        low = 0x80;
        high = 0xBF;
    }
    return {length, true};
}

// Hands each piece of the text to put (pointer, length) until put answers false.
template <typename Put> void forEachPiece(const char* bytes, size_t size, Put put)
{
    if (bytes == nullptr)
        return;
    const void* zero = std::memchr(bytes, 0, size);
    const size_t n = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : size;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < n;)
    {
        const Step step = nextCharacter(p + i, n - i);
        const bool more = step.valid ? put(bytes + i, step.length) : put(kReplacement, kReplacementBytes);
        if (!more)
            return;
        i += step.length;
    }
}

} // namespace

std::string textFromBytes(const char* bytes, size_t size)
{
    std::string text;
    forEachPiece(bytes, size,
                 [&text](const char* piece, size_t length)
                 {
                     text.append(piece, length);
                     return true;
                 });
    return text;
}

size_t textFromBytes(const char* bytes, size_t size, char* text, size_t textSize)
{
    if (text == nullptr || textSize == 0)
        return 0;
    size_t written = 0;
    forEachPiece(bytes, size,
                 [&](const char* piece, size_t length)
                 {
                     if (length > textSize - 1 - written)
                         return false;
                     std::memcpy(text + written, piece, length);
                     written += length;
                     return true;
                 });
    text[written] = '\0';
    return written;
}

} // namespace formats
