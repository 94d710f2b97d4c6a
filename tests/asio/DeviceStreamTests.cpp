// The streaming object's copies against a shared block built here, the channel maps, and the device
// object's own rules.

#include "AsioTestSupport.h"
#include "WaitUntil.h"
#include "asio/DeviceStream.h"

#include <chrono>
#include <future>
#include <random>
#include <thread>

using namespace asiodrv;
using asiotest::CapsBytes;
using asiotest::DriverFixture;
using asiotest::FakeSharedBlock;
using asiotest::typicalCaps;

namespace
{

// The slot bytes in memory order.
std::vector<uint8_t> slotBytes(uint32_t slot)
{
    uint8_t b[4];
    std::memcpy(b, &slot, 4);
    return {b[0], b[1], b[2], b[3]};
}

uint32_t slotFromBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    const uint8_t b[4] = {b0, b1, b2, b3};
    uint32_t slot;
    std::memcpy(&slot, b, 4);
    return slot;
}

// What a frame slot must hold for a host sample: its upper three bytes, most significant first, after a
// zero byte; written out byte by byte rather than with the driver's shift and swap.
uint32_t expectedSlot(int32_t sample)
{
    const auto u = static_cast<uint32_t>(sample);
    return slotFromBytes(0, static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                         static_cast<uint8_t>(u >> 8));
}

// What a host sample must be for a captured slot: its last three bytes in memory order are the sample,
// most significant first; the first byte is junk.
int32_t expectedSample(uint32_t slot)
{
    const std::vector<uint8_t> b = slotBytes(slot);
    return static_cast<int32_t>(static_cast<uint32_t>(b[1]) << 24 | static_cast<uint32_t>(b[2]) << 16 |
                                static_cast<uint32_t>(b[3]) << 8);
}

class Stream : public DriverFixture
{
protected:
    static constexpr uint32_t kBufferSize = 8;

    // One interface with four analog outputs and four analog inputs, its device object and its stream
    // with every channel registered.
    void SetUp() override
    {
        DriverFixture::SetUp();
        plug("u1", typicalCaps().channels(4, 4).outputGroups({{0, 4}}).inputGroups({{0, 4}}));
        device = std::make_unique<vhw>(interfacePath(0));
        ASSERT_TRUE(device->isValid()) << device->lastError();
        stream = std::make_unique<DeviceStream>(device.get());
        stream->setBufferSize(kBufferSize);
        ASSERT_TRUE(stream->allocateBuffers());
        for (int k = 0; k < 4; ++k)
        {
            outputs[k] = stream->outputBuffer(k, true);
            inputs[k] = stream->inputBuffer(k);
        }
        stream->setSharedBlock(shared.block());
    }

    void TearDown() override
    {
        stream.reset();
        device.reset();
        DriverFixture::TearDown();
    }

    FakeSharedBlock shared{64, 4};
    std::unique_ptr<vhw> device;
    std::unique_ptr<DeviceStream> stream;
    int32_t* outputs[4] = {};
    int32_t* inputs[4] = {};
};

} // namespace

TEST_F(Stream, AnOutputSampleReachesItsSlotAsItsUpperThreeBytesBigEndian)
{
    outputs[2][0] = 0x12345678;
    shared.setPlayback(0, kBufferSize);
    stream->writeOutputs(0);
    EXPECT_EQ(slotBytes(shared.playbackFrame(0)[2]), (std::vector<uint8_t>{0x00, 0x12, 0x34, 0x56}));
}

TEST_F(Stream, ACapturedSlotBecomesAHostSampleWithItsLowByteClear)
{
    shared.captureFrame(0)[1] = slotFromBytes(0x7F, 0xAB, 0xCD, 0xEF);
    shared.setCapture(0, kBufferSize);
    stream->readInputs(0);
    EXPECT_EQ(static_cast<uint32_t>(inputs[1][0]), 0xABCDEF00u);
}

