#include "PtyFixture.h"

using CloseWhileBusyTest = PortTest;

TEST_F(CloseWhileBusyTest, CloseWakesAReadOrAStalledWriteInProgress)
{
    std::uint8_t buf[256];
    const Bytes big(65536, 0xA5);
    std::uint32_t n = 0;
    for (bool reading : {true, false})
    {
        ASSERT_TRUE(OpenWithDefaults(60000, 60000));
        Call call(
            [&] {
                return reading ? port.Read(buf, sizeof buf, &n) : port.Write(big.data(), 65536, &n);
            });
        ASSERT_TRUE(call.Polling());
        const auto start = Clock::now();
        EXPECT_TRUE(port.Close());
        EXPECT_LT(ElapsedMs(start), 1000);
        EXPECT_EQ(call.Result(), 0);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_TRUE(reading || (n > 0 && n < 65536u)); // a write tells what it wrote
    }
}

TEST_F(CloseWhileBusyTest, ATransferWaitingForTheLockGivesUpWhenThePortCloses)
{
    ASSERT_TRUE(OpenWithDefaults(60000));
    Send({0x42});
    ASSERT_EQ(port.Lock(MAXDWORD), 1);
    std::uint8_t buf[16];
    std::uint32_t n = 0;
    Call read([&] { return port.Read(buf, sizeof buf, &n); });
    ASSERT_TRUE(read.WaitingForLock());
    EXPECT_TRUE(port.Close()); // with the lock held here: must not wait for the reader forever
    EXPECT_EQ(read.Result(), 0);
    EXPECT_EQ(port.Unlock(), 1);
}

TEST_F(CloseWhileBusyTest, ASenderNeverWaitsBehindIdleReads)
{
    ASSERT_TRUE(OpenWithDefaults(50));
    std::atomic<bool> stop{false};
    Call reader(
        [&]
        {
            std::uint8_t buf[256];
            std::uint32_t n = 0;
            for (int i = 0; i < 100 && !stop; ++i) // idle reads, 5 s at most
                port.Read(buf, sizeof buf, &n);
            return 1;
        });
    double worst = 0;
    for (int i = 0; i < 40; ++i)
    {
        std::uint32_t n = 0;
        const auto start = Clock::now();
        EXPECT_TRUE(port.Write("ping", 4, &n));
        worst = std::max(worst, ElapsedMs(start));
        EXPECT_EQ(pty.Read(4), (Bytes{'p', 'i', 'n', 'g'}));
    }
    stop = true;
    EXPECT_EQ(reader.Result(), 1);
    EXPECT_LT(worst, 200) << "a read held the port across its wait";
}

TEST(PortLockTest, BehavesAsAnOwnedRecursiveMutex)
{
    CSerialPort port;
    std::string results; // one digit per call, in call order
    const auto note = [&](int r) { results += std::to_string(r); };
    note(port.Lock(0));
    note(port.Unlock());
    note(port.CreateLock());
    note(port.Lock(MAXDWORD));
    note(port.Lock(0));
    note(Call([&] { return port.Lock(20) * 10 + port.Unlock(); }).Result()); // not the owner
    note(port.Unlock());
    note(port.Unlock());
    note(port.Unlock());
    note(Call(
             [&]
             {
                 const int locked = port.Lock(0);
                 return locked + port.Unlock();
             })
             .Result());
    note(port.DestroyLock());
    note(port.HasLock());
    EXPECT_EQ(results, "00111011021"
                       "0");
}
