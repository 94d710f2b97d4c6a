// The DAT parser's messages and limits, the image description, the firmware table and version texts.

#include "ConsoleTestSupport.h"
#include "VersionBlockBytes.h"
#include "console/core/DatImage.h"
#include "console/core/Firmware.h"

#include <memory>
#include <tuple>

using namespace console;
using namespace consoletest;

namespace
{

const juce::String kPath = "/fw/strellis8.dat";

struct Parsed
{
    bool ok;
    juce::String message;
};

class DatParse : public ::testing::Test
{
protected:
    Parsed parse(const std::string& content)
    {
        Parsed p;
        p.ok = image->parse(content.data(), content.size(), kPath, p.message);
        return p;
    }

    Parsed parse(const DatHeader& h, const std::vector<uint32_t>& data, bool finalLineEnd = true)
    {
        return parse(makeDat(headerQuads(h), data, finalLineEnd));
    }

    static juce::String fileError(const char* message) { return "DAT file error\n\n" + kPath + message; }

    std::unique_ptr<DatImage> image = std::make_unique<DatImage>();
};

} // namespace

TEST_F(DatParse, EmptyFileHasNoData)
{
    EXPECT_EQ(parse("").message, fileError(" has no data."));
}

TEST_F(DatParse, MagicNumbersAreCheckedOneByOne)
{
    EXPECT_EQ(parse("1651 1 0 0\n").message, fileError("\n\nIncomplete DAT header"));
    EXPECT_EQ(parse("\n").message, fileError("\n\nIncomplete DAT header"));
    EXPECT_EQ(parse("1651 1 0 0 x\n").message, fileError("\n\nNot enough magic numbers in header"));
    // A token is read only when it is wholly a number.
    EXPECT_EQ(parse("1651 1x 0 0 0\n").message, fileError("\n\nNot enough magic numbers in header"));
    EXPECT_EQ(parse("1652 1 0 0 0\n").message, fileError("\n\nBad magic number"));
    EXPECT_EQ(parse("1651 1 0 0 99999999999999999999\n").message, fileError("\n\nBad magic number"));
}

TEST_F(DatParse, MagicNumbersAloneLeaveAnErasedHeaderOfInvalidType)
{
    const Parsed p = parse("1651 1 0 0 0\n");
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.message, "Invalid DAT type");
}

TEST_F(DatParse, QuadletTokensMustBeOneToEightHexDigits)
{
    const std::string start = "1651 1 0 0 0\n00000001 ";
    EXPECT_EQ(parse(start + "12345678g\n").message, fileError("\n\nNot enough data"));
    EXPECT_EQ(parse(start + "123456789\n").message, fileError("\n\nNot enough data"));
    EXPECT_EQ(parse(start + "0x12\n").message, fileError("\n\nNot enough data"));
    EXPECT_EQ(parse(start + "-1\n").message, fileError("\n\nNot enough data"));
}

TEST_F(DatParse, AllSeparatorKindsSplitTokens)
{
    DatHeader h;
    h.quadCount = 3;
    std::string text = makeDat(headerQuads(h), {0xA, 0xB, 0xC});
    for (char& c : text)
        if (c == ' ')
            c = '\x02';
    text.insert(text.find('\n') + 1, "\x03\x03  \r\r\n");
    const Parsed p = parse(text);
    ASSERT_TRUE(p.ok) << p.message;
    EXPECT_EQ(image->data()[2], 0xCu);
}

TEST_F(DatParse, FinalDigitSurvivesAFileWithoutLineEnd)
{
    DatHeader h;
    h.quadCount = 2;
    ASSERT_TRUE(parse(h, {0x11111111, 0x12345678}, false).ok);
    EXPECT_EQ(image->data()[1], 0x12345678u);
    ASSERT_TRUE(parse(h, {0x11111111, 0x12345678}, true).ok);
    EXPECT_EQ(image->data()[1], 0x12345678u);
}

