#include "PtyFixture.h"

#include <ctime>

using DeviceRemovalTest = PortTest;

namespace
{

double ThreadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

} // namespace

TEST_F(DeviceRemovalTest, AReadFailsWhenTheDeviceGoesAwayAndLaterCallsFailWithoutSpinning)
{
    ASSERT_TRUE(OpenWithDefaults(60000));
    const int withPort = OpenDescriptorCount();
    std::uint8_t buf[256];
    std::uint32_t n = 0;
    Call read([&] { return port.Read(buf, sizeof buf, &n); });
    ASSERT_TRUE(read.Polling());
    const auto start = Clock::now();
    pty.CloseMaster();
    EXPECT_EQ(read.Result(), 0);
    EXPECT_LT(ElapsedMs(start), 1000);
    // The master is gone and the dead port descriptor was let go at once; the port's wake-up
    // descriptor stays until Close.
    EXPECT_EQ(OpenDescriptorCount(), withPort - 2);
    EXPECT_TRUE(port.IsOpen());

    ASSERT_TRUE(port.SetTimeouts(50, 300));
    const double cpu = ThreadCpuMs();
    const auto loop = Clock::now();
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(port.Read(buf, sizeof buf, &n));
    EXPECT_LT(ThreadCpuMs() - cpu, ElapsedMs(loop) / 4) << "reads of a dead port spin";
    DCB dcb;
    EXPECT_FALSE(port.Write("x", 1, &n) || port.GetState(&dcb) || port.SetState(dcb));
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(OpenDescriptorCount(), withPort - 3);
}
