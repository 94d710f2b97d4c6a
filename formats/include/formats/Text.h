#pragma once

// Text from bytes that come from outside: a unit's name, a string of the OS, a file. Such bytes may be
// anything, so every deliverable makes them text this one way before it shows, compares or hands them on.
//
// Valid UTF-8 (shortest forms, no surrogates, nothing above U+10FFFF) stays byte for byte; each invalid
// sequence (the longest start of a valid sequence, or a single byte that starts none) becomes U+FFFD.
// The text ends at the first zero byte, as C text does.

#include <cstddef>
#include <string>

namespace formats
{

// The text of `size` bytes.
std::string textFromBytes(const char* bytes, size_t size);

// The text of `size` bytes, written to `text` and cut where it must to fit `textSize` bytes with a
// terminating zero, never inside a character. Returns the length written (without the zero); nothing is
// written when textSize is 0. Allocates nothing.
size_t textFromBytes(const char* bytes, size_t size, char* text, size_t textSize);

} // namespace formats
