// The receive log: hex in arrival order, whole blocks only, and the limit.
#include "terminal/ReceiveLog.h"

#include "PtyDevice.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace
{
using Bytes = std::vector<std::uint8_t>;

std::string Text(const CReceiveLog& log)
{
    return log.Copy(0, log.Length());
}

TEST(ReceiveLog, AppendsTheHexOfEachBlockInOrder)
{
    CReceiveLog log;
    log.AppendBytes(Bytes{0x01, 0xAB}.data(), 2);
    log.AppendBytes(Bytes{0x7F}.data(), 1);
    log.AppendBytes(nullptr, 5);
    log.AppendBytes(Bytes{0x00}.data(), 0);
    EXPECT_EQ(Text(log), "01AB7F");

    const Bytes block = SeededBytes(256, 1);
    log.AppendBytes(block.data(), 256);
    EXPECT_EQ(log.Length(), 6 + 512);
    EXPECT_EQ(log.Copy(6, 6 + 512), HexOf(block));
}

TEST(ReceiveLog, AtTheLimitDropsTheOldestWholeBytePairsInLargeChunks)
{
    const int limit = 1001; // odd, like the real one
    CReceiveLog log(limit);
    const Bytes stream = SeededBytes(5000, 2);
    const std::string hex = HexOf(stream);
    int discards = 0;
    std::int64_t lastDiscarded = 0;
    for (std::size_t i = 0; i < stream.size(); i += 7)
    {
        const std::size_t n = std::min<std::size_t>(7, stream.size() - i);
        log.AppendBytes(stream.data() + i, static_cast<std::uint32_t>(n));
        const std::lock_guard lock(log.Mutex());
        const std::int64_t discarded = log.DiscardedLocked();
        const int length = log.TextLocked().GetLength();
        ASSERT_LE(length, limit);
        ASSERT_EQ(discarded % 2, 0);
        // The log is always exactly the newest data, starting on a byte.
        ASSERT_EQ(std::string(log.TextLocked().GetText(), length),
                  hex.substr(static_cast<std::size_t>(discarded),
                             2 * (i + n) - static_cast<std::size_t>(discarded)));
        if (discarded != lastDiscarded)
        {
            EXPECT_GE(discarded - lastDiscarded, limit / 8);
            ++discards;
            lastDiscarded = discarded;
        }
    }
    EXPECT_GT(discards, 0);
    EXPECT_LE(discards, 10000 / (limit / 8) + 1);
}

TEST(ReceiveLog, ABlockLargerThanTheLimitKeepsItsNewestBytes)
{
    CReceiveLog log(100);
    const Bytes block = SeededBytes(80, 3);
    log.AppendBytes(block.data(), 80);
    EXPECT_EQ(Text(log), HexOf(Bytes(block.end() - 50, block.end())));
}

TEST(ReceiveLog, ClearEmptiesAndStartsAGeneration)
{
    CReceiveLog log(64);
    const Bytes block = SeededBytes(40, 4);
    log.AppendBytes(block.data(), 40);
    log.Clear();
    log.Clear();
    const std::lock_guard lock(log.Mutex());
    EXPECT_EQ(log.TextLocked().GetLength(), 0);
    EXPECT_EQ(log.DiscardedLocked(), 0);
    EXPECT_EQ(log.ClearsLocked(), 2u);
}

TEST(ReceiveLog, ClearsAndAppendsFromTwoThreadsNeverSplitABlock)
{
    CReceiveLog log;
    const Bytes block = SeededBytes(256, 5);
    const std::string blockHex = HexOf(block);
    std::atomic<bool> stop{false};
    std::thread worker(
        [&]
        {
            while (!stop)
                log.AppendBytes(block.data(), 256);
        });
    for (int i = 0; i < 2000; ++i)
    {
        if (i % 3 == 0)
            log.Clear();
        const std::lock_guard lock(log.Mutex());
        const CTextBuffer& text = log.TextLocked();
        ASSERT_EQ(text.GetLength() % 512, 0);
        for (int at = 0; at < text.GetLength(); at += 512 * 97)
            ASSERT_EQ(std::string(text.GetText() + at, 512), blockHex);
    }
    stop = true;
    worker.join();
}
} // namespace
