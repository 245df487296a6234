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
    EXPECT_EQ(port.Lock(0), 0); // no lock yet
    EXPECT_EQ(port.Unlock(), 0);
    EXPECT_EQ(port.CreateLock(), 1);
    EXPECT_EQ(port.Lock(MAXDWORD), 1);
    EXPECT_EQ(port.Lock(0), 1); // its owner takes it again
    int locked = -1;
    int unlocked = -1;
    Call(
        [&]
        {
            locked = port.Lock(20);
            unlocked = port.Unlock();
            return 0;
        })
        .Result();
    EXPECT_EQ(locked, 0); // another thread waits in vain
    EXPECT_EQ(unlocked, 0);
    EXPECT_EQ(port.Unlock(), 1);
    EXPECT_EQ(port.Unlock(), 1);
    EXPECT_EQ(port.Unlock(), 0); // no longer held
    Call(
        [&]
        {
            locked = port.Lock(0);
            unlocked = port.Unlock();
            return 0;
        })
        .Result();
    EXPECT_EQ(locked, 1); // free now, for another thread too
    EXPECT_EQ(unlocked, 1);
    EXPECT_EQ(port.DestroyLock(), 1);
    EXPECT_EQ(port.HasLock(), 0);
}
