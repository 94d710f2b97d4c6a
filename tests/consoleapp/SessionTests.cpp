// Session files in a console window of a simulated interface: the commands with their choosers and
// alerts, what a load and a reset send, the gang buttons and names they refresh, and the round trip.
// The window's own strips take part. The interface presents no playback endpoints, so its playback levels
// and mutes reach it as VDC commands, which the trace shows.

#include "ConsoleWindowFixture.h"
#include "console/core/Firmware.h"
#include "console/core/FirmwareUpdate.h"
#include "console/ui/app/ConsoleApp.h"
#include "console/ui/settings/SampleRate.h"
#include "console/ui/settings/SettingsGroups.h"
#include "console/ui/strips/MasterStrips.h"
#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/Toggle.h"
#include "console/ui/window/SessionFiles.h"
#include "device/Conversions.h"
#include "sim/Devsim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fnmatch.h>
#include <fstream>
#include <functional>

namespace
{

using console::ConsoleState;
using consoletest::pumpPosted;
using consoletest::pumpUntil;

// The default name of input 0, as its name label fills it in.
juce::String defaultInputName(const device::HwInfoCaps& caps)
{
    return console::Alias::defaultName("In ", caps.getInputGroupShortName(caps.getInputMapGroup(0)),
                                       caps.getInputMapIndex(0));
}

// The components of a tree with the given name, in tree order.
void findNamed(juce::Component& root, const juce::String& name, std::vector<juce::Component*>& out)
{
    for (juce::Component* child : root.getChildren())
    {
        if (child->getName() == name)
            out.push_back(child);
        findNamed(*child, name, out);
    }
}

// --- the scripted choosers and alerts ---

struct ScriptedDialogs : console::SessionDialogs
{
    struct Call
    {
        juce::String title;
        juce::File initial;
        juce::String wildcard;
        bool windowEnabled;
    };

    juce::File chooseFileToLoad(const juce::String& title, const juce::File& initial,
                                const juce::String& wildcard) override
    {
        return choose(title, initial, wildcard);
    }
    juce::File chooseFileToSave(const juce::String& title, const juce::File& initial,
                                const juce::String& wildcard) override
    {
        return choose(title, initial, wildcard);
    }
    void alert(const juce::String& text) override { alerts.push_back(text); }
    bool askToReplace(const juce::String& text) override
    {
        questions.push_back(text);
        const bool replace = !replies.empty() && replies.front();
        if (!replies.empty())
            replies.pop_front();
        return replace;
    }

    juce::File choose(const juce::String& title, const juce::File& initial, const juce::String& wildcard)
    {
        calls.push_back({title, initial, wildcard, window != nullptr && window->isEnabled()});
        if (whileOpen)
            whileOpen();
        if (answers.empty())
            return {};
        const juce::File answer = answers.front();
        answers.pop_front();
        return answer;
    }

