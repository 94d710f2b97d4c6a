// The driver's retrying VDC transaction, through the requests a host's calls make.

#include "DriverTestSupport.h"
#include "platform/Time.h"

using namespace asiodrv;
using asiotest::CapsRecord;

namespace
{

class DriverRetries : public asiotest::DriverTest
{
};

struct RetryCase
{
    const char* fault;
    ASIOError result;
    size_t attempts;
    uint32_t minMs;
    uint32_t maxMs;
};

} // namespace

TEST_F(DriverRetries, TheTransactionRetriesBusResetsAndBusyButNothingElse)
{
    plug("u1", CapsRecord::typical());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    const RetryCase cases[] = {
        {"busreset 3", ASE_OK, 4, 300, 900},        {"busreset 10", ASE_HWMalfunction, 10, 1000, 1900},
        {"vdr:12 2", ASE_OK, 3, 200, 800},          {"vdr:3 1", ASE_HWMalfunction, 1, 0, 99},
        {"timeout 1", ASE_HWMalfunction, 1, 0, 99}, {"fail 1", ASE_HWMalfunction, 1, 0, 99},
    };
    double rate = 44100.0;
    for (const RetryCase& c : cases)
    {
        devsim("fault u1 clear");
        devsim(std::string("fault u1 vdc:3/0 ") + c.fault);
        clearTrace();
        rate = rate == 44100.0 ? 96000.0 : 44100.0;
        const uint32_t start = platform::getTickCount();
        EXPECT_EQ(driver->setSampleRate(rate), c.result) << c.fault;
        const uint32_t elapsed = platform::getTickCount() - start;
        EXPECT_EQ(setClockRequests(), c.attempts) << c.fault;
        EXPECT_GE(elapsed, c.minMs) << c.fault;
        EXPECT_LE(elapsed, c.maxMs) << c.fault;
        if (c.result != ASE_OK)
            rate = rate == 44100.0 ? 96000.0 : 44100.0; // the rate did not change
    }
}
