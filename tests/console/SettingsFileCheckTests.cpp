// The check of settings files before the framework reads them: what the framework itself writes passes,
// damaged documents do not, and a damaged file is moved aside, never deleted or overwritten.

#include "TempBus.h"
#include "console/core/SettingsFileCheck.h"
#include "platform/Debug.h"

#include <juce_data_structures/juce_data_structures.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace
{

bool wellFormed(const std::string& text)
{
    return console::isWellFormedXml(text.data(), text.size(), "PROPERTIES");
}

std::string bytesOf(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    return std::string(static_cast<const char*>(block.getData()), block.getSize());
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n";

} // namespace

TEST(SettingsFileCheck, WhatTheFrameworkWritesPassesAndDamagedDocumentsDoNot)
{
    testsupport::TempBus bus;
    const juce::File file = juce::File(juce::String(bus.dir)).getChildFile("written.properties");
    {
        juce::PropertiesFile::Options options;
        options.storageFormat = juce::PropertiesFile::storeAsXML;
        juce::PropertiesFile properties(file, options);
        // Names as a unit's flash or a user may hold them: control characters, 8-bit text, markup
        // (which the framework stores as a child element), quotes and ampersands.
        properties.setValue("input alias 0", juce::String::fromUTF8("Vo\x01"
                                                                    "cal \xC3\xA9 \xE2\x82\xAC"));
        properties.setValue("input alias 1", "<b x='1'>&amp;</b>");
        properties.setValue("output alias 0", "\"A\" & 'B' <C>\n\tD");
        // Markup with references to characters no text holds: written as references too.
        properties.setValue("output alias 1", "<a>&#xD800;&#x110000;</a>");
        properties.setValue("most recent folder", "/home/me/sessions");
        ASSERT_TRUE(properties.save());
    }
    juce::MemoryBlock written;
    ASSERT_TRUE(file.loadFileAsData(written));
    EXPECT_TRUE(console::isWellFormedXml(written.getData(), written.getSize(), "PROPERTIES"))
        << written.toString();
    EXPECT_FALSE(console::isWellFormedXml(written.getData(), written.getSize(), "OTHER"));

    EXPECT_TRUE(wellFormed("\xEF\xBB\xBF<?pi x?><PROPERTIES><!-- c --><VALUE name='a' val=\"&#x20AC;&#10;\">"
                           "</VALUE><![CDATA[<&>]]><a b=\"&#55296;&#4294967295;\"/></PROPERTIES>\n<?pi?>\n"));
    std::string opens, closes;
    for (int i = 1; i < console::kMaxXmlDepth; ++i)
    {
        opens += "<a>";
        closes += "</a>";
    }
    EXPECT_TRUE(wellFormed(kHead + opens + closes + "</PROPERTIES>"));

    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"ends inside a character", kHead + "  <VALUE name=\"a\xE2"},
        {"ends inside a character, closed", kHead + "<VALUE name=\"a\xE2\"/></PROPERTIES>"},
        {"a continuation byte alone", kHead + "<VALUE name=\"\x80\"/></PROPERTIES>"},
        {"an overlong form", kHead + "<VALUE name=\"\xC0\xBC\"/></PROPERTIES>"},
        {"a surrogate", kHead + "<VALUE name=\"\xED\xA0\x80\"/></PROPERTIES>"},
        {"beyond U+10FFFF", kHead + "<VALUE name=\"\xF4\x90\x80\x80\"/></PROPERTIES>"},
        {"a NUL byte", kHead + "<VALUE name=\"a" + '\0' + "\"/></PROPERTIES>"},
        {"UTF-16", "\xFF\xFE<"},
        {"empty", ""},
        {"the framework's binary form", "PORP\x01"},
        {"no end tag", kHead + "<VALUE name=\"a\" val=\"1\"/>\n"},
        {"tags that cross", kHead + "<VALUE><a></VALUE></a></PROPERTIES>"},
        {"an unquoted value", kHead + "<VALUE name=a/></PROPERTIES>"},
        {"an unclosed value", kHead + "<VALUE name=\"a/></PROPERTIES>"},
        {"'<' in a value", kHead + "<VALUE name=\"<\"/></PROPERTIES>"},
        {"an unknown entity", kHead + "<VALUE name=\"&nbsp;\"/></PROPERTIES>"},
        {"a bare ampersand", kHead + "<VALUE name=\"a & b\"/></PROPERTIES>"},
        {"a reference to NUL", kHead + "<VALUE name=\"&#0;\"/></PROPERTIES>"},
        {"a reference of 9 hexadecimal digits", kHead + "<VALUE name=\"&#x000000041;\"/></PROPERTIES>"},
        {"a reference of 13 decimal digits", kHead + "<VALUE name=\"&#0000000000065;\"/></PROPERTIES>"},
        {"a processing instruction inside the root", kHead + "<?p?>x</PROPERTIES>"},
        {"a processing instruction inside a value",
         kHead + "<VALUE name=\"a\"><a><?p?>x</a></VALUE></PROPERTIES>"},
        {"an element name beyond ASCII", kHead + "<VALUE name=\"a\"><\xC3\xA9/></VALUE></PROPERTIES>"},
        {"an attribute name beyond ASCII", kHead + "<VALUE n\xC3\xA9=\"a\"/></PROPERTIES>"},
        {"attributes on the root", "<PROPERTIES a=\"1\"></PROPERTIES>"},
        {"a value too long",
         kHead + "<VALUE name=\"" + std::string(console::kMaxXmlValueChars + 1, 'a') + "\"/></PROPERTIES>"},
        {"a document type", "<!DOCTYPE PROPERTIES [<!ENTITY e \"x\">]>\n<PROPERTIES/>"},
        {"a second root", kHead + "</PROPERTIES><PROPERTIES/>"},
        {"text after the root", kHead + "</PROPERTIES>x"},
        {"an unclosed comment", kHead + "<!-- </PROPERTIES>"},
        {"too deep", kHead + opens + "<a></a>" + closes + "</PROPERTIES>"},
    };
    for (const auto& [what, text] : damaged)
        EXPECT_FALSE(wellFormed(text)) << what;
}