TEST_F(Stream, BothCopiesAreExactForEveryChannelFrameAndHalf)
{
    std::mt19937 random(1234);
    std::vector<int32_t> before(2 * kBufferSize);
    for (uint32_t half = 0; half < 2; ++half)
    {
        const uint32_t offset = half * kBufferSize;
        const int32_t index = 5 + static_cast<int32_t>(half) * 20; // the period's first table entry
        for (int k = 0; k < 4; ++k)
            for (uint32_t j = 0; j < 2 * kBufferSize; ++j)
                outputs[k][j] = static_cast<int32_t>(random());
        for (uint32_t e = 0; e < 64; ++e)
            for (int k = 0; k < 4; ++k)
                shared.captureFrame(e)[k] = random();
        shared.setPlayback(index, kBufferSize);
        shared.setCapture(index, kBufferSize);
        before.assign(inputs[3], inputs[3] + 2 * kBufferSize);
        stream->writeOutputs(offset);
        stream->readInputs(offset);
        for (int k = 0; k < 4; ++k)
        {
            for (uint32_t j = 0; j < kBufferSize; ++j)
            {
                ASSERT_EQ(shared.playbackFrame(index + j)[k], expectedSlot(outputs[k][offset + j]))
                    << "output " << k << " frame " << j << " half " << half;
                ASSERT_EQ(inputs[k][offset + j], expectedSample(shared.captureFrame(index + j)[k]))
                    << "input " << k << " frame " << j << " half " << half;
            }
        }
        // The other half of the host buffer is left alone.
        const uint32_t other = kBufferSize - offset;
        for (uint32_t j = 0; j < kBufferSize; ++j)
            ASSERT_EQ(inputs[3][other + j], before[other + j]);
    }
}

TEST_F(DriverFixture, CopiesAreExactWhereverTheFramesLieAndWhicheverOutputsAreRegistered)
{
    // 19 channels each way, a period of 37 frames; outputs 3 and 11 were refused.
    constexpr int kChannels = 19;
    constexpr uint32_t kFrames = 37;
    plug("u1", typicalCaps()
                   .channels(kChannels, kChannels)
                   .outputGroups({{0, kChannels}})
                   .inputGroups({{0, kChannels}}));
    vhw device(interfacePath(0));
    DeviceStream stream(&device);
    stream.setBufferSize(kFrames);
    ASSERT_TRUE(stream.allocateBuffers());
    int32_t* outputs[kChannels];
    int32_t* inputs[kChannels];
    for (int k = 0; k < kChannels; ++k)
    {
        outputs[k] = stream.outputBuffer(k, k != 3 && k != 11);
        inputs[k] = stream.inputBuffer(k);
    }
    // The period's frames: 16 in a row, 5 elsewhere in a row, then 16 going backwards.
    FakeSharedBlock shared{128, 24};
    auto frameOf = [](uint32_t j) { return j < 16 ? 40 + j : j < 21 ? 100 + (j - 16) : 127 - (j - 21); };
    for (uint32_t j = 0; j < kFrames; ++j)
        shared.pointEntry(40 + j, frameOf(j));
    std::mt19937 random(99);
    for (int k = 0; k < kChannels; ++k)
        for (uint32_t j = 0; j < 2 * kFrames; ++j)
            outputs[k][j] = static_cast<int32_t>(random());
    for (uint32_t f = 0; f < 128; ++f)
        for (uint32_t k = 0; k < 24; ++k)
        {
            shared.captureFrame(f)[k] = random();
            shared.playbackFrame(f)[k] = 0xDEADBEEF;
        }
    stream.setSharedBlock(shared.block());
    shared.setPlayback(40, kFrames);
    shared.setCapture(40, kFrames);
    stream.writeOutputs(kFrames);
    stream.readInputs(kFrames);
    for (uint32_t j = 0; j < kFrames; ++j)
    {
        const uint32_t f = frameOf(j);
        for (int k = 0; k < 24; ++k)
        {
            const bool copied = k < kChannels && k != 3 && k != 11;
            ASSERT_EQ(shared.playbackFrame(f)[k], copied ? expectedSlot(outputs[k][kFrames + j]) : 0xDEADBEEF)
                << "output " << k << " frame " << j;
        }
        for (int k = 0; k < kChannels; ++k)
            ASSERT_EQ(inputs[k][kFrames + j], expectedSample(shared.captureFrame(f)[k]))
                << "input " << k << " frame " << j;
    }
}

TEST_F(Stream, WhileTheFrameIndexIsStillMinusOneNothingIsCopiedButTheInputStampIsTaken)
{
    shared.put<int32_t>(80, 7);
    shared.put<int32_t>(368, 7);
    stream->start(); // marks both indexes as not running, whatever the kernel driver answers
    EXPECT_EQ(shared.get<int32_t>(80), -1);
    EXPECT_EQ(shared.get<int32_t>(368), -1);

    shared.put<uint32_t>(76, kBufferSize);
    shared.put<uint32_t>(364, kBufferSize);
    outputs[0][0] = 0x7FFFFFFF;
    shared.captureFrame(0)[0] = 0x00FFFFFF;
    shared.captureFrame(7)[0] = 0x00FFFFFF;
    stream->writeOutputs(0);
    stream->readInputs(0);
    EXPECT_EQ(shared.playbackFrame(0)[0], 0u);
    EXPECT_EQ(inputs[0][0], 0);
    EXPECT_NE(shared.get<int64_t>(8), 0) << "the stamp before the input copy is written";
    EXPECT_EQ(shared.get<int64_t>(40), 0) << "no output copy, no stamp after it";
}