    juce::Component* window = nullptr;
    std::function<void()> whileOpen; // what happens while a chooser is open
    std::vector<Call> calls;
    std::deque<juce::File> answers; // none left: cancelled
    std::vector<juce::String> alerts;
    std::vector<juce::String> questions;
    std::deque<bool> replies; // true: Replace; none left: Cancel
};

// Whether a chooser's filter lists a file as the system choosers the framework starts on Linux read it:
// patterns separated by ';', ',' and '|', then by spaces, each matched as the shell does ('*', '?' and
// '[...]', a set of characters).
bool listed(const juce::String& wildcard, const juce::String& name)
{
    juce::StringArray patterns;
    patterns.addTokens(wildcard, ";,| ", "");
    for (const juce::String& pattern : patterns)
        if (::fnmatch(pattern.toRawUTF8(), name.toRawUTF8(), 0) == 0)
            return true;
    return false;
}

// A VDC request as text, for comparing what was sent as a multiset.
std::vector<std::string> sentCommands(const consoletest::Trace& trace)
{
    std::vector<std::string> out;
    for (const consoletest::VdcLine& v : trace.vdc())
    {
        // Only the mixer's categories: the settings page's groups (clock, I/O) load, reset and send
        // with every session command too, and their commands are tested with the page.
        if (v.category != 4 && v.category != 5 && v.category != 6 && v.category != 8)
            continue;
        std::string s = std::to_string(v.category) + "/" + std::to_string(v.command);
        for (uint32_t p : v.params)
            s.append(" ").append(std::to_string(p));
        out.push_back(s);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// --- the fixture ---

class SessionTest : public consoletest::ConsoleWindowFixture
{
protected:
    void SetUp() override
    {
        ConsoleWindowFixture::SetUp();
        if (setUpStopped())
            return;
        ::unsetenv("XDG_DOCUMENTS_DIR");
        // The simulated machine's release decides where the choosers start.
        ::unsetenv("STRELLIS_WINDOWS");
        previous_ = console::setSessionDialogs(&dialogs_);
    }

    void TearDown() override
    {
        closeWindow();
        console::setSessionDialogs(previous_);
        ConsoleWindowFixture::TearDown();
    }

    // A window for the model; its session read fails when asked, so the window starts with an image it
    // may not store.
    void open(const char* model, bool failSessionRead = false, const std::string& plugOptions = {})
    {
        ASSERT_NO_FATAL_FAILURE(plug(std::string("--model ") + model + " --unique-name S" + plugOptions));
        ASSERT_EQ(bus_.devsim("set u1 endpoints off"), 0) << bus_.err;
        if (failSessionRead)
        {
            ASSERT_EQ(bus_.devsim("fault u1 vdc:0/3 vdr:7 1"), 0) << bus_.err;
        }
        ASSERT_NO_FATAL_FAILURE(openDevice());
        showWindow();
        // What the window reads from the unit as it opens is in before a test changes the state block.
        drain();
        dialogs_.window = window_.get();
        // The gang of inputs 2-3 and the name label of input 0, as the input strips made them.
        std::vector<juce::Component*> gangs;
        findNamed(*content().getTabbedBox(), "console_gang_button", gangs);
        ASSERT_GE(gangs.size(), 2u);
        gang_ = dynamic_cast<console::Gang*>(gangs[1]);
        std::vector<juce::Component*> names;
        findNamed(*content().getTabbedBox(), "alias", names);
        ASSERT_FALSE(names.empty());
        alias_ = dynamic_cast<juce::Label*>(names[0]);
        ASSERT_NE(gang_, nullptr);
        ASSERT_NE(alias_, nullptr);
    }

    // As the application closes a window whose interface went away.
    void closeWindow()
    {
        if (window_ != nullptr)
            content().getHwThread()->clearWindow();
        gang_ = nullptr;
        alias_ = nullptr;
        destroyWindow();
        dialogs_.window = nullptr;
    }

    // Runs a session command as the window's command manager does, until it has finished.
    void command(int id)
    {
        content().getCommandManager().invokeDirectly(id, false);
        bool done = false;
        juce::MessageManager::callAsync([&done] { done = true; });
        ASSERT_TRUE(pumpUntil([&] { return done; }));
    }

    juce::File sessionFolder() const
    {
        return juce::File(juce::String(home_))
            .getChildFile("Documents")
            .getChildFile(juce::String(device_->getCaps().getModelName()) + " sessions");
    }

    std::vector<uint32_t> image() const
    {
        std::vector<uint32_t> out(ConsoleState::kImageQuads);
        state().copyImage(out.data());
        return out;
    }

    // The mixer's VDC requests once the hardware thread has sent everything queued, also what the
    // results of its reads queued in turn.
    std::vector<std::string> sentSettled()
    {
        size_t count = 0;
        do
        {
            count = sentCommands(trace_).size();
            EXPECT_TRUE(pumpPosted()); // a click still to be delivered
            drain();
        } while (sentCommands(trace_).size() != count);
        return sentCommands(trace_);
    }

    ScriptedDialogs dialogs_;
    console::SessionDialogs* previous_ = nullptr;
    console::Gang* gang_ = nullptr; // inputs 2-3
    juce::Label* alias_ = nullptr;  // input 0
};

std::vector<uint8_t> bytesOf(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    const auto* p = static_cast<const uint8_t*>(block.getData());
    return std::vector<uint8_t>(p, p + block.getSize());
}

void putLe(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + size_t(k)] = uint8_t(v >> (8 * k));
}

bool bit(int32_t mask, int channel)
{
    return (uint32_t(mask) >> (channel / 2) & 1u) != 0;
}

// The legacy file of a session, for an interface with these counts (at most 16 inputs, 12 outputs).
std::vector<uint8_t> legacyFile(const std::vector<uint32_t>& image, int32_t inputGangs, int32_t playbackGangs,
                                int32_t outputGangs, int inputs, int outputs)
{
    const auto* e = reinterpret_cast<const uint8_t*>(image.data());
    std::vector<uint8_t> b(8192, 0);
    putLe(b, 0, 2048);
    putLe(b, 36, 256);
    putLe(b, 40, image[3]);
    for (int i = 0; i < inputs; ++i)
    {
        std::memcpy(&b[size_t(44 + 24 * i)], e + 7312 + 24 * i, 24);
        for (int j = 0; j < outputs; j += 2)
        {
            const size_t cell = size_t(620 + 192 * i + 8 * j);
            putLe(b, cell, image[size_t(8 + i * 40 + j)]);
            b[cell + 4] = e[8272 + i * 40 + j];
            b[cell + 5] = (e[9872 + i * 40 + j] & 2) != 0 ? 1 : 0;
            b[cell + 6] = (e[9872 + i * 40 + j] & 1) != 0 ? 1 : 0;
        }
        b[size_t(5228 + 12 * i)] = bit(inputGangs, i) ? 1 : 0;
    }
    for (int j = 0; j < outputs; ++j)
    {
        const size_t play = size_t(5516 + 28 * j);
        putLe(b, play, image[size_t(1608 + j)]);
        b[play + 4] = e[11472 + 24 * j];
        std::memcpy(&b[play + 6], e + 11472 + 24 * j + 2, 21);
        b[size_t(6188 + j)] = bit(playbackGangs, j) ? 1 : 0;
        const size_t out = size_t(6200 + 28 * j);
        putLe(b, out, image[size_t(1648 + j)]);
        b[out + 4] = e[12432 + 24 * j];
        b[out + 5] = e[12432 + 24 * j + 1];
        std::memcpy(&b[out + 6], e + 12432 + 24 * j + 2, 21);
        b[size_t(6872 + j)] = bit(outputGangs, j) ? 1 : 0;
    }
    putLe(b, 6884, image[4]);
    putLe(b, 6892, image[6]);
    putLe(b, 6896, image[7]);
    return b;
}

// A session file of the image, in the interface's byte order or the other one.
std::vector<uint8_t> sessionFile(const device::vhw& device, const std::vector<uint32_t>& image,
                                 int32_t inputGangs, int32_t playbackGangs, int32_t outputGangs,
                                 bool otherOrder)
{
    std::vector<uint8_t> b(13456, 0);
    const uint32_t header[16] = {
        0x4B616D6F, 13456, device.getVendorId(), device.getModelId(),     device.getHwVersion(),
        0,          0,     uint32_t(inputGangs), uint32_t(playbackGangs), uint32_t(outputGangs),
        0};
    std::memcpy(b.data() + 64, image.data(), 13392);
    for (int i = 0; i < 16; ++i)
        putLe(b, size_t(4 * i), header[i]);
    if (otherOrder)
        console::byteSwapQuadlets(b.data(), 64 + 7312);
    return b;
}

} // namespace

TEST_F(SessionTest, SaveAsksForANameOnceAndGivesEveryFileTheSessionExtension)
{
    open("st8");
    const juce::File folder = sessionFolder();
    dialogs_.answers = {folder.getChildFile("Studio A")};
    command(console::kSaveCommand);

    ASSERT_EQ(dialogs_.calls.size(), 1u);
    EXPECT_EQ(dialogs_.calls[0].title, "Save settings");
    EXPECT_EQ(dialogs_.calls[0].initial, folder.getChildFile(dialogs_.calls[0].wildcard));
    EXPECT_FALSE(dialogs_.calls[0].windowEnabled);
    EXPECT_TRUE(window_->isEnabled());
    const juce::File a = folder.getChildFile("Studio A.Strellis 8 session");
    EXPECT_EQ(a.getSize(), 13456);
    EXPECT_EQ(state().getCurrentSessionName(), "Studio A");
    EXPECT_EQ(state().getMostRecentFolder(), folder.getFullPathName());

    // The same file again, without a chooser.
    state().setOutputGain(1, -12.0f);
    command(console::kSaveCommand);
    EXPECT_EQ(dialogs_.calls.size(), 1u);
    EXPECT_EQ(std::memcmp(bytesOf(a).data() + 64, image().data(), ConsoleState::kImageBytes), 0);

    // "Save as" always asks; an extension in other letters is kept, any other gets the session's added.
    const juce::File b = folder.getChildFile("Studio B.strellis 8 SESSION");
    const juce::File c = folder.getChildFile("Studio C.txt");
    dialogs_.answers = {b, c};
    command(console::kSaveAsCommand);
    EXPECT_TRUE(b.existsAsFile());
    EXPECT_EQ(state().getCurrentSessionName(), "Studio B");
    command(console::kSaveAsCommand);
    EXPECT_TRUE(folder.getChildFile("Studio C.txt.Strellis 8 session").existsAsFile());
    EXPECT_FALSE(c.exists());
    EXPECT_EQ(state().getCurrentSessionName(), "Studio C.txt");
    command(console::kSaveAsCommand); // cancelled
    EXPECT_EQ(dialogs_.calls.size(), 4u);
    EXPECT_EQ(state().getCurrentSessionName(), "Studio C.txt");
    EXPECT_TRUE(dialogs_.alerts.empty());
}

TEST_F(SessionTest, SaveAsksBeforeReplacingAFileItsChooserDidNotName)
{
    open("st8");
    const juce::File folder = sessionFolder();
    ASSERT_TRUE(folder.createDirectory());
    const juce::File live = folder.getChildFile("live.Strellis 8 session");
    ASSERT_TRUE(live.replaceWithText("kept"));

    // "live" typed: the chooser asked about that name, and the extension comes after it closed.
    dialogs_.answers = {folder.getChildFile("live")};
    command(console::kSaveCommand); // Cancel
    ASSERT_EQ(dialogs_.questions, std::vector<juce::String>{
                                      "live.Strellis 8 session already exists. Do you want to replace it?"});
    EXPECT_EQ(live.loadFileAsString(), "kept");
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 1);
    EXPECT_EQ(state().getCurrentSessionName(), "");