TEST(SettingsFileCheck, OnlyADocumentWhoseRootTheFrameworkFindsPasses)
{
    // The framework looks for the root in the first 8 KiB alone: a file whose root lies further on gives
    // it nothing, and a save would replace the names it holds.
    testsupport::TempBus bus;
    const juce::File file = juce::File(juce::String(bus.dir)).getChildFile("late.properties");
    for (const std::string bom : {"", "\xEF\xBB\xBF"})
        for (const size_t extra : {0, 1})
        {
            // A comment (with a character of three bytes) pads the root's name to end at byte 8192, or one
            // byte later.
            const std::string start = bom + "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--\xE2\x82\xAC";
            const std::string root = "-->\n<PROPERTIES";
            const std::string padding(console::kRootSearchBytes - start.size() - root.size() + extra, ' ');
            const std::string text =
                start + padding + root + ">\n  <VALUE name=\"input alias 0\" val=\"Kept\"/>\n</PROPERTIES>\n";
            ASSERT_TRUE(file.replaceWithData(text.data(), text.size()));
            juce::PropertiesFile::Options options;
            options.storageFormat = juce::PropertiesFile::storeAsXML;
            const bool read = juce::PropertiesFile(file, options).getValue("input alias 0") == "Kept";
            EXPECT_EQ(read, extra == 0) << "the framework, byte-order mark " << bom.size();
            EXPECT_EQ(wellFormed(text), read) << "byte-order mark " << bom.size() << ", " << extra;
        }
}