TEST_F(Stream, AnOutputWhoseClaimWasRefusedNeverReachesTheDevice)
{
    stream->freeBuffers();
    ASSERT_TRUE(stream->allocateBuffers());
    int32_t* refused = stream->outputBuffer(1, false);
    int32_t* claimed = stream->outputBuffer(2, true);
    ASSERT_NE(refused, nullptr);
    refused[0] = 0x11111100;
    claimed[0] = 0x22222200;
    shared.playbackFrame(0)[1] = 0xDEADBEEF;
    shared.setPlayback(0, kBufferSize);
    stream->writeOutputs(0);
    EXPECT_EQ(shared.playbackFrame(0)[1], 0xDEADBEEFu);
    EXPECT_EQ(shared.playbackFrame(0)[2], expectedSlot(0x22222200));
}

TEST_F(Stream, APeriodLongerThanTheBufferIsCopiedOnlyUpToTheBuffersEnd)
{
    for (uint32_t e = 0; e < 64; ++e)
        shared.playbackFrame(e)[0] = 0xA5A5A5A5;
    for (uint32_t j = 0; j < 2 * kBufferSize; ++j)
        outputs[0][j] = 0x01020300;
    shared.setPlayback(0, 3 * kBufferSize);
    shared.setCapture(0, 3 * kBufferSize);
    stream->writeOutputs(kBufferSize);
    stream->readInputs(kBufferSize);
    for (uint32_t e = 0; e < 3 * kBufferSize; ++e)
        EXPECT_EQ(shared.playbackFrame(e)[0], e < kBufferSize ? expectedSlot(0x01020300) : 0xA5A5A5A5u) << e;
}

TEST_F(Stream, BufferBlocksOfNoOrAbsurdSizeAreRefused)
{
    stream->setBufferSize(0);
    EXPECT_FALSE(stream->allocateBuffers());
    stream->setBufferSize(DeviceStream::kMaxBufferSize + 1);
    EXPECT_FALSE(stream->allocateBuffers());
    EXPECT_EQ(stream->outputBuffer(0, true), nullptr);
    stream->setBufferSize(DeviceStream::kMaxBufferSize);
    EXPECT_TRUE(stream->allocateBuffers());
    EXPECT_EQ(stream->outputBuffer(4, true), nullptr) << "channel numbers end at the device's count";
    EXPECT_EQ(stream->inputBuffer(-1), nullptr);
}

TEST_F(Stream, WithOneOwnUnitNamesCarryNoUniqueName)
{
    char name[32];
    stream->channelName(1, name, sizeof name, true, 0);
    EXPECT_STREQ(name, "Analog in 1");
    stream->channelName(2, name, sizeof name, false, 3);
    EXPECT_STREQ(name, "Doranth Analog out 4") << "no unique name was given";
    stream->channelName(2, name, 16, false, 3);
    EXPECT_STREQ(name, "Do Analog out 4");
    stream->channelName(2, name, 10, false, 3);
    EXPECT_STREQ(name, "Analog ou") << "no room for the unit's name";
}

TEST(ChannelMaps, GroupsBeyondSixtyFourChannelsAndBeyondEightGroupsAreDropped)
{
    HwInfoCaps caps{};
    CapsBytes record = typicalCaps().inputGroups({{0, 24}, {2, 24}, {2, 24}, {1, 24}});
    std::memcpy(&caps, record.bytes.data(), HwInfoCaps::kRegistryBytes);
    caps.buildChannelMaps();
    ChannelMaps maps;
    maps.build(caps);
    EXPECT_EQ(maps.inputMapGroup(47), 1);
    EXPECT_EQ(maps.inputMapGroup(63), 2);
    EXPECT_EQ(maps.inputMapIndex(63), 15);
    EXPECT_EQ(maps.inputMapGroup(64), -1);
    char name[32];
    maps.inputGroupName(2, name, sizeof name);
    EXPECT_STREQ(name, "ADAT B");

    // A count of 20 output groups reads only the eight the table holds (the next bytes are the input count).
    record.word(104, 20);
    for (int g = 0; g < 8; ++g)
    {
        record.bytes[108 + 2 * g] = 0;
        record.bytes[109 + 2 * g] = 1;
    }
    std::memcpy(&caps, record.bytes.data(), HwInfoCaps::kRegistryBytes);
    caps.buildChannelMaps();
    maps.build(caps);
    EXPECT_EQ(maps.outputMapGroup(7), 7);
    EXPECT_EQ(maps.outputMapGroup(8), -1);
}

