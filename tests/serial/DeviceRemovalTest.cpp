#include "PtyFixture.h"
#include "serial/LineSettings.h"

#include <ctime>
#include <filesystem>
#include <mutex>

using DeviceRemovalTest = PortTest;

namespace
{

double ThreadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Polls a condition with short waits until it holds or 5 s are up.
template <typename F> bool WaitFor(F done)
{
    const auto deadline = Clock::now() + 5s;
    while (!done() && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return done();
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
    tree.Link("COM1", tree.dir + "/unplugged"); // the freed pts number is anybody's next
    pty.CloseMaster();
    EXPECT_EQ(read.Result(), 0);
    EXPECT_LT(ElapsedMs(start), 1000);
    // The master is gone and the dead port descriptor was let go at once; the port's wake-up
    // descriptor stays until Close.
    EXPECT_EQ(OpenDescriptorCount(), withPort - 2);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetLinkState(), LinkState::DeviceGone);

    ASSERT_TRUE(port.SetTimeouts(50, 300));
    const double cpu = ThreadCpuMs();
    const auto loop = Clock::now();
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(port.Read(buf, sizeof buf, &n));
    EXPECT_LT(ThreadCpuMs() - cpu, ElapsedMs(loop) / 4) << "reads of a dead port spin";
    EXPECT_FALSE(port.Write("x", 1, &n));
    // The settings stay the port's: reported as they will come back, and a change is not
    // applied now but kept for the device's return.
    DCB dcb;
    EXPECT_TRUE(port.GetState(&dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_FALSE(port.SetState(dcb));
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(OpenDescriptorCount(), withPort - 3);
}

TEST_F(DeviceRemovalTest, ReadingResumesWithTheSameSettingsWhenTheDeviceIsBack)
{
    // COM1 -> current -> pty: retargeting "current" leads the same COM1 link to another pty,
    // as when a freed pts number is taken by some other program.
    tree.Link("COM1", tree.dir + "/current");
    std::filesystem::create_symlink(pty.SlavePath(), tree.dir + "/current");
    ASSERT_TRUE(OpenWithDefaults(50));
    ASSERT_TRUE(Apply(1, 3, 2, 0, kFlowSoftware)); // 9600, 2 stop bits, XON/XOFF
    EXPECT_EQ(port.GetDevicePath(), tree.Roots().dev + "/COM1");
    std::mutex mx;
    Bytes received;
    std::atomic<bool> stop{false};
    Call worker(
        [&]
        {
            std::uint8_t buf[256];
            std::uint32_t n = 0;
            const auto deadline = Clock::now() + 20s; // ends even after a failed assertion
            while (!stop && Clock::now() < deadline)
                if (port.Read(buf, sizeof buf, &n))
                {
                    std::lock_guard lock(mx);
                    received.insert(received.end(), buf, buf + n);
                }
            return 1;
        });
    pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return port.GetLinkState() == LinkState::DeviceGone; }));

    Pty other;
    std::filesystem::remove(tree.dir + "/current");
    std::filesystem::create_symlink(other.SlavePath(), tree.dir + "/current");
    std::uint32_t n = 0;
    for (int i = 0; i < 5; ++i) // five looks at least, none of them taking the stranger's pty
        EXPECT_FALSE(port.Write("x", 1, &n) || port.Read(&n, 1, &n));
    EXPECT_EQ(port.GetLinkState(), LinkState::DeviceGone);

    Pty replug;
    tree.Link("COM1", replug.SlavePath());
    ASSERT_TRUE(WaitFor([&] { return port.GetLinkState() == LinkState::Connected; }));
    const termios2 t = replug.Settings();
    EXPECT_EQ(BaudRateOf(t), 9600u);
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t{CSTOPB});
    EXPECT_EQ(t.c_iflag, tcflag_t{IXON | IXOFF});
    EXPECT_EQ(t.c_lflag, 0u);
    ASSERT_EQ(::write(replug.Master(), "\x10\x20", 2), 2);
    EXPECT_TRUE(WaitFor(
        [&]
        {
            std::lock_guard lock(mx);
            return received == Bytes{0x10, 0x20};
        }));
    EXPECT_TRUE(port.Write("ok", 2, &n));
    EXPECT_EQ(replug.Read(2), (Bytes{'o', 'k'}));
    stop = true;
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(worker.Result(), 1);
    EXPECT_EQ(port.GetLinkState(), LinkState::Closed);
}