    dialogs_.answers = {folder.getChildFile("live")};
    dialogs_.replies = {true};
    command(console::kSaveCommand);
    EXPECT_EQ(live.getSize(), ConsoleState::kSessionFileBytes);
    EXPECT_EQ(state().getCurrentSessionName(), "live");

    // The file saved again, and the whole name chosen (the chooser asked itself): no question.
    command(console::kSaveCommand);
    dialogs_.answers = {live};
    command(console::kSaveAsCommand);
    EXPECT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_EQ(dialogs_.calls.size(), 3u);
    EXPECT_TRUE(dialogs_.alerts.empty());
}

TEST_F(SessionTest, RefusedLoadsAlertAndKeepTheSessionItsNameAndItsFolder)
{
    open("st8");
    const juce::File folder = sessionFolder();
    dialogs_.answers = {folder.getChildFile("Base")};
    command(console::kSaveCommand);
    const std::vector<uint32_t> before = image();

    dialogs_.answers = {folder.getChildFile("Gone.Strellis 8 session")};
    command(console::kLoadCommand);
    ASSERT_EQ(dialogs_.calls.size(), 2u);
    EXPECT_EQ(dialogs_.calls[1].title, "Load settings");
    EXPECT_EQ(dialogs_.calls[1].initial, folder.getChildFile(dialogs_.calls[1].wildcard));
    EXPECT_FALSE(dialogs_.calls[1].windowEnabled);
    ASSERT_EQ(dialogs_.alerts.size(), 1u);
    EXPECT_EQ(dialogs_.alerts[0], "The specified file does not exist.");

    // A file of a later session version, elsewhere: refused, and the session in the window is sent
    // again. Before Vista the chooser starts at the folder itself.
    ASSERT_EQ(bus_.devsim("os windows xp"), 0) << bus_.err;
    const juce::File other = juce::File(juce::String(bus_.dir)).getChildFile("other/New.Strellis 8 session");
    ASSERT_TRUE(other.getParentDirectory().createDirectory());
    std::vector<uint8_t> later = bytesOf(folder.getChildFile("Base.Strellis 8 session"));
    putLe(later, 64 + 8, 513);
    other.replaceWithData(later.data(), later.size());
    trace_.clear();
    dialogs_.answers = {other};
    command(console::kLoadCommand);
    EXPECT_EQ(dialogs_.calls[2].initial, folder);
    ASSERT_EQ(dialogs_.alerts.size(), 2u);
    EXPECT_EQ(dialogs_.alerts[1], "The session version is wrong.");
    EXPECT_EQ(image(), before);
    EXPECT_EQ(state().getCurrentSessionName(), "Base");
    EXPECT_EQ(state().getMostRecentFolder(), folder.getFullPathName());
    // The session in the window is sent again: among it the gains of 10 inputs in 6 mixes, and the 12
    // playback levels, mutes and solos.
    const std::vector<std::string> resent = sentSettled();
    auto starting = [&](const std::string& prefix)
    {
        return std::count_if(resent.begin(), resent.end(),
                             [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(starting("8/0 "), 60);
    for (const char* playback : {"6/0 ", "6/2 ", "6/4 "})
        EXPECT_EQ(starting(playback), 12) << playback;

    command(console::kLoadCommand); // cancelled
    EXPECT_EQ(dialogs_.alerts.size(), 2u);
}

TEST_F(SessionTest, ARememberedFolderThatCannotBeMadeGivesWayToTheDocumentsFolder)
{
    open("st8");
    // Before Vista the choosers start at the folder itself.
    ASSERT_EQ(bus_.devsim("os windows xp"), 0) << bus_.err;
    const juce::File blocker = juce::File(juce::String(bus_.dir)).getChildFile("file");
    ASSERT_TRUE(blocker.replaceWithText("x"));
    state().setMostRecentFolder(blocker.getChildFile("stick").getFullPathName());
    command(console::kLoadCommand);
    command(console::kSaveAsCommand);
    ASSERT_EQ(dialogs_.calls.size(), 2u);
    EXPECT_EQ(dialogs_.calls[0].initial, sessionFolder());
    EXPECT_EQ(dialogs_.calls[1].initial, sessionFolder());
    EXPECT_TRUE(dialogs_.alerts.empty());

    // Without a documents folder either, they stop with an alert.
    ::setenv("XDG_DOCUMENTS_DIR", blocker.getChildFile("documents").getFullPathName().toRawUTF8(), 1);
    command(console::kLoadCommand);
    command(console::kSaveAsCommand);
    ::unsetenv("XDG_DOCUMENTS_DIR");
    EXPECT_EQ(dialogs_.calls.size(), 2u);
    EXPECT_EQ(dialogs_.alerts, (std::vector<juce::String>{"Cannot open folder.", "Cannot create folder."}));
}

TEST_F(SessionTest, TheChoosersFilterListsSessionFilesWhereTheSystemChooserSplitsItAtSpaces)
{
    open("st8");
    command(console::kLoadCommand);
    command(console::kSaveAsCommand);
    ASSERT_EQ(dialogs_.calls.size(), 2u);
    const juce::String load = dialogs_.calls[0].wildcard;
    const juce::String save = dialogs_.calls[1].wildcard;
    EXPECT_TRUE(listed(load, "Studio A.Strellis 8 session")) << load;
    EXPECT_TRUE(listed(load, "Old.ST8session")) << load;
    EXPECT_FALSE(listed(load, "Notes.txt")) << load;
    EXPECT_FALSE(listed(load, "session")) << load;
    EXPECT_TRUE(listed(save, "Studio A.Strellis 8 session")) << save;
    EXPECT_FALSE(listed(save, "Old.ST8session")) << save;
}

TEST_F(SessionTest, SaveWritesTheVeryFileLastSavedOrLoadedWhateverTheLetterCaseOfItsExtension)
{
    open("st8");
    const juce::File folder = sessionFolder();
    const juce::File saved = folder.getChildFile("Odd.strellis 8 SESSION");
    dialogs_.answers = {saved};
    command(console::kSaveAsCommand);
    state().setOutputGain(1, -12.0f);
    command(console::kSaveCommand);

    const juce::File loaded =
        juce::File(juce::String(bus_.dir)).getChildFile("other/Mixed.STRELLIS 8 Session");
    ASSERT_TRUE(loaded.getParentDirectory().createDirectory());
    ASSERT_TRUE(saved.copyFileTo(loaded));
    dialogs_.answers = {loaded};
    command(console::kLoadCommand);
    state().setOutputGain(1, -20.0f);
    command(console::kSaveCommand);

    EXPECT_EQ(dialogs_.calls.size(), 2u);
    EXPECT_TRUE(dialogs_.alerts.empty());
    EXPECT_EQ(std::memcmp(bytesOf(loaded).data() + 64, image().data(), ConsoleState::kImageBytes), 0);
    // No second file beside either.
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 1);
    EXPECT_EQ(loaded.getParentDirectory().getNumberOfChildFiles(juce::File::findFiles), 1);
}

TEST_F(SessionTest, NamesFromTheDeviceBecomeSingleFileNamesInPathsAndShowAsTheyAre)
{
    // A model name and a unique name that would lead out of their folders.
    const std::string caps =
        consoletest::writeCapsFile(bus_.dir, 0x3B71, 0x777, 0x04080000, 0x04080000, false);
    {
        const char model[32] = "../../Escaped/x";
        std::fstream(caps, std::ios::in | std::ios::out | std::ios::binary).seekp(52).write(model, 32);
    }
    ASSERT_NO_FATAL_FAILURE(plug("--caps " + caps + " --unique-name ../../Up"));
    ASSERT_NO_FATAL_FAILURE(openDevice());
    showWindow();
    dialogs_.window = window_.get();
    EXPECT_EQ(window_->getName(), "../../Up Console");

    // The chooser is answered with a name in the folder it starts in.
    dialogs_.whileOpen = [this] { dialogs_.answers = {dialogs_.calls.back().initial.getSiblingFile("A")}; };
    command(console::kSaveCommand);
    ASSERT_EQ(dialogs_.calls.size(), 1u);
    const juce::File folder = dialogs_.calls[0].initial.getParentDirectory();
    EXPECT_EQ(folder.getParentDirectory(), juce::File(juce::String(home_)).getChildFile("Documents"));
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 1);
    EXPECT_FALSE(juce::File(juce::String(bus_.dir)).getChildFile("Escaped").exists());

    window_->saveProperties();
    const juce::File config = juce::File(juce::String(home_)).getChildFile(".config/Varnel Strellis Console");
    EXPECT_EQ(config.getNumberOfChildFiles(juce::File::findFiles, "*.properties"), 1);
    EXPECT_FALSE(juce::File(juce::String(home_)).getChildFile("Up.properties").exists());
}

TEST_F(SessionTest, NamesBeginningWithATildeOrHoldingBracketsKeepSessionsAndSettingsWhereTheyBelong)
{
    // The framework reads a path that begins with '~' as one in a home folder, and the system choosers
    // read "[...]" in a filter as a set of characters.
    const std::string caps =
        consoletest::writeCapsFile(bus_.dir, 0x3B71, 0x777, 0x04080000, 0x04080000, false);
    {
        const char model[32] = "~[1] X";
        std::fstream(caps, std::ios::in | std::ios::out | std::ios::binary).seekp(52).write(model, 32);
    }
    ASSERT_NO_FATAL_FAILURE(plug("--caps " + caps + " --unique-name ~x"));
    ASSERT_NO_FATAL_FAILURE(openDevice());
    showWindow();
    dialogs_.window = window_.get();

    dialogs_.whileOpen = [this] { dialogs_.answers = {dialogs_.calls.back().initial.getSiblingFile("A")}; };
    command(console::kSaveCommand);
    ASSERT_EQ(dialogs_.calls.size(), 1u);
    const juce::File folder = dialogs_.calls[0].initial.getParentDirectory();
    EXPECT_EQ(folder.getParentDirectory(), juce::File(juce::String(home_)).getChildFile("Documents"));
    const juce::File saved = folder.getChildFile("A.@[1] X session");
    EXPECT_EQ(saved.getSize(), ConsoleState::kSessionFileBytes);
    dialogs_.whileOpen = nullptr;
    dialogs_.answers = {saved};
    command(console::kLoadCommand);
    ASSERT_EQ(dialogs_.calls.size(), 2u);
    EXPECT_TRUE(dialogs_.alerts.empty());
    for (const ScriptedDialogs::Call& call : dialogs_.calls)
        EXPECT_TRUE(listed(call.wildcard, saved.getFileName())) << call.wildcard;

    // The window's settings are kept across a reopen.
    window_->saveProperties();
    closeWindow();
    ASSERT_TRUE(device_->open());
    showWindow();
    EXPECT_EQ(state().getMostRecentFolder(), folder.getFullPathName());
}

TEST_F(SessionTest, SettingsAndSessionFoldersOfEarlierVersionsAreFoundForEmptyAndOddNames)
{
    // Earlier versions named the files after the names made legal file names: an empty unique name, or
    // one of characters a file name cannot hold, kept ".properties", one of dots "<dots>.properties",
    // and an empty model name " session" files in " sessions".
    const std::string caps =
        consoletest::writeCapsFile(bus_.dir, 0x3B71, 0x777, 0x04080000, 0x04080000, false);
    {
        const char model[32] = "";
        std::fstream(caps, std::ios::in | std::ios::out | std::ios::binary).seekp(52).write(model, 32);
    }
    const juce::File config = juce::File(juce::String(home_)).getChildFile(".config/Varnel Strellis Console");
    ASSERT_TRUE(config.createDirectory());
    const std::pair<const char*, const char*> units[] = {
        {"", ".properties"}, {"..", "...properties"}, {"???", ".properties"}};
    for (const auto& [name, file] : units)
    {
        ASSERT_TRUE(config.getChildFile(file).replaceWithText(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n"
            "  <VALUE name=\"input alias 0\" val=\"Found\"/>\n</PROPERTIES>\n"));
        bus_.devsim("unplug u1");
        std::string out;
        std::string err;
        ASSERT_EQ(sim::devsimMain({"plug", "u1", "--caps", caps, "--unique-name", name}, out, err), 0) << err;
        ASSERT_NO_FATAL_FAILURE(openDevice());
        showWindow();
        EXPECT_EQ(state().getInputAlias(0), "Found") << "unique name \"" << name << '"';
        EXPECT_EQ(state().getSessionExtension(), " session");
        EXPECT_EQ(state().getDocumentsSessionFolder().getFileName(), " sessions");
        closeWindow();
        ASSERT_TRUE(config.getChildFile(file).deleteFile());
    }
}

TEST_F(SessionTest, UniqueNamesThatDifferOnlyByALeadingTildeOrUnderscoreKeepTheirOwnSettings)
{
    const juce::File config = juce::File(juce::String(home_)).getChildFile(".config/Varnel Strellis Console");
    for (const char* name : {"~x", "_x"})
    {
        bus_.devsim("unplug u1");
        ASSERT_NO_FATAL_FAILURE(plug(std::string("--model st8 --unique-name ") + name));
        ASSERT_NO_FATAL_FAILURE(openDevice());
        showWindow();
        EXPECT_EQ(state().getInputAlias(0), defaultInputName(device_->getCaps())) << name;
        state().setInputAlias(0, name);
        window_->saveProperties();
        closeWindow();
    }
    EXPECT_EQ(config.getNumberOfChildFiles(juce::File::findFiles, "*.properties"), 2);
}

TEST_F(SessionTest, FilesInBothByteOrdersAndALegacyFileLoadTheSameSessionAndSendTheSameCommands)
{
    // The interface's session cannot be read: only a whole session loaded may go to flash.
    open("st8", true);
    ASSERT_FALSE(state().mayWriteFlash());
    // The rate display's first read of the clock is done before the loads (the clock's rate is what the
    // display stores over the session's until the next poll reads it again).
    drain();

    // The session before: a whole image with values in places the legacy format does not have.
    std::vector<uint32_t> start(ConsoleState::kImageQuads, 0);
    auto* s = reinterpret_cast<uint8_t*>(start.data());
    start[0] = 3348;
    start[2] = 512;
    start[8 + 1] = 0x123;      // monitor gain of input 0 in odd mix 1
    s[9872 + 4] = 0x10;        // a monitor flag bit other than mute and solo
    s[11472 + 5 * 24 + 1] = 1; // playback solo 5
    const int32_t startGangs = -1;

    // The session loaded: every field the legacy format has.
    std::vector<uint32_t> loaded = start;
    auto* l = reinterpret_cast<uint8_t*>(loaded.data());
    loaded[3] = 0x80000002;
    loaded[4] = 0x1234;
    loaded[6] = 2;
    loaded[7] = 96000;
    std::memcpy(l + 7312, "\x02\x07Vocal", 7);
    std::memcpy(l + 7312 + 9 * 24 + 2, "Bass", 4);
    for (int input = 1; input < 9; ++input) // named, so the strips' labels store no default names
        std::memcpy(l + 7312 + input * 24 + 2, ("Ch" + std::to_string(input)).c_str(), 3);
    for (int play = 0; play < 12; ++play)
        if (play != 3)
            std::memcpy(l + 11472 + play * 24 + 2, ("P" + std::to_string(play)).c_str(), 3);
    loaded[8 + 2] = device::dbToGain(-6.0f);
    loaded[8 + 3 * 40 + 10] = 0x00800000;
    l[8272 + 2] = 40;
    l[9872 + 4] = 0x13;
    loaded[1608 + 3] = device::dbToGain(-3.0f);
    std::memcpy(l + 11472 + 3 * 24, "\x01\x00Synth", 7);
    loaded[1648 + 5] = device::dbToGain(-1.0f);
    std::memcpy(l + 12432 + 5 * 24, "\x01\x02Mains", 7);
    for (int output = 0; output < 12; ++output) // named, so the output strips store no default names
        if (output != 5)
            std::memcpy(l + 12432 + output * 24 + 2, ("O" + std::to_string(output)).c_str(), 3);
    const int32_t inputGangs = ~(1 << 1); // inputs 2 and 3 not ganged
    const int32_t playbackGangs = ~(1 << 2);
    const int32_t outputGangs = ~(1 << 0);

    const juce::File dir(juce::String(bus_.dir));
    const juce::File legacy = dir.getChildFile("Old.st8SESSION");
    const juce::File ours = dir.getChildFile("Ours.Strellis 8 session");
    const juce::File theirs = dir.getChildFile("Theirs.Strellis 8 session");
    const std::vector<uint8_t> legacyBytes =
        legacyFile(loaded, inputGangs, playbackGangs, outputGangs, 10, 12);
    legacy.replaceWithData(legacyBytes.data(), legacyBytes.size());
    const std::vector<uint8_t> ourBytes =
        sessionFile(*device_, loaded, inputGangs, playbackGangs, outputGangs, false);
    ours.replaceWithData(ourBytes.data(), ourBytes.size());
    const std::vector<uint8_t> theirBytes =
        sessionFile(*device_, loaded, inputGangs, playbackGangs, outputGangs, true);
    theirs.replaceWithData(theirBytes.data(), theirBytes.size());

    std::vector<std::string> first;
    for (const juce::File& file : {legacy, ours, theirs})
    {
        SCOPED_TRACE(file.getFileName().toStdString());
        state().replaceImage(start.data());
        state().setInputGangs(startGangs);
        state().setPlaybackGangs(startGangs);
        state().setOutputGangs(startGangs);
        console::refreshGangButtons(content());
        ASSERT_TRUE(gang_->getToggleState());
        trace_.clear();
        dialogs_.answers = {file};
        command(console::kLoadCommand);

        EXPECT_TRUE(dialogs_.alerts.empty());
        EXPECT_EQ(image(), loaded);
        EXPECT_EQ(state().getInputGangs(), inputGangs);
        EXPECT_EQ(state().getPlaybackGangs(), playbackGangs);
        EXPECT_EQ(state().getOutputGangs(), outputGangs);
        EXPECT_TRUE(state().mayWriteFlash());
        EXPECT_FALSE(gang_->getToggleState());
        EXPECT_FALSE(content().getTabbedBox()->getMasterBox()->getGang().getToggleState());
        EXPECT_EQ(alias_->getText(), "Vocal");
        EXPECT_EQ(content().getTabbedBox()->getMasterBox()->getAlias(1).getText(), "O1");
        EXPECT_EQ(state().getMostRecentFolder(), dir.getFullPathName());
        EXPECT_EQ(state().getCurrentSessionName(), file.getFileNameWithoutExtension());
        const std::vector<std::string> sent = sentSettled();
        if (first.empty())
            first = sent;
        EXPECT_EQ(sent, first);
    }
    // Every playback solo, level and mute of the session was sent, also those not on screen.
    EXPECT_EQ(std::count(first.begin(), first.end(), "6/4 5 1"), 1);
    const uint32_t playGain = device::dbToGain(device::gainToDb(device::dbToGain(-3.0f)));
    EXPECT_EQ(std::count(first.begin(), first.end(), "6/0 3 " + std::to_string(playGain)), 1);
    EXPECT_EQ(std::count(first.begin(), first.end(), "6/2 3 1"), 1);
    const uint32_t sentGain = device::dbToGain(device::gainToDb(device::dbToGain(-6.0f)));
    EXPECT_EQ(std::count(first.begin(), first.end(), "8/0 0 2 " + std::to_string(sentGain)), 1);
    // And every output's gain, mute and nominal level.
    for (const char* prefix : {"4/0 ", "4/2 ", "4/8 "})
        EXPECT_EQ(std::count_if(first.begin(), first.end(),
                                [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }),
                  12);
    const uint32_t outputGain = device::dbToGain(device::gainToDb(device::dbToGain(-1.0f)));
    EXPECT_EQ(std::count(first.begin(), first.end(), "4/0 5 " + std::to_string(outputGain)), 1);
    EXPECT_EQ(std::count(first.begin(), first.end(), "4/2 5 1"), 1);
    EXPECT_EQ(std::count(first.begin(), first.end(), "4/8 5 2"), 1);
}

TEST_F(SessionTest, ResetSendsEveryDefaultShowsTheDefaultNamesAndKeepsTheGangs)
{
    open("st8", true);
    // The window stored every output's default name when it opened.
    EXPECT_EQ(state().getOutputAlias(0), "Out A1");
    EXPECT_EQ(state().getOutputAlias(11), "Out H2");
    state().setInputGangs(0x5);
    state().setMonitorGain(0, 4, -30.0f);
    state().setOutputGain(3, -30.0f);
    state().setByte(ConsoleState::kOutputRecords + 2 * ConsoleState::kRecordBytes, 1);
    state().setOutputAlias(1, "Mains");
    state().setByte(ConsoleState::kPlaybackRecords + 7 * ConsoleState::kRecordBytes + 1, 1);
    state().setInputAlias(0, "Vocal");
    console::refreshAliasLabels(content(), false);
    ASSERT_EQ(alias_->getText(), "Vocal");
    const bool gangShown = gang_->getToggleState();
    trace_.clear();

    content().getSessionBox()->getResetButton().triggerClick();
    const std::vector<std::string> sent = sentSettled();

    EXPECT_EQ(alias_->getText(), defaultInputName(content().getHwInfo()));
    EXPECT_EQ(state().getInputAlias(0), alias_->getText());
    EXPECT_EQ(state().getOutputAlias(1), "Out A2");
    EXPECT_EQ(state().getInputGangs(), 0x5);
    EXPECT_EQ(gang_->getToggleState(), gangShown);
    EXPECT_TRUE(state().mayWriteFlash());
    // Every default goes out: input 0's gain in each mix once, every playback solo off once, every
    // playback level at 0 dB and mute off (each of the two faders and mutes resets them all), every output
    // at 0 dB, unmuted and at +4 once.
    for (int mix = 0; mix < 12; mix += 2)
        EXPECT_EQ(std::count(sent.begin(), sent.end(),
                             "8/0 0 " + std::to_string(mix) + " " + std::to_string(device::kUnityGain)),
                  1);
    for (int c = 0; c < 12; ++c)
    {
        const std::string o = std::to_string(c);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "6/4 " + o + " 0"), 1);
        EXPECT_GE(std::count(sent.begin(), sent.end(), "6/0 " + o + " " + std::to_string(device::kUnityGain)),
                  1);
        EXPECT_GE(std::count(sent.begin(), sent.end(), "6/2 " + o + " 0"), 1);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "4/0 " + o + " " + std::to_string(device::kUnityGain)),
                  1);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "4/2 " + o + " 0"), 1);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "4/8 " + o + " 0"), 1);
    }
}