TEST_F(DatParse, MoreThanTheBufferIsTooLarge)
{
    DatHeader h;
    h.address = 0;
    h.quadCount = DatImage::kMaxDataQuads;
    EXPECT_TRUE(parse(h, patternData(DatImage::kMaxDataQuads)).ok);
    EXPECT_EQ(parse(h, patternData(DatImage::kMaxDataQuads + 1)).message, "DAT file is too large.");
}

TEST_F(DatParse, HeaderChecksGiveTheirMessagesInOrder)
{
    DatHeader h;
    h.type = 4;
    h.quadCount = 1;
    EXPECT_EQ(parse(h, {1}).message, "Invalid DAT type");

    h = {};
    h.quadCount = 0;
    EXPECT_EQ(parse(h, {}).message, fileError("\n\nQuad count in header is zero."));

    h = {};
    h.address = 0x200000;
    h.quadCount = 1;
    EXPECT_EQ(parse(h, {1}).message, fileError("\n\nStart address is past physical end of flash memory."));
    h.address = 0xFFFFFFFC; // would wrap around in 32 bits
    EXPECT_EQ(parse(h, {1}).message, fileError("\n\nStart address is past physical end of flash memory."));

    h = {};
    h.address = 0x10002;
    h.quadCount = 1;
    EXPECT_EQ(parse(h, {1}).message, fileError("\n\nStart address is not a multiple of 4."));

    h = {};
    h.quadCount = 3;
    EXPECT_EQ(parse(h, {1, 2}).message, fileError("\n\nHeader quad count does not match file size."));
    EXPECT_EQ(parse(h, {1, 2, 3, 4}).message, fileError("\n\nHeader quad count does not match file size."));
}

TEST_F(DatParse, AnImageMayEndExactlyAtTheFlashEnd)
{
    DatHeader h;
    h.address = 0x1A0000;
    h.quadCount = DatImage::kMaxDataQuads;
    const auto data = patternData(h.quadCount);
    ASSERT_TRUE(parse(h, data).ok);
    EXPECT_EQ(image->data()[h.quadCount - 1], data.back());

    h.address = 0x1A0004;
    EXPECT_EQ(parse(h, data).message, fileError("\n\nImage goes past physical end of flash memory."));
}

TEST_F(DatParse, QuadCountTimesFourDoesNotWrapPastTheCheck)
{
    DatHeader h;
    h.address = 0x100000;
    h.quadCount = 0x40000001; // 4 x count is 4 in 32 bits
    EXPECT_EQ(parse(h, {1}).message, fileError("\n\nImage goes past physical end of flash memory."));
}

TEST_F(DatParse, TrailerExtendsTheImageToTheRegion)
{
    DatHeader h;
    h.quadCount = 100;
    h.trailerFlag = 1;
    h.regionSize = 4096;
    h.trailer = 0x5AA5C33C;
    h.version = 0x04080102;
    const auto data = patternData(100);
    ASSERT_TRUE(parse(h, data).ok);
    EXPECT_EQ(image->header().quadCount, 4096u);
    const uint32_t* d = image->data();
    EXPECT_EQ(d[99], data[99]);
    for (uint32_t i = 100; i < 4094; ++i)
        ASSERT_EQ(d[i], 0xFFFFFFFFu) << i;
    EXPECT_EQ(d[4094], 0x04080102u);
    EXPECT_EQ(d[4095], 0x5AA5C33Cu);
}

