#pragma once

// The check every XML settings file of the programs gets before the framework's XML reader sees it, and
// the form text takes in those files.
//
// That reader trusts its input: a file that ends inside a multi-byte character makes it read past its
// buffer, a processing instruction followed by text inside an element makes it loop for ever, it
// descends one call per nested element, and it takes time quadratic in the character references of one
// attribute value. And the properties file writes an entry's child element back to text on one line when
// it reads it, dereferencing a null line break for some shapes. So a file the reader cannot survive never
// reaches it: it is moved aside (kept, since it may hold names the user wants back), one debug line says
// so, and the program starts from the defaults as if there were no file.

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>

namespace juce
{
class PropertySet;
}

namespace console
{

// True when the bytes are valid UTF-8 (shortest forms, no surrogates, only characters XML allows) and a
// well-formed XML document whose root element is rootTag, in the form the framework writes and its reader
// survives: declaration, comments and processing instructions around one element; a root without
// attributes whose name ends within the file's first kRootSearchBytes (the framework reads those alone to
// find the root, and reads nothing of a file whose root lies further on); inside it, elements,
// text, comments and CDATA sections, no processing instruction; tags that nest and match; names of ASCII
// letters, digits and "_:-."; attribute values quoted, without "<", at most kMaxXmlValueChars
// characters; every "&" one of the five predefined entities or a character reference of at most 8
// hexadecimal or 12 decimal digits (the framework writes any character it holds as a reference, the
// surrogates and those above U+10FFFF among them). No document type declaration; at most kMaxXmlDepth
// open elements.
bool isWellFormedXml(const void* data, size_t size, const char* rootTag);
constexpr int kMaxXmlDepth = 256;
constexpr size_t kRootSearchBytes = 8192;
constexpr size_t kMaxXmlValueChars = 64 * 1024;
// Larger settings files are refused unread.
constexpr int64_t kMaxSettingsFileBytes = 1024 * 1024;

// To be called before a settings file is read. A file that exists and is larger than
// kMaxSettingsFileBytes, not well-formed with this root, or holds a properties entry whose child element
// the framework cannot write back to text is renamed to "<its name>.damaged" (or a free name of that form
// beside it), with one debug line. Returns the file to read and later save: the file itself (sound,
// missing, or moved aside); File() when a damaged file could not be moved, so that it is neither read nor
// overwritten.
juce::File checkSettingsFile(const juce::File& file, const char* rootTag);

// Text values in properties files. The framework stores a value that reads as XML (a '<' after any white
// space) as a child element and reads it back as that element's markup: "<Kick" came back as "<Kick/>",
// and some names made its writer loop or crash. So a text value is stored in a form the framework never
// takes for markup: a value that would be taken for it, or that begins with the marker U+2060 (word
// joiner), is stored with the marker before it. No name the console ever wrote (8-bit text) and no path
// begins with the marker, so every value an earlier version wrote reads back as it was written.
juce::String encodeSettingsText(const juce::String& text);
juce::String decodeSettingsText(const juce::String& stored);
// The values just read from a file that the framework would take for markup when it writes them (an
// entry an earlier version stored as an element, a value made by hand) get the marker, so that no save
// parses them; decodeSettingsText gives them back unchanged. Nothing is marked as changed.
void keepSettingsValuesAsText(juce::PropertySet& properties);

} // namespace console
