#include "console/core/SettingsFileCheck.h"

#include "device/Text.h"
#include "platform/Debug.h"

#include <juce_data_structures/juce_data_structures.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace console
{
namespace
{

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Strict UTF-8 into code points (a leading byte-order mark is passed over); false on a truncated or
// overlong sequence, a surrogate, anything above U+10FFFF, or a character XML does not allow.
bool decodeUtf8(const uint8_t* p, size_t n, std::u32string& out)
{
    size_t i = n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;
    out.reserve(n);
    while (i < n)
    {
        const uint8_t lead = p[i];
        // Continuation bytes after the lead byte, and the smallest character that needs them.
        const size_t more = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : 3;
        constexpr char32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
        if (lead >= 0x80 && ((lead & 0xC0) == 0x80 || lead >= 0xF8))
            return false;
        char32_t c = more == 0 ? lead : lead & (0x3F >> more);
        if (n - i - 1 < more)
            return false;
        for (size_t k = 1; k <= more; ++k)
        {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            c = c << 6 | (p[i + k] & 0x3F);
        }
        if (c < kShortest[more] || !isXmlChar(c))
            return false;
        out.push_back(c);
        i += more + 1;
    }
    return true;
}

// A cursor over the decoded document. Nesting is followed with a list of open tags, not by recursion.
class XmlChecker
{
public:
    explicit XmlChecker(const std::u32string& text) : s_(text) {}

    // rootNameEnd: where the root's name ends (a character index).
    bool document(const char* rootTag, size_t& rootNameEnd)
    {
        if (!misc())
            return false;
        rootNameEnd = i_ + 1; // after the '<'
        std::u32string_view root;
        if (!rootElement(root))
            return false;
        rootNameEnd += root.size();
        if (!misc() || i_ != s_.size())
            return false;
        const std::string_view expected(rootTag);
        return root.size() == expected.size() && std::equal(root.begin(), root.end(), expected.begin());
    }

private:
    bool atEnd() const { return i_ >= s_.size(); }
    char32_t peek() const { return atEnd() ? 0 : s_[i_]; }

    bool startsWith(std::string_view text) const
    {
        if (s_.size() - i_ < text.size())
            return false;
        for (size_t k = 0; k < text.size(); ++k)
            if (s_[i_ + k] != char32_t(uint8_t(text[k])))
                return false;
        return true;
    }

    bool eat(std::string_view text)
    {
        if (!startsWith(text))
            return false;
        i_ += text.size();
        return true;
    }

    // Past the next occurrence of the text; false when there is none.
    bool skipPast(std::string_view text)
    {
        while (!atEnd())
        {
            if (eat(text))
                return true;
            ++i_;
        }
        return false;
    }

    static bool isSpace(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    bool skipSpace()
    {
        const size_t start = i_;
        while (isSpace(peek()))
            ++i_;
        return i_ != start;
    }

    // ASCII letters, digits, '_', ':', '-' and '.', as the framework reads names. Whether it takes a
    // character beyond ASCII depends on the locale; it writes none.
    static bool isNameChar(char32_t c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == ':' || c == '-' || c == '.';
    }

    bool name(std::u32string_view& out)
    {
        const size_t start = i_;
        while (isNameChar(peek()))
            ++i_;
        out = std::u32string_view(s_).substr(start, i_ - start);
        return i_ != start;
    }

    // Whitespace, comments and processing instructions (the XML declaration among them) around the root.
    bool misc()
    {
        for (;;)
        {
            skipSpace();
            if (eat("<!--"))
            {
                if (!skipPast("-->"))
                    return false;
            }
            else if (eat("<?"))
            {
                std::u32string_view target;
                if (!name(target) || !skipPast("?>"))
                    return false;
            }
            else
                return true;
        }
    }

    // "&" starts one of the five predefined entities or a character reference. The framework writes every
    // character it holds that is not plain ASCII as a decimal reference, surrogates and values above
    // U+10FFFF included, and reads at most 8 hexadecimal or 12 decimal digits (past that it skips a
    // character unread).
    bool reference()
    {
        if (!eat("&"))
            return false;
        for (const char* entity : {"amp;", "lt;", "gt;", "quot;", "apos;"})
            if (eat(entity))
                return true;
        if (!eat("#"))
            return false;
        const bool hex = eat("x");
        uint64_t value = 0;
        size_t digits = 0;
        for (; !atEnd() && s_[i_] != ';'; ++i_, ++digits)
        {
            const char32_t c = s_[i_];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = int(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                digit = int(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                digit = int(c - 'A' + 10);
            if (digit < 0 || digits == (hex ? 8u : 12u))
                return false;
            value = value * (hex ? 16 : 10) + uint64_t(digit);
        }
        return eat(";") && digits > 0 && value != 0;
    }

    // From "<": the name, the attributes (when allowed), and whether the tag closes itself.
    bool startTag(std::u32string_view& tag, bool& empty, bool attributesAllowed = true)
    {
        if (!eat("<") || !name(tag))
            return false;
        for (;;)
        {
            const bool spaced = skipSpace();
            if (eat("/>") || eat(">"))
            {
                empty = s_[i_ - 2] == '/'; // a '/' is no name character and no closing quote
                return true;
            }
            std::u32string_view attribute;
            if (!attributesAllowed || !spaced || !name(attribute))
                return false;
            skipSpace();
            if (!eat("="))
                return false;
            skipSpace();
            const char32_t quote = peek();
            if (quote != '"' && quote != '\'')
                return false;
            const size_t valueStart = ++i_;
            while (peek() != quote)
            {
                if (atEnd() || peek() == '<' || i_ - valueStart >= kMaxXmlValueChars)
                    return false;
                if (peek() == '&')
                {
                    if (!reference())
                        return false;
                }
                else
                    ++i_;
            }
            ++i_;
        }
    }

    bool rootElement(std::u32string_view& root)
    {
        bool empty = false;
        if (!startTag(root, empty, false))
            return false;
        std::vector<std::u32string_view> open;
        if (!empty)
            open.push_back(root);
        while (!open.empty())
        {
            if (atEnd())
                return false;
            if (eat("</"))
            {
                std::u32string_view tag;
                if (!name(tag))
                    return false;
                skipSpace();
                if (!eat(">") || tag != open.back())
                    return false;
                open.pop_back();
            }
            else if (eat("<!--"))
            {
                if (!skipPast("-->"))
                    return false;
            }
            else if (eat("<![CDATA["))
            {
                if (!skipPast("]]>"))
                    return false;
            }
            else if (startsWith("<?"))
            {
                // Followed by text, the framework's reader goes back to the instruction for ever.
                return false;
            }
            else if (peek() == '<')
            {
                std::u32string_view tag;
                if (!startTag(tag, empty))
                    return false;
                if (!empty)
                {
                    if (open.size() >= size_t(kMaxXmlDepth))
                        return false;
                    open.push_back(tag);
                }
            }
            else if (peek() == '&')
            {
                if (!reference())
                    return false;
            }
            else
                ++i_;
        }
        return true;
    }

    const std::u32string& s_;
    size_t i_ = 0;
};

// The framework's XML writer as the properties file uses it to turn an entry's child element back into
// text (one line, no header): with no line break to write, it dereferences a null one wherever it would
// break a line. Indented is whether the writer gives the element an indentation: every element that
// follows a text node does, and passes it on to its own children. Such an element breaks its line before
// an attribute once those before it fill 60 characters, before a child element that does not follow
// text, and before its end tag when its last child is an element.
constexpr size_t kWrapWidth = 60;

// The characters the writer puts in an attribute value as they are; it writes "&amp;", "&quot;",
// "&gt;", "&lt;" and a decimal reference for the others.
bool writtenAsIs(juce::juce_wchar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c < 0x80 &&
            std::string_view(" .,;:-()_+=?!$#@[]/|*%~{}'\\").find(char(c)) != std::string_view::npos);
}

size_t writtenLength(const juce::String& value)
{
    size_t length = 0;
    for (auto p = value.getCharPointer(); !p.isEmpty();)
    {
        const juce::juce_wchar c = p.getAndAdvance();
        if (writtenAsIs(c))
            length += 1;
        else if (c == '&')
            length += 5;
        else if (c == '"')
            length += 6;
        else if (c == '<' || c == '>')
            length += 4;
        else
            length += 3 + size_t(juce::String(int(uint32_t(c))).length());
    }
    return length;
}

bool writableOnOneLine(const juce::XmlElement& element, bool indented)
{
    if (element.isTextElement())
        return true;
    if (indented)
    {
        size_t line = 0;
        for (int i = 0; i < element.getNumAttributes(); ++i)
        {
            if (line > kWrapWidth)
                return false;
            // ' name="value"'
            line += 4 + size_t(element.getAttributeName(i).getNumBytesAsUTF8()) +
                    writtenLength(element.getAttributeValue(i));
        }
    }
    bool afterText = false;
    bool hasChildren = false;
    for (const juce::XmlElement* child : element.getChildIterator())
    {
        hasChildren = true;
        if (!child->isTextElement())
        {
            if ((indented && !afterText) || !writableOnOneLine(*child, indented || afterText))
                return false;
        }
        afterText = child->isTextElement();
    }
    return !(indented && hasChildren && !afterText);
}

// Whether the framework's properties file can read every entry of the document: the value of an entry
// with a child is that child written back to text.
bool entriesReadBack(const juce::MemoryBlock& bytes)
{
    const char* text = static_cast<const char*>(bytes.getData());
    size_t size = bytes.getSize();
    if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0)
    {
        text += 3;
        size -= 3;
    }
    const std::unique_ptr<juce::XmlElement> document = juce::parseXML(device::textFromBytes(text, size));
    if (document == nullptr)
        return false;
    for (const juce::XmlElement* entry : document->getChildWithTagNameIterator("VALUE"))
        if (const juce::XmlElement* value = entry->getFirstChildElement(); value != nullptr)
            if (!writableOnOneLine(*value, false))
                return false;
    return true;
}

// A character the framework's reader may skip as white space before it looks for markup: the locale's
// white space, and every Unicode space whatever the locale.
bool maySkipAsSpace(juce::juce_wchar c)
{
    return c <= 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000 || std::iswspace(wint_t(c));
}

// Whether the framework's properties file would store the value as an element.
bool readsAsMarkup(const juce::String& value)
{
    auto p = value.getCharPointer();
    while (!p.isEmpty() && maySkipAsSpace(*p))
        ++p;
    return *p == '<';
}

constexpr juce::juce_wchar kTextMarker = 0x2060;

} // namespace

bool isWellFormedXml(const void* data, size_t size, const char* rootTag)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::u32string text;
    if (!decodeUtf8(bytes, size, text))
        return false;
    size_t rootNameEnd = 0;
    if (!XmlChecker(text).document(rootTag, rootNameEnd))
        return false;
    // The framework finds the root in the file's first bytes alone (a byte-order mark among them): a root
    // whose name does not end there gives it no document at all.
    size_t end = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    for (size_t k = 0; k < rootNameEnd; ++k)
        end += text[k] < 0x80 ? 1 : text[k] < 0x800 ? 2 : text[k] < 0x10000 ? 3 : 4;
    return end <= kRootSearchBytes;
}

juce::File checkSettingsFile(const juce::File& file, const char* rootTag)
{
    // A file that is missing or cannot be read gives the reader nothing to misread.
    if (!file.existsAsFile())
        return file;
    if (file.getSize() <= kMaxSettingsFileBytes)
    {
        juce::MemoryBlock bytes;
        if (!file.loadFileAsData(bytes))
            return file;
        if (isWellFormedXml(bytes.getData(), bytes.getSize(), rootTag) && entriesReadBack(bytes))
            return file;
    }

    juce::File aside = file.getSiblingFile(file.getFileName() + ".damaged");
    if (aside.exists())
        aside = aside.getNonexistentSibling(true);
    if (file.moveFileTo(aside))
    {
        platform::debugPrintf("Damaged settings file %s moved to %s; the defaults are used",
                              file.getFullPathName().toRawUTF8(), aside.getFullPathName().toRawUTF8());
        return file;
    }
    platform::debugPrintf("Damaged settings file %s could not be moved aside; the defaults are used",
                          file.getFullPathName().toRawUTF8());
    return {};
}

juce::String encodeSettingsText(const juce::String& text)
{
    if (text.startsWithChar(kTextMarker) || readsAsMarkup(text))
        return juce::String::charToString(kTextMarker) + text;
    return text;
}

juce::String decodeSettingsText(const juce::String& stored)
{
    return stored.startsWithChar(kTextMarker) ? stored.substring(1) : stored;
}

void keepSettingsValuesAsText(juce::PropertySet& properties)
{
    const juce::ScopedLock lock(properties.getLock());
    juce::StringPairArray& values = properties.getAllProperties();
    for (int i = 0; i < values.size(); ++i)
        if (readsAsMarkup(values.getAllValues()[i]))
            values.set(values.getAllKeys()[i],
                       juce::String::charToString(kTextMarker) + values.getAllValues()[i]);
}

} // namespace console