TEST(ChannelMaps, GroupTypesGiveTheirNamesInEachDirection)
{
    HwInfoCaps caps{};
    const CapsBytes record = typicalCaps()
                                 .outputGroups({{0, 1}, {1, 1}, {5, 1}, {6, 1}, {9, 1}})
                                 .inputGroups({{0, 1}, {1, 1}, {5, 1}, {6, 1}, {9, 1}});
    std::memcpy(&caps, record.bytes.data(), HwInfoCaps::kRegistryBytes);
    caps.buildChannelMaps();
    ChannelMaps maps;
    maps.build(caps);
    const char* outputs[] = {"Analog", "S/PDIF", "Headphones", "I2S", "Output"};
    const char* inputs[] = {"Analog", "S/PDIF", "Input", "I2S", "Input"};
    char name[32];
    for (int g = 0; g < 5; ++g)
    {
        maps.outputGroupName(g, name, sizeof name);
        EXPECT_STREQ(name, outputs[g]);
        maps.inputGroupName(g, name, sizeof name);
        EXPECT_STREQ(name, inputs[g]);
    }
}

namespace
{

class Device : public DriverFixture
{
};

} // namespace

TEST_F(Device, AMissingOrEmptyUniqueNameIsDoranthAndAGivenOneIsKeptUpToFiftyOneCharacters)
{
    plug("u1", typicalCaps());
    plug("u2", typicalCaps(), std::string(51, 'x'));
    plug("u3", typicalCaps(), std::string(52, 'y'));
    ASSERT_TRUE(typicalCaps().writeTo(bus.dir + "/u4.caps"));
    devsim("plug u4 --caps " + bus.dir + "/u4.caps --empty-unique-name");
    EXPECT_STREQ(vhw(interfacePath(0)).uniqueName(), "Doranth");
    EXPECT_EQ(std::string(vhw(interfacePath(1)).uniqueName()), std::string(51, 'x'));
    EXPECT_STREQ(vhw(interfacePath(2)).uniqueName(), "Doranth") << "longer than the buffer";
    EXPECT_STREQ(vhw(interfacePath(3)).uniqueName(), "Doranth") << "empty";
}

TEST_F(Device, ARecordWithTooManyMetersCannotMakeThePolledReplyOverrunItsBlock)
{
    plug("u1", typicalCaps().word(96, 1000).word(100, 0xFFFFFFF0));
    vhw device(interfacePath(0));
    EXPECT_EQ(device.polledSize(), vhw::kPolledBlockSize);
    ASSERT_TRUE(device.open());
    EXPECT_NE(device.readPolled(), nullptr);
    device.close();
}

TEST_F(Device, DriverInformationIsReadWhileATransactionHoldsTheDevice)
{
    plug("u1", typicalCaps());
    vhw device(interfacePath(0));
    ASSERT_TRUE(device.open());
    // The transaction waits in the kernel driver, with the device mutex held, until the hold is cleared.
    devsim("fault u1 vdc:3/0 hold");
    std::thread transaction([&] { EXPECT_TRUE(device.setClock(-1, 48000)); });
    const bool held =
        testsupport::waitUntil([&] { return bus.dumped("u1", "fault") == "vdc:3/0 hold holding 1"; });
    // A read that waited for the device mutex would wait for the hold, which only ends after it.
    bool returned = false;
    bool read = false;
    if (held)
    {
        auto reading = std::async(std::launch::async, [&] { return device.readDriverInfo(); });
        returned =
            reading.wait_for(std::chrono::milliseconds(testsupport::kHangMs)) == std::future_status::ready;
        devsim("fault u1 clear");
        read = reading.get();
    }
    devsim("fault u1 clear");
    transaction.join();
    ASSERT_TRUE(held);
    EXPECT_TRUE(returned) << "GetDriverInfo waits for the device mutex";
    EXPECT_TRUE(read);
    device.close();
}

TEST_F(Device, WithoutStreamingSupportOpeningStreamingFailsAndLeavesNoEvent)
{
    plug("u1", typicalCaps());
    vhw device(interfacePath(0));
    ASSERT_TRUE(device.open());
    devsim("fault u1 dc:1 status:1 1");
    EXPECT_EQ(device.openStreaming(), nullptr);
    EXPECT_EQ(device.streamingEvent(), nullptr);
    device.close();
}
