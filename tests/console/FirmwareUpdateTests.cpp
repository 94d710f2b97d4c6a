// The firmware check's decisions and the firmware update against the simulator: the flash sequence in
// the trace, the skip of an image already in place, and the failures a user is shown.

#include "ConsoleTestSupport.h"
#include "console/core/FirmwareUpdate.h"
#include "platform/MessageBox.h"

#include <functional>
#include <memory>

using namespace console;
using namespace consoletest;

namespace
{

const juce::String kComplete =
    "Flash update complete.  Please turn your device off and back on to apply the update.";
const juce::String kAskNow = "\nWould you like to update your firmware now?";
const juce::String kOutOfDate = "\nThe firmware for this device is out of date.\n";

struct Box
{
    std::string title;
    std::string text;
    int type;
};

// Records every box and answers it.
class BoxCapture
{
public:
    explicit BoxCapture(int answer)
    {
        previous_ = platform::setMessageBoxPresenter(
            [this, answer](const std::string& title, const std::string& text, int type)
            {
                boxes.push_back({title, text, type});
                return (type & 0xF) == platform::MB_YESNO ? answer : platform::IDOK;
            });
    }
    ~BoxCapture() { platform::setMessageBoxPresenter(previous_); }
    BoxCapture(const BoxCapture&) = delete;
    BoxCapture& operator=(const BoxCapture&) = delete;

    std::vector<Box> boxes;

private:
    platform::MessageBoxPresenter previous_;
};

// Consecutive repeats collapsed, so a pass reads as one step.
std::vector<std::string> collapsed(const std::vector<std::string>& seq)
{
    std::vector<std::string> out;
    for (const std::string& s : seq)
        if (out.empty() || out.back() != s)
            out.push_back(s);
    return out;
}

class FirmwareCheck : public ::testing::Test
{
protected:
    // Plugs a unit with this record as the only one on the bus and asks the check.
    bool check(uint32_t vendor, uint32_t dsp, uint32_t arm, bool noFlashLock, bool force,
               const juce::String& prompt = {})
    {
        EXPECT_EQ(bus.devsim("reset"), 0) << bus.err;
        EXPECT_EQ(
            bus.devsim("plug u1 --caps " + writeCapsFile(bus.dir, vendor, 0x5E8, dsp, arm, noFlashLock)), 0)
            << bus.err;
        device::vhw::Ptr device = firstDevice();
        EXPECT_NE(device, nullptr);
        if (device == nullptr)
            return true;
        EXPECT_EQ(device->getCaps().getArmVersion(), arm);
        boxes.boxes.clear();
        return checkFirmware(*device, force, prompt);
    }

    juce::String asked() const
    {
        return boxes.boxes.size() == 1 ? juce::String(boxes.boxes[0].text) : "<no single box>";
    }

    testsupport::TempBus bus;
    BoxCapture boxes{platform::IDNO};
};

} // namespace

