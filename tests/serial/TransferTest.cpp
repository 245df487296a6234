#include "PtyFixture.h"

#include <numeric>

using TransferTest = PortTest;

namespace
{

Bytes ReadFromPort(CSerialPort& port, std::size_t n)
{
    Bytes got;
    const auto deadline = Clock::now() + 5s;
    std::uint8_t buf[256];
    std::uint32_t count = 0;
    while (got.size() < n && Clock::now() < deadline && port.Read(buf, sizeof buf, &count))
        got.insert(got.end(), buf, buf + count);
    return got;
}

} // namespace

TEST_F(TransferTest, EveryByteValuePassesUnchangedBothWays)
{
    // Leave the port as a login shell would: echo, line editing, CR/LF and XON/XOFF handling.
    termios2 cooked = pty.Settings();
    cooked.c_iflag |= ICRNL | IXON | ISTRIP | INPCK | PARMRK;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(::ioctl(pty.Master(), TCSETS2, &cooked), 0);
    ASSERT_TRUE(port.Open(1)); // raw from the open on, before any line settings
    ASSERT_TRUE(port.SetTimeouts(50, 300));

    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    std::uint32_t n = 0;
    ASSERT_TRUE(port.Write(all.data(), 256, &n));
    EXPECT_EQ(n, 256u);
    EXPECT_EQ(pty.Read(256), all);
    Send(all);
    EXPECT_EQ(ReadFromPort(port, 256), all);
    EXPECT_FALSE(pty.Settings().c_lflag & ECHO); // nothing went back to the device
}

TEST_F(TransferTest, ReadsWaitTheConstantForNothingAndReturnQueuedBytesAtOnce)
{
    ASSERT_TRUE(OpenWithDefaults(200));
    std::uint8_t buf[256];
    std::uint32_t n = 77;
    auto start = Clock::now();
    EXPECT_TRUE(port.Read(buf, sizeof buf, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_GE(ElapsedMs(start), 190);
    EXPECT_LT(ElapsedMs(start), 1000);

    ASSERT_TRUE(port.SetTimeouts(20000, 300));
    Bytes sent(300);
    std::iota(sent.begin(), sent.end(), 1);
    Send(sent);
    start = Clock::now();
    ASSERT_TRUE(port.Read(buf, sizeof buf, &n));
    EXPECT_LT(ElapsedMs(start), 5000);
    ASSERT_GT(n, 0u);
    ASSERT_LE(n, 256u);
    Bytes got(buf, buf + n);
    const Bytes rest = ReadFromPort(port, 300 - n);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);
    EXPECT_TRUE(port.Read(buf, 0, &n));
}

TEST_F(TransferTest, AStalledWriteStopsAtTheBoundWithAnHonestCount)
{
    ASSERT_TRUE(OpenWithDefaults(50, 100));
    DCB dcb;
    ASSERT_TRUE(port.GetState(&dcb));
    dcb.BaudRate = 921600;
    ASSERT_TRUE(port.SetState(dcb));
    // 100 ms + 64 KiB at 921600 baud (711 ms) + the margin; the device reads nothing meanwhile.
    const Bytes big(65536, 0x5A);
    std::uint32_t n = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(port.Write(big.data(), 65536, &n));
    EXPECT_GE(ElapsedMs(start), 400);
    EXPECT_LT(ElapsedMs(start), 5000);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, 65536u);
    EXPECT_EQ(pty.Read(n).size(), n);
    EXPECT_TRUE(pty.Read(1, 100ms).empty());
}

TEST(ClosedPortTest, EveryOperationFailsWithoutTouchingItsArguments)
{
    CSerialPort port(TempTree().Roots());
    std::uint8_t buf[4];
    std::uint32_t n = 1234;
    DCB dcb;
    dcb.DCBlength = 5;
    EXPECT_FALSE(port.Read(buf, 4, &n) || port.Write(buf, 4, &n) || port.GetState(&dcb) ||
                 port.SetState(dcb) || port.SetTimeouts(50, 300) || port.IsOpen());
    EXPECT_EQ(n, 1234u);
    EXPECT_EQ(dcb.DCBlength, 5u);
    EXPECT_TRUE(port.Close());
}