// The unit switched off and on again (unplugged and plugged), and what it then runs: "devsim dump".
std::string dumpAfterPowerUp(sim::PrivateBus& bus)
{
    EXPECT_EQ(bus.devsim("unplug u1"), 0) << bus.err;
    EXPECT_EQ(bus.devsim("plug u1"), 0) << bus.err;
    EXPECT_EQ(bus.devsim("dump u1"), 0) << bus.err;
    return bus.out;
}

// Whether a unit runs values of erased flash taken for a session: gains of +48 dB, switches at 255,
// phantom power on, every flag set.
bool runsErasedValues(const std::string& dump)
{
    for (const char* erased :
         {"4294967295", "mute 255", "solo 255", "nominal 255", "phantom 1", "0x7fffffff"})
        if (dump.find(erased) != std::string::npos)
            return true;
    return false;
}

// What a unit runs, from "devsim dump": clock, rate, flags and phantom power, the kernel driver's flags
// (the rate lock), every mixer value and the routing record.
std::string runningValues(const std::string& dump)
{
    std::istringstream lines(dump);
    std::string out;
    for (std::string line; std::getline(lines, line);)
        for (const char* prefix : {"clock ", "driver ", "out ", "in ", "play ", "mon ", "isoc "})
            if (line.rfind(prefix, 0) == 0)
                out.append(line).append("\n");
    return out;
}

