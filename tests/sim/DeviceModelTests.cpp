// The unit's firmware model: NOR flash, the stored session, the mixer loaded from it, every command
// category, the clock, the poll and the firmware held in flash.

#include "SimClient.h"

#include "Models.h"

#include <algorithm>

using namespace simtest;

namespace
{

constexpr uint32_t kUnity = 0x01000000;

// Polls GetStatus until ready; returns the number of busy answers.
int waitReady(intptr_t h)
{
    int busy = 0;
    while (vdc(h, 1, 3, {}, 308, 8, 28).vdr() == 12 && busy < 1000)
        ++busy;
    return busy;
}

VdcReply write(intptr_t h, uint32_t address, std::initializer_list<uint32_t> data)
{
    std::vector<uint32_t> params{address, uint32_t(data.size())};
    params.insert(params.end(), data);
    uint8_t request[308] = {};
    put32(request + 4, 72);
    put32(request + 16, 1);
    put32(request + 20, 2);
    for (size_t i = 0; i < params.size(); ++i)
        put32(request + 28 + 4 * i, params[i]);
    VdcReply r;
    r.callOk = sim::kernel::ioctl(h, kVdcIoctl, request, 292, r.bytes, 308, &r.size);
    return r;
}

} // namespace

TEST(SimFlash, WriteThatNeedsAZeroToOneBitIsRefusedAndChangesNothing)
{
    OneUnit bus;
    ASSERT_EQ(write(bus.handle, 0x1A0000, {0xF0F0F0F0, 0x12345678}).vdr(), 0u);
    EXPECT_EQ(write(bus.handle, 0x1A0000, {0xF0F0F000, 0x02345678}).vdr(), 0u)
        << "clearing more bits is fine";
    EXPECT_EQ(write(bus.handle, 0x1A0000, {0x00000000, 0x12345678}).vdr(), 3u);
    const VdcReply r = vdc(bus.handle, 1, 1, {0x1A0000, 2}, 308);
    EXPECT_EQ(r.p(2), 0xF0F0F000u) << "a refused write leaves even its first quadlet alone";
    EXPECT_EQ(r.p(3), 0x02345678u);
}

TEST(SimFlash, EraseClearsTheWholeBlockThatHoldsTheAddressAndTheFlashIsBusyAfterwards)
{
    OneUnit bus;
    bus.run("set u1 flash.busy 3");
    ASSERT_EQ(write(bus.handle, 0x9FFC, {0}).vdr(), 0u);
    ASSERT_EQ(write(bus.handle, 0xA000, {0}).vdr(), 0u);
    ASSERT_EQ(write(bus.handle, 0xBFFC, {0}).vdr(), 0u);
    ASSERT_EQ(write(bus.handle, 0xC000, {0}).vdr(), 0u);
    ASSERT_EQ(vdc(bus.handle, 1, 0, {0xA123}, 308).vdr(), 0u);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0xA000, 1}, 308).vdr(), 12u) << "no access while busy";
    EXPECT_EQ(write(bus.handle, 0xA000, {0}).vdr(), 12u);
    EXPECT_EQ(vdc(bus.handle, 1, 0, {0x20000}, 308).vdr(), 12u);
    EXPECT_EQ(waitReady(bus.handle), 3);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x9FFC, 1}, 308).p(2), 0u) << "8 KiB blocks below 0x10000";
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0xA000, 1}, 308).p(2), 0xFFFFFFFFu);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0xBFFC, 1}, 308).p(2), 0xFFFFFFFFu);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0xC000, 1}, 308).p(2), 0u);

    ASSERT_EQ(write(bus.handle, 0x11FFFC, {0}).vdr(), 0u);
    ASSERT_EQ(write(bus.handle, 0x12FFFC, {0}).vdr(), 0u);
    ASSERT_EQ(vdc(bus.handle, 1, 0, {0x123456}, 308).vdr(), 0u);
    waitReady(bus.handle);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x11FFFC, 1}, 308).p(2), 0u) << "64 KiB blocks above";
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x12FFFC, 1}, 308).p(2), 0xFFFFFFFFu);
}

TEST(SimFlash, AccessOutsideTheFlashOrBeyondAPacketIsRefused)
{
    OneUnit bus;
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x1FFFFC, 1}, 308).vdr(), 0u);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x1FFFFC, 2}, 308).vdr(), 3u);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x1002, 1}, 308).vdr(), 3u);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x1000, 65}, 308).vdr(), 2u);
    EXPECT_EQ(vdc(bus.handle, 1, 0, {0x200000}, 308).vdr(), 3u);
    EXPECT_EQ(vdc(bus.handle, 1, 2, {0x1000, 3, 0}, 308).vdr(), 4u) << "three quadlets announced, one sent";
}

