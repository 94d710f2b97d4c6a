// The driver object's buffer size and latencies, and its buffer calls before init.

#include "DriverTestSupport.h"

using namespace asiodrv;
using asiotest::typicalCaps;

namespace
{

class DriverBuffers : public asiotest::DriverTest
{
};

} // namespace

TEST_F(DriverBuffers, DisposingBuffersBeforeInitLeavesTheDriverUninitialised)
{
    IASIO* driver = loadDriver();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->init(nullptr), ASIOFalse) << "no interface: init must still fail";
    int32_t inputs = -1, outputs = -1;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 0);
    EXPECT_EQ(outputs, 0);
    EXPECT_EQ(driver->start(), ASE_NotPresent);
    EXPECT_EQ(driver->stop(), ASE_NotPresent);
    EXPECT_EQ(driver->controlPanel(), ASE_NotPresent);
    EXPECT_EQ(driver->setClockSource(0), ASE_NotPresent);
    EXPECT_EQ(driver->future(1, nullptr), ASE_NotPresent);
}

TEST_F(DriverBuffers, LatenciesAndBufferSizeFollowTheKernelDriversStreamingSize)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    const auto size = static_cast<int32_t>(driverInfoWord(4));
    ASSERT_GT(size, 0);
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = -1;
    ASSERT_EQ(driver->getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minimum, size);
    EXPECT_EQ(maximum, size);
    EXPECT_EQ(preferred, size);
    EXPECT_EQ(granularity, 0);
    int32_t in = 0, out = 0;
    ASSERT_EQ(driver->getLatencies(&in, &out), ASE_OK);
    EXPECT_EQ(in, size + 128);
    EXPECT_EQ(out, size + 128);
}