TEST_F(FirmwareCheck, CurrentFirmwareOpensTheWindowWithoutAsking)
{
    EXPECT_TRUE(check(0x3B71, 0x04080000, 0x04080000, true, false));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(check(0x3B71, 0x04090000, 0x04080001, true, false));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(FirmwareCheck, OldFirmwareIsOfferedAnUpdateAndOpensNoWindowEvenOnNo)
{
    EXPECT_FALSE(check(0x3B71, 0x04080000, 0x0407FFFF, true, false));
    EXPECT_EQ(asked(), kOutOfDate + kAskNow);
    EXPECT_EQ(boxes.boxes[0].type & 0xF, platform::MB_YESNO);
    EXPECT_FALSE(check(0x3B71, 0x04070000, 0x04080000, true, false));
    EXPECT_EQ(asked(), kOutOfDate + kAskNow);
}

TEST_F(FirmwareCheck, BackupCodeIsOutOfDateWhateverItsNumber)
{
    EXPECT_FALSE(check(0x3B71, 0x04080000, 0x0409000E, true, false));
    EXPECT_EQ(asked(), kOutOfDate + kAskNow);
    EXPECT_FALSE(check(0x3B71, 0x0409000E, 0x04090000, true, false));
    EXPECT_EQ(asked(), kOutOfDate + kAskNow);
}

TEST_F(FirmwareCheck, DspVersionCountsOnlyOnUnitsWithoutFlashLock)
{
    EXPECT_TRUE(check(0x3B71, 0x03000000, 0x04080000, false, false));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(check(0x3B71, 0x0300000E, 0x04080000, false, false));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(check(0x3B71, 0x03000000, 0x04080000, true, false));
    EXPECT_EQ(asked(), kOutOfDate + kAskNow);
}

TEST_F(FirmwareCheck, ForcedUpdateAsksWithoutTheOutOfDateLine)
{
    EXPECT_FALSE(check(0x3B71, 0x04080000, 0x04080000, true, true));
    EXPECT_EQ(asked(), kAskNow);
    EXPECT_FALSE(check(0x3B71, 0x04080000, 0x04080000, true, true, "\nUpdate the firmware?"));
    EXPECT_EQ(asked(), "\nUpdate the firmware?");
    EXPECT_EQ(boxes.boxes[0].title, firstDevice()->getUniqueName());
}

TEST_F(FirmwareCheck, ModelWithoutTableRowIsNeverUpdated)
{
    EXPECT_TRUE(check(0x1234, 0x01000000, 0x01000000, true, true));
    EXPECT_TRUE(boxes.boxes.empty());
}

namespace
{

class FirmwareUpdate : public ::testing::Test
{
protected:
    static constexpr uint32_t kImageAddress = 0x180000;
    static constexpr uint32_t kImageQuads = 3000;

    void SetUp() override
    {
        previousFactory =
            setFirmwareProgressFactory([this] { return std::make_unique<RecordingFlashProgress>(progress); });
        ASSERT_EQ(bus.devsim("plug u1 --model st2"), 0) << bus.err;
        ASSERT_EQ(bus.devsim("set u1 session-base 0x20000"), 0) << bus.err;
        device = firstDevice();
        ASSERT_NE(device, nullptr);
        entry = findFirmwareEntry(*device);
        ASSERT_NE(entry, nullptr);
        folder = juce::File(bus.dir).getChildFile("firmware");
        ASSERT_TRUE(folder.createDirectory());
        setFirmwareFolder(folder);
        writeImage(patternData(kImageQuads));
    }

    void TearDown() override
    {
        setFirmwareFolder({});
        setFirmwareProgressFactory(previousFactory);
    }

    void writeImage(const std::vector<uint32_t>& data)
    {
        DatHeader h;
        h.type = 1;
        h.address = kImageAddress;
        h.quadCount = uint32_t(data.size());
        image = data;
        writeFile(folder.getChildFile("Doranth3.dat").getFullPathName().toStdString(),
                  makeDat(headerQuads(h), data));
    }

    juce::String update() { return startFirmwareUpdate(*device, *entry); }

    std::vector<uint32_t> flashImage()
    {
        const bool wasOpen = device->isOpen();
        device->open();
        auto out = readFlash(*device, kImageAddress, kImageQuads);
        if (!wasOpen)
            device->close();
        return out;
    }

    testsupport::TempBus bus;
    BoxCapture boxes{platform::IDYES};
    std::shared_ptr<FlashProgressLog> progress = std::make_shared<FlashProgressLog>();
    FlashProgressFactory previousFactory;
    device::vhw::Ptr device;
    const FirmwareEntry* entry = nullptr;
    juce::File folder;
    std::vector<uint32_t> image;
};

} // namespace

TEST_F(FirmwareUpdate, ImageIsFlashedVerifiedAndASecondRunWritesNothing)
{
    Trace trace(bus.dir);
    EXPECT_EQ(update(), kComplete);
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().text, kComplete.toStdString());
    EXPECT_EQ(boxes.boxes.back().title, device->getUniqueName());
    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(flashImage(), image);

    const std::vector<std::string> first = {"1/1",   "1/5:1", "1/0:0x180000", "1/3",         "1/1", "1/2",
                                            "1/5:0", "1/1",   "1/4",          "1/0:0x20000", "1/3", "1/1"};
    EXPECT_EQ(collapsed(trace.flashSequence()), first);
    // 3000 quadlets: 47 writes, the last of 56.
    const auto writes = trace.vdc(1);
    int n = 0;
    for (const auto& v : writes)
        if (v.command == 2)
        {
            EXPECT_EQ(v.params[0], kImageAddress + 256 * n);
            EXPECT_EQ(v.params[1], n < 46 ? 64u : 56u);
            ++n;
        }
    EXPECT_EQ(n, 47);

    trace.clear();
    EXPECT_EQ(update(), kComplete);
    const std::vector<std::string> second = {"1/1", "1/4", "1/0:0x20000", "1/3", "1/1"};
    EXPECT_EQ(collapsed(trace.flashSequence()), second);
    EXPECT_TRUE(progress->showed("verifying..."));
    EXPECT_TRUE(progress->finished.load());
}

TEST_F(FirmwareUpdate, UnalignedImageErasesEveryBlockItOverlaps)
{
    DatHeader h;
    h.type = 0;
    h.address = 0xF000;
    h.quadCount = 0x1000;
    image = patternData(0x1000);
    writeFile(folder.getChildFile("Doranth3.dat").getFullPathName().toStdString(),
              makeDat(headerQuads(h), image));
    ASSERT_EQ(bus.devsim("set u1 session-base 0x100000"), 0) << bus.err;
    Trace trace(bus.dir);
    EXPECT_EQ(update(), kComplete);
    std::vector<std::string> erases;
    for (const std::string& s : trace.flashSequence())
        if (s.rfind("1/0:", 0) == 0)
            erases.push_back(s);
    EXPECT_EQ(erases, (std::vector<std::string>{"1/0:0xe000", "1/0:0x10000", "1/0:0x100000"}));
    device->open();
    EXPECT_EQ(readFlash(*device, 0xF000, 0x1000), image);
    device->close();
}