TEST(SimFlash, ALockIsRecordedAndAnErrorOnAUnitWithoutOne)
{
    OneUnit bus;
    EXPECT_EQ(vdc(bus.handle, 1, 5, {0x101}, 308).vdr(), 0u);
    EXPECT_NE(bus.dumped("u1", "flash").find(" lock 1 "), std::string::npos) << bus.out;
    OneUnit noLock("--model d8"); // a record with the no-flash-lock bit
    EXPECT_EQ(vdc(noLock.handle, 1, 5, {1}, 308).vdr(), 5u);
}

TEST(SimSession, TheStoredSessionIsServedWithItsByteAreaByteReversed)
{
    OneUnit bus;
    const uint32_t base = vdc(bus.handle, 1, 4, {}, 32).p(0);
    EXPECT_EQ(base % 0x10000, 0u) << "the default base lies on a 64 KiB boundary";
    const VdcReply head = vdc(bus.handle, 0, 3, {0, 64}, 292);
    ASSERT_EQ(head.vdr(), 0u);
    EXPECT_EQ(head.p(0), 0u);
    EXPECT_EQ(head.p(1), 64u);
    const VdcReply flash = vdc(bus.handle, 1, 1, {base, 64}, 308);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(head.p(2 + i), flash.p(2 + i)) << "word area as stored, quadlet " << i;
    EXPECT_EQ(head.p(2), 3348u);
    EXPECT_EQ(head.p(4), 512u);

    const VdcReply area = vdc(bus.handle, 0, 3, {1826, 4}, 292);
    const VdcReply raw = vdc(bus.handle, 1, 1, {base + 4 * 1826, 4}, 308);
    EXPECT_EQ(area.p(2), raw.p(2)) << "quadlet 1827 ends before byte 7312";
    EXPECT_EQ(area.p(3), raw.p(3));
    EXPECT_EQ(area.p(4), __builtin_bswap32(raw.p(4)));
    EXPECT_EQ(area.p(5), __builtin_bswap32(raw.p(5)));

    EXPECT_EQ(vdc(bus.handle, 0, 3, {3340, 64}, 292).p(1), 8u) << "the read ends with the session";
    EXPECT_EQ(vdc(bus.handle, 0, 3, {0, 65}, 292).vdr(), 2u);
    EXPECT_EQ(vdc(bus.handle, 0, 3, {3349, 1}, 292).vdr(), 2u);
    bus.run("set u1 session-chunk 20");
    EXPECT_EQ(vdc(bus.handle, 0, 3, {100, 64}, 292).p(1), 20u);
}

TEST(SimSession, TheFactorySessionCarriesItsCrcAndTheMixerStartsFromIt)
{
    OneUnit bus; // st8: Analog 8 + S/PDIF 2 in, Analog 8 + S/PDIF 2 + phones out
    std::vector<uint8_t> image;
    for (uint32_t q = 0; q < 3348; q += 64)
    {
        const VdcReply r = vdc(bus.handle, 0, 3, {q, 64}, 292);
        for (uint32_t k = 0; k < r.p(1); ++k)
        {
            uint32_t v = r.p(2 + int(k));
            if (q + k >= 7312 / 4)
                v = __builtin_bswap32(v);
            for (int b = 0; b < 4; ++b)
                image.push_back(uint8_t(v >> (8 * b)));
        }
    }
    ASSERT_EQ(image.size(), 13392u);
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 8; i < image.size(); ++i)
    {
        crc ^= image[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (0xEDB88320u ^ (crc >> 1)) : (crc >> 1);
    }
    EXPECT_EQ(get32(image.data() + 4), ~crc);
    EXPECT_EQ(image[9872 + 3 * 40 + 2], 0) << "input 3 is heard in the mix of outputs 3-4";
    EXPECT_EQ(image[9872 + 3 * 40 + 4], 1);
    EXPECT_EQ(image[9872 + 8 * 40 + 8], 1) << "S/PDIF inputs are muted everywhere";
    EXPECT_EQ(image[8272 + 3 * 40 + 2], 255);

    EXPECT_EQ(vdc(bus.handle, 8, 3, {3, 2}, 40).p(2), 0u);
    EXPECT_EQ(vdc(bus.handle, 8, 3, {3, 4}, 40).p(2), 1u);
    EXPECT_EQ(vdc(bus.handle, 8, 7, {3, 2}, 40).p(2), 255u);
    EXPECT_EQ(vdc(bus.handle, 8, 1, {3, 2}, 40).p(2), kUnity);
    EXPECT_EQ(vdc(bus.handle, 9, 7, {0, 0}, 308, 76, 308).p(5), 2u) << "routing straight through";
    const VdcReply clock = vdc(bus.handle, 3, 1, {}, 40);
    EXPECT_EQ(clock.p(1), 48000u);
}