// Every VDC request that changes the unit (the settings page's and the mixer's), sorted.
std::vector<std::string> settingsSent(const consoletest::Trace& trace)
{
    std::vector<std::string> out;
    for (const consoletest::VdcLine& v : trace.vdc())
    {
        const bool mixer = (v.category >= 4 && v.category <= 6) || v.category == 8;
        const bool set = mixer ? v.command % 2 == 0
                               : (v.category == 3 && (v.command == 0 || v.command == 3)) ||
                                     (v.category == 9 && (v.command == 4 || v.command == 6));
        if (!set)
            continue;
        std::string text = std::to_string(v.category) + "/" + std::to_string(v.command);
        for (uint32_t p : v.params)
            text.append(" ").append(std::to_string(p));
        out.push_back(text);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(SessionTest, AWindowOnAnErasedSessionShowsWhatTheUnitRunsSendsNothingAndStoresItAtClose)
{
    // Before Vista, so that the window has the rate lock's button.
    ASSERT_EQ(bus_.devsim("os windows xp"), 0) << bus_.err;
    for (const std::string model : {"st4", "st12"})
    {
        SCOPED_TRACE(model);
        ASSERT_EQ(bus_.devsim("reset"), 0) << bus_.err;
        ASSERT_NO_FATAL_FAILURE(plug("--model " + model + " --unique-name " + model + " --blank-flash"));
        ASSERT_NO_FATAL_FAILURE(openDevice());
        // Besides its factory values the unit runs levels and mutes set in the system's volume controls,
        // the rate lock, phantom power, another clock, and values of an input that has no strip on st12.
        ASSERT_EQ(bus_.devsim("volume u1 1 -25"), 0) << bus_.err;
        ASSERT_EQ(bus_.devsim("mute u1 2 1"), 0) << bus_.err;
        ASSERT_TRUE(device_->setSampleRateLock(true));
        ASSERT_EQ(device_->setPhantomPower(1), 0);
        ASSERT_EQ(device_->setClock(-1, 1), 0);
        const int lastInput = int(device_->getCaps().getInputCount()) - 1;
        ASSERT_EQ(device_->setMonitorGain(lastInput, 5, -12.0f), 0);
        ASSERT_EQ(device_->setMonitorPan(lastInput, 5, 0.25f), 0);
        ASSERT_EQ(device_->setMonitorSolo(lastInput, 3, 2), 0);
        ASSERT_EQ(device_->setOutputNominal(1, 2), 0);
        trace_.clear();
        showWindow();
        drain();
        EXPECT_EQ(settingsSent(trace_), std::vector<std::string>{"3/3 1 0"}); // the settings page's flag
        console::Settings& settings = *content().getSettings();
        EXPECT_TRUE(settings.getPhantomPower()->getButton().getToggleState());
        EXPECT_EQ(settings.getClockSource()->getSelected(), 1);
        EXPECT_TRUE(settings.getSampleRate()->getLock()->getToggleState());
        EXPECT_FLOAT_EQ(state().getPlaybackGain(1), -25.0f);
        EXPECT_TRUE(state().getPlaybackMute(2));
        ASSERT_EQ(bus_.devsim("dump u1"), 0) << bus_.err;
        const std::string running = runningValues(bus_.out);

        window_->closeButtonPressed();
        ASSERT_TRUE(pumpUntil([&] { return !content().getHwThread()->isThreadRunning(); }));
        destroyWindow();
        EXPECT_EQ(runningValues(dumpAfterPowerUp(bus_)), running);
    }
}

TEST_F(SessionTest, AWindowWhoseSessionReadIsCutShortShowsWhatTheUnitRunsAndStoresNothing)
{
    ASSERT_NO_FATAL_FAILURE(plug("--model st8 --unique-name S"));
    ASSERT_NO_FATAL_FAILURE(openDevice());
    // The unit runs other values than its stored session.
    ASSERT_EQ(device_->setPhantomPower(1), 0);
    ASSERT_EQ(device_->setOutputGain(0, -10.0f), 0);
    device::IsocMapRecord routing{};
    routing.words[2] = 3;
    routing.words[4] = 4;
    routing.words[5] = 2;
    routing.words[9] = 7;
    ASSERT_EQ(device_->setIsocMap(routing), 0);
    uint32_t base = 0;
    ASSERT_EQ(device_->getSessionBase(base), 0);
    const std::vector<uint32_t> stored = consoletest::readFlash(*device_, base, ConsoleState::kImageQuads);
    ASSERT_EQ(bus_.devsim("fault u1 vdc:0/3 timeout always --after 5"), 0) << bus_.err;
    trace_.clear();
    {
        testsupport::ManualClock clock; // the session read's two seconds of time-outs pass at once
        showWindow();
    }
    drain();
    EXPECT_EQ(settingsSent(trace_), std::vector<std::string>{"3/3 1 0"});
    console::Settings& settings = *content().getSettings();
    EXPECT_TRUE(settings.getPhantomPower()->getButton().getToggleState());
    EXPECT_EQ(settings.getIsocMap()->getComboBox(0).getSelectedItemIndex(), 2);
    EXPECT_FLOAT_EQ(state().getOutputGain(0), -10.0f);

    // A routing choice sends the record the unit runs, with that choice.
    trace_.clear();
    settings.getIsocMap()->getComboBox(1).setSelectedItemIndex(0, juce::sendNotificationSync);
    drain();
    routing.words[5] = 0;
    std::vector<uint32_t> sent;
    for (const consoletest::VdcLine& v : trace_.vdc(9))
        if (v.command == 6)
            sent = v.params;
    EXPECT_EQ(sent, std::vector<uint32_t>(std::begin(routing.words), std::end(routing.words)));

    window_->closeButtonPressed();
    ASSERT_TRUE(pumpUntil([&] { return !content().getHwThread()->isThreadRunning(); }));
    destroyWindow();
    ASSERT_TRUE(device_->open());
    EXPECT_EQ(consoletest::readFlash(*device_, base, ConsoleState::kImageQuads), stored);
}

TEST_F(SessionTest, AfterAConsoleThatEndedWithoutStoringPhantomPowerAndTheClockShowWhatTheUnitRuns)
{
    open("st8");
    console::Settings& settings = *content().getSettings();
    settings.getPhantomPower()->getButton().triggerClick();
    settings.getClockSource()->getButton(1)->triggerClick();
    ASSERT_TRUE(pumpPosted());
    drain();
    closeWindow(); // killed: nothing is stored

    ASSERT_TRUE(device_->open());
    showWindow();
    drain();
    EXPECT_TRUE(content().getSettings()->getPhantomPower()->getButton().getToggleState());
    EXPECT_EQ(content().getSettings()->getClockSource()->getSelected(), 1);
    EXPECT_NE(state().getWord(ConsoleState::kFlagsWord) & ConsoleState::kPhantomFlag, 0u);
    EXPECT_EQ(state().getWord(ConsoleState::kClockWord), 1u);
}

TEST_F(SessionTest, TheFirstWindowAfterAFirmwareUpdateStoresAWholeSoundSession)
{
    // The update erases the stored session; the user turns the unit off and on, the console opens its
    // window and it is closed untouched.
    ASSERT_NO_FATAL_FAILURE(plug("--model st8 --unique-name S --firmware 4.2"));
    const juce::File folder = juce::File(juce::String(bus_.dir)).getChildFile("firmware");
    ASSERT_TRUE(folder.createDirectory());
    ASSERT_EQ(bus_.devsim("mkfirmware st8 " + folder.getFullPathName().toStdString()), 0) << bus_.err;
    console::setFirmwareFolder(folder);
    ASSERT_NO_FATAL_FAILURE(openDevice());
    const console::FirmwareEntry* entry = console::findFirmwareEntry(*device_);
    ASSERT_NE(entry, nullptr);
    {
        testsupport::ManualClock clock; // the update's pauses for the flash to be ready pass at once
        EXPECT_TRUE(console::startFirmwareUpdate(*device_, *entry).startsWith("Flash update complete."));
    }
    console::setFirmwareFolder({});
    dumpAfterPowerUp(bus_);
    ASSERT_NO_FATAL_FAILURE(openDevice());
    showWindow();
    drain(); // what the unit runs is read into the window
    window_->closeButtonPressed();
    ASSERT_TRUE(pumpUntil([&] { return !content().getHwThread()->isThreadRunning(); }));
    destroyWindow();

    ASSERT_TRUE(device_->open());
    uint32_t base = 0;
    ASSERT_EQ(device_->getSessionBase(base), 0);
    std::vector<uint32_t> stored = consoletest::readFlash(*device_, base, ConsoleState::kImageQuads);
    ASSERT_EQ(stored.size(), size_t(ConsoleState::kImageQuads));
    EXPECT_EQ(stored[0], 3348u);
    EXPECT_EQ(stored[1], console::crc32(stored.data() + 2, ConsoleState::kImageBytes - 8));
    const std::string dump = dumpAfterPowerUp(bus_);
    EXPECT_FALSE(runsErasedValues(dump)) << dump;
}

TEST_F(SessionTest, AWindowOnAWholeSessionSendsNothingAtStart)
{
    open("st8");
    drain();
    EXPECT_EQ(settingsSent(trace_), std::vector<std::string>{"3/3 1 0"}); // the settings page's flag
}

TEST_F(SessionTest, TheSessionButtonsTriggerTheWindowsCommandsAndCtrlSShowsSavePressed)
{
    open("st8");
    console::SessionBox& box = *content().getSessionBox();
    const console::ConsoleLayout& layout = content().getLayout();
    EXPECT_EQ(box.getLoadButton().getName(), "LoadButton");
    EXPECT_EQ(box.getSaveButton().getName(), "SaveButton");
    EXPECT_EQ(box.getResetButton().getName(), "ResetButton");
    EXPECT_EQ(box.getLoadButton().getBounds(),
              juce::Rectangle<int>(60, 25).withPosition(layout.getLoadButtonPosition()));
    EXPECT_EQ(box.getSaveButton().getPosition(), layout.getSaveButtonPosition());
    EXPECT_EQ(box.getResetButton().getPosition(), layout.getResetButtonPosition());

    box.getLoadButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return dialogs_.calls.size() == 1; }));
    EXPECT_EQ(dialogs_.calls[0].title, "Load settings");
    box.getSaveButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return dialogs_.calls.size() == 2; }));
    EXPECT_EQ(dialogs_.calls[1].title, "Save settings");

    juce::KeyPressMappingSet& keys = *content().getCommandManager().getKeyMappings();
    ASSERT_TRUE(pumpUntil([&] { return !box.getSaveButton().isShowingPressed(); }));
    ASSERT_TRUE(keys.keyPressed(juce::KeyPress('o', juce::ModifierKeys::ctrlModifier, 0), window_.get()));
    ASSERT_TRUE(pumpUntil([&] { return dialogs_.calls.size() == 3; }));
    EXPECT_EQ(dialogs_.calls[2].title, "Load settings");
    EXPECT_FALSE(box.getSaveButton().isShowingPressed());
    ASSERT_TRUE(keys.keyPressed(juce::KeyPress('s', juce::ModifierKeys::ctrlModifier, 0), window_.get()));
    EXPECT_TRUE(box.getSaveButton().isShowingPressed());
    ASSERT_TRUE(pumpUntil([&] { return dialogs_.calls.size() == 4; }));
    EXPECT_EQ(dialogs_.calls[3].title, "Save settings");
    ASSERT_TRUE(pumpUntil([&] { return !box.getSaveButton().isShowingPressed(); }));
    EXPECT_EQ(box.getSaveButton().getState(), juce::Button::buttonNormal);
}