TEST_F(DatParse, RegionSizesThatRunPastOrOverwriteAreRefused)
{
    DatHeader h;
    h.address = 0x100000;
    h.quadCount = 100;
    h.trailerFlag = 1;
    const auto data = patternData(100);

    h.regionSize = DatImage::kMaxDataQuads + 1;
    EXPECT_EQ(parse(h, data).message, fileError("\n\nRegion size in header is larger than an image can be."));
    h.address = 0x1C0000;
    h.regionSize = 0x10001; // ends 4 bytes past the flash
    EXPECT_EQ(parse(h, data).message, fileError("\n\nRegion goes past physical end of flash memory."));
    h.regionSize = 0x10000;
    EXPECT_TRUE(parse(h, data).ok);

    h.regionSize = 101; // the version would overwrite the last data quadlet
    EXPECT_EQ(parse(h, data).message, fileError("\n\nRegion size in header would overwrite the image data."));
    h.regionSize = 102;
    EXPECT_TRUE(parse(h, data).ok);

    // A region no larger than the data needs no trailer.
    h.regionSize = 50;
    ASSERT_TRUE(parse(h, data).ok);
    EXPECT_EQ(image->header().quadCount, 100u);
    EXPECT_EQ(image->data()[99], data[99]);
}

TEST_F(DatParse, DescriptionNamesTheCodeOfLargeImages)
{
    DatHeader h;
    h.quadCount = 2049;
    const auto data = patternData(2049);
    const std::pair<uint32_t, const char*> types[] = {
        {0, "DSP code 4.8"}, {1, "ARM code 4.8"}, {2, "4.8"}, {3, "FPGA 4.8"}};
    for (auto [type, text] : types)
    {
        h.type = type;
        ASSERT_TRUE(parse(h, data).ok);
        EXPECT_EQ(image->describe(), text);
    }
    h.version = 0x0408000E;
    ASSERT_TRUE(parse(h, data).ok);
    EXPECT_EQ(image->describe(), "Backup code 4.8E");

    h.quadCount = 2048;
    ASSERT_TRUE(parse(h, patternData(2048)).ok);
    EXPECT_EQ(image->describe(), "");
}

TEST(FirmwareTable, ImageFilesLieBesideTheExecutableUnderTheirExactNames)
{
    const juce::File exe = juce::File::getSpecialLocation(juce::File::currentExecutableFile);
    EXPECT_EQ(firmwareFilePath("Morvay1200F_ARM", "dat"),
              exe.getParentDirectory().getChildFile("Morvay1200F_ARM.dat"));

    setFirmwareFolder(juce::File("/tmp/elsewhere"));
    EXPECT_EQ(firmwareFilePath("bootstrap", "dat").getFullPathName(), "/tmp/elsewhere/bootstrap.dat");
    setFirmwareFolder({});
}

TEST(FirmwareTable, VersionTextsShowNonzeroLowFieldsAndAZeroThirdOneBeforeAFourth)
{
    EXPECT_EQ(firmwareVersionText(0x04080000), "4.8");
    EXPECT_EQ(firmwareVersionText(0x04080100), "4.8.1");
    EXPECT_EQ(firmwareVersionText(0x04080102), "4.8.1.2");
    EXPECT_EQ(firmwareVersionText(0x0408000E), "4.8.0.14");
    EXPECT_EQ(firmwareVersionText(0xFFFFFFFF), "255.255.255.255");

    const juce::File file = juce::File::createTempFile(".bin");
    for (auto [build, revision, text] : {std::tuple{0, 0, "4.8"}, {2, 0, "4.8.2"}, {0, 5, "4.8.0.5"}})
    {
        ASSERT_TRUE(testsupport::writeVersionedFile(file.getFullPathName().toStdString(), 4, 8,
                                                    uint16_t(build), uint16_t(revision)));
        juce::String shown;
        ASSERT_TRUE(getFileVersionText(file.getFullPathName(), shown));
        EXPECT_EQ(shown, text);
    }
    file.deleteFile();
}

TEST(FirmwareTable, FileWithoutVersionBlockLeavesTheTextUnchanged)
{
    const juce::File file = juce::File::createTempFile(".bin");
    ASSERT_TRUE(file.replaceWithText("no version here"));
    juce::String text = "unchanged";
    EXPECT_FALSE(getFileVersionText(file.getFullPathName(), text));
    EXPECT_EQ(text, "unchanged");
    file.deleteFile();
}
