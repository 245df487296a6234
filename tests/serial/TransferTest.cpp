#include "PtyFixture.h"
#include "serial/LineTime.h"

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

// A pseudo-terminal has no output queue, so the waits a real UART needs are shown here.
TEST(LineTimeTest, WriteAndDrainBoundsFollowTheBytesOnTheLine)
{
    struct Row
    {
        const char* name;
        std::uint64_t bytes;
        std::uint32_t baud;
        unsigned frameBits;
        std::uint32_t constantMs;
        long long writeMs, drainMs;
    };
    const Row rows[] = {
        {"nothing queued", 0, 115200, 10, 300, 350, 0},
        {"one byte at 115200 rounds up to a millisecond", 1, 115200, 10, 300, 351, 51},
        {"a UART's 4 KiB queue at 4800", 4096, 4800, 10, 300, 8884, 8584},
        {"8E2 takes 12 bits a byte", 1u << 20, 4800, 12, 300, 2621790, 2621490},
        {"5N1 takes 7", 4800, 4800, 7, 0, 7050, 7050},
        {"a rate below the slowest counts as the slowest", 10, 0, 10, 0, 2050, 2050},
        {"the largest write does not overflow", 0xFFFFFFFFu, 50, 12, 300, 1030792151150,
         1030792150850},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(WriteBound(row.bytes, row.baud, row.frameBits, row.constantMs).count(),
                  row.writeMs);
        EXPECT_EQ(DrainBound(row.bytes, row.baud, row.frameBits).count(), row.drainMs);
    }
    EXPECT_EQ(SentOf(4096, 0), 4096u);
    EXPECT_EQ(SentOf(4096, 1024), 3072u);
    EXPECT_EQ(SentOf(10, 64), 0u); // the queue also holds bytes of an earlier write
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
