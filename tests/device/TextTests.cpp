// Text from outside bytes: valid UTF-8 passes unchanged (so the framework gets the very string it made of
// it before), each invalid sequence becomes U+FFFD, and a bounded copy ends between characters.

#include "device/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace
{

const std::string kBad = "\xEF\xBF\xBD"; // U+FFFD

std::string text(const std::string& bytes)
{
    return formats::textFromBytes(bytes.data(), bytes.size());
}

} // namespace

TEST(Text, ValidUtf8StaysByteForByteAndGivesTheFrameworkTheStringItMadeOfItBefore)
{
    for (const std::string valid :
         {"", "Studio 8", "\x01\x7F", "\xC2\x80\xC3\xA4\xDF\xBF",
          "\xE0\xA0\x80\xE2\x82\xAC\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD\xEF\xBF\xBF",
          "\xF0\x90\x80\x80\xF0\x9D\x84\x9E\xF4\x8F\xBF\xBF"})
    {
        EXPECT_EQ(text(valid), valid);
        const juce::String converted = device::textFromBytes(valid);
        EXPECT_EQ(converted, juce::String::fromUTF8(valid.c_str()));
        EXPECT_EQ(converted.toStdString(), valid);
    }
}

TEST(Text, EachInvalidSequenceBecomesOneReplacementCharacterAndTheTextEndsAtAZero)
{
    const std::pair<std::string, std::string> cases[] = {
        {"\xC0\x80", kBad + kBad}, // overlong forms
        {"a\xC0\xAF", "a" + kBad + kBad},
        {"\xF0\x80\x80\xAF", kBad + kBad + kBad + kBad},
        {"\xFF\xFE", kBad + kBad},                       // bytes that begin nothing
        {"\x80x", kBad + "x"},                           // a continuation byte alone
        {"\xED\xA0\x80", kBad + kBad + kBad},            // a surrogate
        {"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad}, // above U+10FFFF
        {"Cut \xE2\x82", "Cut " + kBad},                 // a sequence cut: at the end, before another byte
        {"\xF1\x80\x80z\xE2\x82\xAC", kBad + "z\xE2\x82\xAC"},
        {std::string("ab\0\xFF", 4), "ab"},
    };
    for (const auto& [bytes, expected] : cases)
    {
        EXPECT_EQ(text(bytes), expected);
        EXPECT_EQ(device::textFromBytes(bytes).toStdString(), expected);
    }
}

TEST(Text, ABoundedCopyEndsBetweenCharacters)
{
    const std::string bytes = "a\xC3\xA4\xFF"; // a, ä, an invalid byte
    const char* expected[] = {"", "a", "a", "a\xC3\xA4", "a\xC3\xA4", "a\xC3\xA4", "a\xC3\xA4\xEF\xBF\xBD"};
    for (size_t size = 1; size <= 7; ++size)
    {
        char out[8];
        std::fill(std::begin(out), std::end(out), '#');
        const size_t n = formats::textFromBytes(bytes.data(), bytes.size(), out, size);
        EXPECT_STREQ(out, expected[size - 1]) << size;
        EXPECT_EQ(n, std::string(expected[size - 1]).size()) << size;
        EXPECT_EQ(out[size], '#') << "nothing past the room given";
    }
}