TEST(SimSession, TheMixerRestartsFromTheStoredSessionAtEveryPlug)
{
    OneUnit bus;
    ASSERT_EQ(vdc(bus.handle, 4, 0, {0, 1234}, 36).vdr(), 0u);
    bus.run("unplug u1");
    bus.run("plug u1");
    const intptr_t h = sim::kernel::open(pathOf("u1"));
    EXPECT_EQ(vdc(h, 4, 1, {0, 0}, 36).p(1), kUnity) << "an unsaved change is gone after a power cycle";
    sim::kernel::close(h);
}

TEST(SimMixer, EveryCategoryStoresPerChannelAndRefusesChannelsTheUnitLacks)
{
    OneUnit bus; // 10 inputs, 12 outputs, 12 playback channels
    const struct
    {
        uint32_t cat, set, get, channels;
    } values[] = {{4, 0, 1, 12}, {4, 2, 3, 12}, {4, 8, 9, 12}, {5, 8, 9, 10},
                  {6, 0, 1, 12}, {6, 2, 3, 12}, {6, 4, 5, 12}};
    for (const auto& v : values)
    {
        const uint32_t out = v.cat == 4 && v.set == 8 ? 28 : 36;
        EXPECT_EQ(vdc(bus.handle, v.cat, v.set, {v.channels - 1, 0xABC0 + v.set}, out).vdr(), 0u);
        EXPECT_EQ(vdc(bus.handle, v.cat, v.get, {v.channels - 1, 0}, 36).p(1), 0xABC0 + v.set);
        EXPECT_NE(vdc(bus.handle, v.cat, v.get, {v.channels - 2, 0}, 36).p(1), 0xABC0 + v.set)
            << "per channel";
        EXPECT_EQ(vdc(bus.handle, v.cat, v.set, {v.channels, 1}, out).vdr(), 2u) << v.cat << "/" << v.set;
    }
    for (uint32_t q = 0; q < 4; ++q)
    {
        EXPECT_EQ(vdc(bus.handle, 8, 2 * q, {9, 11, 0x700 + q}, 40).vdr(), 0u);
        EXPECT_EQ(vdc(bus.handle, 8, 2 * q + 1, {9, 11, 0}, 40).p(2), 0x700 + q);
        EXPECT_NE(vdc(bus.handle, 8, 2 * q + 1, {9, 10, 0}, 40).p(2), 0x700 + q) << "per input and mix";
    }
    EXPECT_EQ(vdc(bus.handle, 8, 0, {10, 0, 1}, 40).vdr(), 2u);
    EXPECT_EQ(vdc(bus.handle, 8, 0, {0, 12, 1}, 40).vdr(), 2u);
    EXPECT_EQ(vdc(bus.handle, 4, 4, {0, 1}, 36).vdr(), 1u) << "outputs have no solo";
    EXPECT_EQ(vdc(bus.handle, 7, 0, {}, 28).vdr(), 1u);
    EXPECT_EQ(vdc(bus.handle, 4, 0, {0}, 36, 8, 32).vdr(), 4u) << "a set without its value";
}

TEST(SimMixer, ClockFlagsPhantomAndRoutingAreKept)
{
    OneUnit bus("--model st2"); // internal and FireWire clocks, 32 to 96 kHz
    EXPECT_EQ(vdc(bus.handle, 3, 0, {1, 0xFFFFFFFF, 0}, 28).vdr(), 0u);
    EXPECT_EQ(vdc(bus.handle, 3, 0, {0xFFFFFFFF, 96000, 0}, 28).vdr(), 0u);
    VdcReply r = vdc(bus.handle, 3, 1, {}, 40);
    EXPECT_EQ(r.p(0), 1u);
    EXPECT_EQ(r.p(1), 96000u);
    EXPECT_EQ(vdc(bus.handle, 3, 0, {0xFFFFFFFF, 192000, 0}, 28).vdr(), 2u);
    EXPECT_EQ(vdc(bus.handle, 3, 0, {2, 48000, 0}, 28).vdr(), 2u) << "word clock is not selectable";
    EXPECT_EQ(vdc(bus.handle, 3, 1, {}, 40).p(1), 96000u) << "a refused request changes nothing";

    ASSERT_EQ(vdc(bus.handle, 3, 3, {0x104, 0}, 28).vdr(), 0u);
    ASSERT_EQ(vdc(bus.handle, 3, 3, {0x100, 0x4}, 28).vdr(), 0u);
    EXPECT_EQ(vdc(bus.handle, 3, 4, {}, 32).p(0), 0x100u);
    ASSERT_EQ(vdc(bus.handle, 9, 4, {3}, 28).vdr(), 0u);
    EXPECT_EQ(vdc(bus.handle, 9, 5, {}, 32).p(0), 3u);

    std::vector<uint32_t> record(70);
    uint8_t request[308] = {};
    put32(request + 4, 76);
    put32(request + 16, 9);
    put32(request + 20, 6);
    for (uint32_t i = 0; i < 70; ++i)
        put32(request + 28 + 4 * i, 0x1000 * i + 7);
    uint8_t reply[308];
    ASSERT_TRUE(sim::kernel::ioctl(bus.handle, kVdcIoctl, request, 308, reply, 28, nullptr));
    ASSERT_EQ(get32(reply + 24), 0u);
    r = vdc(bus.handle, 9, 7, {0, 0}, 308, 76, 308);
    EXPECT_EQ(r.size, 308u);
    EXPECT_EQ(r.p(69), 0x1000u * 69 + 7);
    EXPECT_EQ(bus.devsim("dump u1"), 0);
    EXPECT_NE(bus.out.find("clock 1 rate 96000 flags 0x00000100 phantom 3"), std::string::npos) << bus.out;
}

