#include "device/Conversions.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace device;

TEST(GainEncoding, KnownLevelsEncodeToTheirDeviceWords)
{
    EXPECT_EQ(dbToGain(0.0f), 0x01000000u);
    EXPECT_EQ(dbToGain(-20.0f), 1677722u);
    EXPECT_EQ(dbToGain(-6.0f), 8408526u);
    EXPECT_EQ(dbToGain(-144.0f), 1u);
}

TEST(GainEncoding, LevelsBeyondTheWordSaturateInsteadOfWrapping)
{
    EXPECT_EQ(dbToGain(-200.0f), 0u);
    EXPECT_EQ(dbToGain(60.0f), 0xFFFFFFFFu);
    EXPECT_EQ(dbToGain(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(dbToGain(-std::numeric_limits<float>::infinity()), 0u);
}

TEST(GainEncoding, ZeroReadsAsSilenceAndUnityAsZeroDb)
{
    EXPECT_EQ(gainToDb(0), -144.0f);
    EXPECT_EQ(gainToDb(0x01000000), 0.0f);
    EXPECT_NEAR(gainToDb(1), -144.49f, 0.01f);
    EXPECT_NEAR(gainToDb(0xFFFFFFFF), 48.16f, 0.01f);
}

TEST(GainEncoding, FaderLevelsSurviveTheRoundTripThroughTheDevice)
{
    for (float db = -80.0f; db <= 12.0f; db += 0.5f) // below, one step is coarser than 0.01 dB
        EXPECT_NEAR(gainToDb(dbToGain(db)), db, 0.01f) << db;
}

TEST(PanEncoding, CentreRoundsHalfToEvenAndTheEndsAreExact)
{
    EXPECT_EQ(panToDevice(0.0f), 0u);
    EXPECT_EQ(panToDevice(0.5f), 128u); // 127.5 goes to the even neighbour
    EXPECT_EQ(panToDevice(1.0f), 255u);
    EXPECT_EQ(panFromDevice(0), 0.0f);
    EXPECT_EQ(panFromDevice(255), 1.0f);
    EXPECT_FLOAT_EQ(panFromDevice(128), 128.0f / 255.0f);
}

TEST(PanEncoding, PansOutsideTheRangeAreHeldToTheEnds)
{
    EXPECT_EQ(panToDevice(-0.25f), 0u);
    EXPECT_EQ(panToDevice(1.5f), 255u);
}

TEST(PanEncoding, EveryDeviceStepSurvivesTheRoundTrip)
{
    for (uint32_t v = 0; v <= 255; ++v)
        EXPECT_EQ(panToDevice(panFromDevice(v)), v);
}
