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

TEST(ReceiveLog, ReadersBetweenTheSlicesOfADiscardSeeTheNewestDataWhole)
{
    // A log large enough that a discard moves the rest in several slices, the lock let go in
    // between; readers on another thread must always see the text as if moved at once.
    const int limit = 2 * CReceiveLog::kMoveSlice;
    CReceiveLog log(limit);
    const Bytes pattern = SeededBytes(65521, 6); // a prime period, so blocks fall all over it
    const std::string hex = HexOf(pattern) + HexOf(pattern);
    const auto expected = [&](std::int64_t at, std::size_t count)
    { return hex.substr(static_cast<std::size_t>(at % (2 * 65521)), count); };
    std::atomic<bool> done{false};
    std::thread appender(
        [&]
        {
            Bytes block(4096);
            for (std::size_t sent = 0; sent < 3 * static_cast<std::size_t>(limit) / 4;
                 sent += block.size())
            {
                for (std::size_t i = 0; i < block.size(); ++i)
                    block[i] = pattern[(sent + i) % pattern.size()];
                log.AppendBytes(block.data(), static_cast<std::uint32_t>(block.size()));
            }
            done = true;
        });
    std::string wrong;
    while (!done && wrong.empty())
    {
        const std::lock_guard lock(log.Mutex());
        const int length = log.LengthLocked();
        const std::int64_t discarded = log.DiscardedLocked();
        for (const int at : {0, length / 2, length - 64})
        {
            std::string text;
            log.ReadLocked(at, at + 64, [&](const char* piece, int n) { text.append(piece, n); });
            if (at >= 0 && text != expected(discarded + at, text.size()))
                wrong = "at " + std::to_string(at) + " of " + std::to_string(length) + ": " + text;
        }
    }
    appender.join();
    EXPECT_EQ(wrong, "");
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