TEST_F(FirmwareUpdate, DeviceOfAnOpenWindowStaysOpen)
{
    ASSERT_TRUE(device->open());
    EXPECT_EQ(update(), kComplete);
    EXPECT_TRUE(device->isOpen());
    device->close();
}

TEST_F(FirmwareUpdate, MissingFileIsReportedBeforeAnythingStarts)
{
    folder.getChildFile("Doranth3.dat").deleteFile();
    Trace trace(bus.dir);
    const juce::String expected =
        "Unable to locate file " + folder.getChildFile("Doranth3.dat").getFullPathName();
    EXPECT_EQ(update(), expected);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, expected.toStdString());
    EXPECT_TRUE(trace.lines().empty());
}

TEST_F(FirmwareUpdate, RefusedDatFileShowsItsMessage)
{
    writeFile(folder.getChildFile("Doranth3.dat").getFullPathName().toStdString(), "1651 1 0 0\n");
    EXPECT_EQ(update(), "DAT file error\n\n" + folder.getChildFile("Doranth3.dat").getFullPathName() +
                            "\n\nIncomplete DAT header");
}

TEST_F(FirmwareUpdate, RefusedEraseFailsAndUnlocks)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/0 vdr:5 always"), 0) << bus.err;
    Trace trace(bus.dir);
    EXPECT_EQ(update(), "Unable to erase flash memory");
    const auto seq = collapsed(trace.flashSequence());
    EXPECT_EQ(seq, (std::vector<std::string>{"1/1", "1/5:1", "1/0:0x180000", "1/5:0"}));
}

TEST_F(FirmwareUpdate, ReadFailureBeforeFlashingEndsTheUpdate)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/1 vdr:5 1"), 0) << bus.err;
    Trace trace(bus.dir);
    EXPECT_EQ(update(), "Unable to read flash memory");
    EXPECT_EQ(collapsed(trace.flashSequence()), (std::vector<std::string>{"1/1"}));
}

TEST_F(FirmwareUpdate, ReadsThatKeepAskingToTryAgainFailAfterTwoSeconds)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/1 timeout always"), 0) << bus.err;
    Trace trace(bus.dir);
    testsupport::ManualClock clock;
    EXPECT_EQ(update(), "Unable to read flash memory");
    EXPECT_EQ(collapsed(trace.flashSequence()), (std::vector<std::string>{"1/1"}));
}

TEST_F(FirmwareUpdate, FlashThatStaysBusyFails)
{
    ASSERT_EQ(bus.devsim("set u1 flash.busy 1000"), 0) << bus.err;
    Trace trace(bus.dir);
    testsupport::ManualClock clock;
    EXPECT_EQ(update(), "Unknown error");
    const auto seq = collapsed(trace.flashSequence());
    EXPECT_EQ(count(seq, "1/2"), 0);
    EXPECT_EQ(seq.back(), "1/5:0");
}

TEST_F(FirmwareUpdate, StuckBitFailsTheBlankCheck)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/0 stuck0:0x180010:3 always"), 0) << bus.err;
    EXPECT_EQ(update(), "Verification failed - unable to erase flash memory");
}

TEST_F(FirmwareUpdate, CorruptedWriteFailsTheVerify)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/2 corrupt 1 --after 5"), 0) << bus.err;
    Trace trace(bus.dir);
    EXPECT_EQ(update(), "Verification failed - flash memory does not match the image");
    EXPECT_NE(flashImage(), image);
    EXPECT_EQ(count(trace.flashSequence(), "1/4"), 0) << "the session is kept after a failed update";
}

TEST_F(FirmwareUpdate, SecondCheckWhileTheUpdateRunsIsIgnored)
{
    bool second = true;
    size_t boxesBefore = 0;
    // The update's first write is held until the second check has run, inside the update's loop.
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/2 hold"), 0) << bus.err;
    Later during(
        [&]
        {
            boxesBefore = boxes.boxes.size();
            EXPECT_TRUE(isFirmwareUpdateRunning(*device));
            second = checkFirmware(*device, true, {});
            EXPECT_EQ(bus.devsim("fault u1 clear"), 0) << bus.err;
        });
    EXPECT_EQ(update(), kComplete);
    EXPECT_FALSE(second);
    EXPECT_EQ(boxes.boxes.size(), boxesBefore + 1) << "only the outcome box follows";
    EXPECT_FALSE(isFirmwareUpdateRunning(*device));
}
