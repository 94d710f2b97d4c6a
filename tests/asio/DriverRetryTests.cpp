// The driver's retrying VDC transaction, through the requests a host's calls make.

#include "DriverTestSupport.h"
#include "platform/Time.h"
#include "simos/Clock.h"

using namespace asiodrv;
using asiotest::typicalCaps;

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
    uint32_t pauses;
};

} // namespace

TEST_F(DriverRetries, TheTransactionRetriesBusResetsAndBusyButNothingElse)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    // The loaded driver has a copy of the platform layer of its own: the bus's clock is the one it shares.
    devsim("os clock manual");
    const RetryCase cases[] = {
        {"busreset 3", ASE_OK, 4, 3},
        {"busreset 10", ASE_HWMalfunction, 10, 10},
        {"vdr:12 2", ASE_OK, 3, 2},
        {"vdr:3 1", ASE_HWMalfunction, 1, 0},
        {"timeout 1", ASE_HWMalfunction, 1, 0},
        {"fail 1", ASE_HWMalfunction, 1, 0},
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
        // Every answer that is retried is followed by a 100 ms pause, the last one too; every request
        // takes its time on the manual clock as well.
        EXPECT_EQ(elapsed, 100 * c.pauses + trace(" VDC ").size() * sim::os::kVdcTransactionMs) << c.fault;
        if (c.result != ASE_OK)
            rate = rate == 44100.0 ? 96000.0 : 44100.0; // the rate did not change
    }
}