TEST(SimPoll, ThePolledBlockCarriesStatusMeterCountAndMeters)
{
    OneUnit bus("--model st4"); // 8 output meters, 6 input meters
    bus.run("set u1 meter.out.7 77");
    bus.run("set u1 meter.in.0 0x7FFFFFFF");
    bus.run("set u1 clocks 0x9");
    bus.run("set u1 midi 0x6");
    bus.run("set u1 counters 3 5 8");
    VdcReply r = vdc(bus.handle, 0, 1, {}, 308, 6, 28);
    ASSERT_EQ(r.vdr(), 0u);
    EXPECT_EQ(r.size, 64u + 4 * 14);
    EXPECT_EQ(r.p(0), 0x609u);
    EXPECT_EQ(r.p(5), 8u);
    EXPECT_EQ(get32(r.bytes + 64 + 4 * 7), 77u);
    EXPECT_EQ(get32(r.bytes + 64 + 4 * 8), 0x7FFFFFFFu);
    r = vdc(bus.handle, 0, 4, {0}, 92, 22, 92);
    EXPECT_EQ(r.size, 92u);
    EXPECT_EQ(r.p(0) * 100 + r.p(1) * 10 + r.p(2), 358u);
    EXPECT_EQ(vdc(bus.handle, 3, 5, {}, 28).vdr(), 0u);
    EXPECT_EQ(bus.dumped("u1", "identify"), "1");
}

TEST(SimPoll, ByDefaultEverySelectableClockIsDetected)
{
    OneUnit bus("--model m1200f");
    EXPECT_EQ(vdc(bus.handle, 0, 1, {}, 464, 6, 28).p(0), 0x3Fu);
}

TEST(SimFirmware, ANewImageInFlashIsTheVersionAfterTheNextPlug)
{
    OneUnit bus("--model st8 --firmware 4.2");
    auto arm = [&] { return bus.dumped("u1", "firmware"); };
    EXPECT_EQ(arm(), "arm 4.2 dsp 4.2 fpga 0.0");
    const sim::FirmwareImage image = sim::makeImage("DoranthARM", 0x04080000, 16);
    const uint32_t address = image.header[1];
    const uint32_t quads = image.header[7];
    for (uint32_t at = address; at < address + 4 * quads; at += 0x10000)
    {
        ASSERT_EQ(vdc(bus.handle, 1, 0, {at}, 308).vdr(), 0u);
        waitReady(bus.handle);
    }
    for (uint32_t i = 0; i < 16; ++i)
        ASSERT_EQ(write(bus.handle, address + 4 * i, {image.data[i]}).vdr(), 0u);
    ASSERT_EQ(write(bus.handle, address + 4 * (quads - 2), {image.header[5], image.header[3]}).vdr(), 0u);
    EXPECT_EQ(arm(), "arm 4.2 dsp 4.2 fpga 0.0") << "the running firmware is the old one";
    bus.run("unplug u1");
    bus.run("plug u1");
    EXPECT_EQ(arm(), "arm 4.8 dsp 4.2 fpga 0.0");
}

TEST(SimFirmware, AUnitWithoutMainDspCodeRunsItsBackupCode)
{
    OneUnit bus("--model st8");
    const uint32_t regionEnd =
        sim::regionFor(sim::ImageRole::Dsp).address + sim::regionFor(sim::ImageRole::Dsp).bytes;
    ASSERT_EQ(vdc(bus.handle, 1, 0, {regionEnd - 4}, 308).vdr(), 0u);
    bus.run("unplug u1");
    bus.run("plug u1");
    EXPECT_EQ(bus.dumped("u1", "firmware"), "arm 4.8 dsp 4.8.14 fpga 0.0");
}