TEST(SettingsFileCheck, ADamagedFileIsMovedAsideWithOneDebugLineAndASoundOneIsLeftAlone)
{
    testsupport::TempBus bus;
    const juce::File folder(juce::String(bus.dir));
    const juce::File file = folder.getChildFile("Unit.properties");
    platform::DebugCapture debug;

    EXPECT_EQ(console::checkSettingsFile(file, "PROPERTIES"), file); // none yet
    const std::string sound = kHead + "  <VALUE name=\"tab\" val=\"2\"/>\n</PROPERTIES>\n";
    ASSERT_TRUE(file.replaceWithData(sound.data(), sound.size()));
    EXPECT_EQ(console::checkSettingsFile(file, "PROPERTIES"), file);
    EXPECT_EQ(bytesOf(file), sound);
    EXPECT_TRUE(debug.lines().empty());

    // Twice damaged: each is kept under a name of its own.
    const std::string first = kHead + "  <VALUE name=\"a\xE2";
    const std::string second = kHead + "  <VALUE name=\"b\xE2";
    for (const std::string& bytes : {first, second})
    {
        ASSERT_TRUE(file.replaceWithData(bytes.data(), bytes.size()));
        EXPECT_EQ(console::checkSettingsFile(file, "PROPERTIES"), file);
        EXPECT_FALSE(file.exists());
    }
    EXPECT_EQ(bytesOf(folder.getChildFile("Unit.properties.damaged")), first);
    EXPECT_EQ(bytesOf(folder.getChildFile("Unit.properties(2).damaged")), second);
    ASSERT_EQ(debug.lines().size(), 2u);
    EXPECT_EQ(debug.lines()[0],
              "Damaged settings file " + file.getFullPathName().toStdString() + " moved to " +
                  folder.getChildFile("Unit.properties.damaged").getFullPathName().toStdString() +
                  "; the defaults are used");

    // A name with no room for the suffix cannot be moved aside: it is then neither read nor written.
    const juce::File longName = folder.getChildFile(juce::String::repeatedString("n", 250));
    std::ofstream(longName.getFullPathName().toStdString(), std::ios::binary) << first;
    EXPECT_EQ(console::checkSettingsFile(longName, "PROPERTIES"), juce::File());
    EXPECT_TRUE(longName.existsAsFile());
    EXPECT_EQ(debug.lines().size(), 3u);
}

TEST(SettingsFileCheck, EntriesTheFrameworkCannotReadBackAndFilesOver1MiBAreSetAside)
{
    testsupport::TempBus bus;
    const juce::File folder(juce::String(bus.dir));
    const juce::File file = folder.getChildFile("Unit.properties");
    auto keptAsItIs = [&](const std::string& bytes)
    {
        file.replaceWithData(bytes.data(), bytes.size());
        const juce::File checked = console::checkSettingsFile(file, "PROPERTIES");
        const bool kept = file.existsAsFile();
        folder.getChildFile("Unit.properties.damaged").deleteFile();
        return checked == file && kept;
    };
    auto entry = [](const std::string& value)
    { return kHead + "  <VALUE name=\"input alias 0\">" + value + "</VALUE>\n</PROPERTIES>\n"; };

    // Entries earlier versions let the framework store as elements. It reads such an entry by writing
    // the element back on one line, where an element after text that would break its line crashes it.
    EXPECT_TRUE(keptAsItIs(entry("<Kick/>")));
    EXPECT_TRUE(keptAsItIs(entry("<a>x<b/>y<c p=\"1\">z</c><d/></a>")));
    EXPECT_TRUE(keptAsItIs(entry("<a><b><c/></b></a>")));
    EXPECT_FALSE(keptAsItIs(entry("<a>x<b><c/></b></a>")));
    EXPECT_FALSE(keptAsItIs(entry("<a>x<b>y<c/></b></a>")));
    EXPECT_FALSE(keptAsItIs(entry("<a>x<b p=\"" + std::string(60, 'p') + "\" q=\"1\"/></a>")));

    // The reader takes time quadratic in the references of a value: a file is bounded.
    const std::string start = kHead + "<!--";
    const std::string end = "-->\n</PROPERTIES>\n";
    const size_t limit = size_t(console::kMaxSettingsFileBytes);
    EXPECT_TRUE(keptAsItIs(start + std::string(limit - start.size() - end.size(), ' ') + end));
    EXPECT_FALSE(keptAsItIs(start + std::string(limit + 1 - start.size() - end.size(), ' ') + end));
}
