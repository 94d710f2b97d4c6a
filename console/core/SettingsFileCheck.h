#pragma once

// The check every XML settings file of the programs gets before the framework's XML reader sees it. That
// reader trusts its input: a file that ends inside a multi-byte character makes it read past its buffer,
// and it descends one call per nested element. So a damaged file never reaches it: it is moved aside
// (kept, since it may hold names the user wants back), one debug line says so, and the program starts
// from the defaults as if there were no file.

#include <juce_core/juce_core.h>

#include <cstddef>

namespace console
{

// True when the bytes are valid UTF-8 (shortest forms, no surrogates, only characters XML allows) and a
// well-formed XML document whose root element is rootTag: declaration, comments and processing
// instructions around one element; tags that nest and match; attribute values quoted; no "<" in them;
// every "&" one of the five predefined entities or a character reference. Names are taken as the
// framework's reader takes them, so whatever it wrote passes. No document type declaration; at most
// kMaxXmlDepth open elements.
bool isWellFormedXml(const void* data, size_t size, const char* rootTag);
constexpr int kMaxXmlDepth = 256;

// To be called before a settings file is read. A file that exists and is not well-formed with this root
// is renamed to "<its name>.damaged" (or a free name of that form beside it), with one debug line.
// Returns the file to read and later save: the file itself (sound, missing, or moved aside); File() when
// a damaged file could not be moved, so that it is neither read nor overwritten.
juce::File checkSettingsFile(const juce::File& file, const char* rootTag);

} // namespace console