TEST_F(SessionTest, ACommandGivenAgainBeforeTheFirstHasRunOpensOneChooser)
{
    // A key pressed twice on a busy machine: both reach the window before the first chooser opens.
    open("st8");
    content().getCommandManager().invokeDirectly(console::kLoadCommand, false);
    content().getCommandManager().invokeDirectly(console::kSaveCommand, false);
    EXPECT_FALSE(content().getSessionBox()->getSaveButton().isShowingPressed()) << "Save was dropped";
    ASSERT_TRUE(pumpPosted());
    ASSERT_EQ(dialogs_.calls.size(), 1u);
    EXPECT_EQ(dialogs_.calls[0].title, "Load settings");
    command(console::kSaveCommand);
    EXPECT_EQ(dialogs_.calls.size(), 2u) << "a command after the first has run";
}

TEST_F(SessionTest, ASaveLoadSaveRoundTripIsByteIdenticalOnTheLargestModel)
{
    open("st12");
    std::vector<uint32_t> session(ConsoleState::kImageQuads);
    for (size_t i = 0; i < session.size(); ++i)
        session[i] = uint32_t(i * 0x9E3779B1u);
    session[0] = 3348;
    session[2] = 512;
    // The settings page takes the clock and rate the device then runs at into the image: a session
    // with ones the device offers comes back as it was.
    session[ConsoleState::kClockWord] = 0;
    session[ConsoleState::kRateWord] = 48000;
    // No name is empty, so the name labels store no default names.
    auto* bytes = reinterpret_cast<uint8_t*>(session.data());
    for (int records :
         {ConsoleState::kInputRecords, ConsoleState::kPlaybackRecords, ConsoleState::kOutputRecords})
        for (int c = 0; c < ConsoleState::kMaxChannels; ++c)
            bytes[records + c * ConsoleState::kRecordBytes + ConsoleState::kNameOffset] |= 0x40;
    state().replaceImage(session.data()); // names end at byte 23
    state().copyImage(session.data());
    state().setInputGangs(0x0F0F0F0F);
    state().setPlaybackGangs(0x3C);
    state().setOutputGangs(0x7);
    state().setHeaderWord(0x55);

    const juce::File folder = sessionFolder();
    dialogs_.answers = {folder.getChildFile("First"), folder.getChildFile("First.Strellis 12 session"),
                        folder.getChildFile("Second")};
    command(console::kSaveCommand);
    state().setInputGangs(0);
    state().replaceImage(std::vector<uint32_t>(ConsoleState::kImageQuads, 0).data());
    command(console::kLoadCommand);
    EXPECT_EQ(image(), session);
    EXPECT_EQ(state().getInputGangs(), 0x0F0F0F0F);
    drain(); // the load's sends
    command(console::kSaveAsCommand);

    ASSERT_TRUE(dialogs_.alerts.empty());
    const std::vector<uint8_t> first = bytesOf(folder.getChildFile("First.Strellis 12 session"));
    ASSERT_EQ(first.size(), 13456u);
    EXPECT_EQ(bytesOf(folder.getChildFile("Second.Strellis 12 session")), first);
}

TEST_F(SessionTest, AWindowClosedWhileItsChooserIsOpenIsLeftAlone)
{
    open("st8");
    const juce::File folder = sessionFolder();
    dialogs_.answers = {folder.getChildFile("Base")};
    command(console::kSaveCommand);

    dialogs_.answers = {folder.getChildFile("Base.Strellis 8 session")};
    dialogs_.whileOpen = [this] { closeWindow(); };
    content().getCommandManager().invokeDirectly(console::kLoadCommand, false);
    ASSERT_TRUE(pumpUntil([&] { return window_ == nullptr; }));
    ASSERT_TRUE(pumpPosted());
    EXPECT_TRUE(dialogs_.alerts.empty());
}
