#include "text/TextBuffer.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// The text must always be GetLength() characters and a NUL, inside the block.
void ExpectText(const CTextBuffer& buffer, const std::string& text, int capacity)
{
    EXPECT_EQ(std::string(buffer.GetText(), static_cast<std::size_t>(buffer.GetLength())), text);
    EXPECT_EQ(buffer.GetText()[buffer.GetLength()], '\0');
    EXPECT_EQ(buffer.GetCapacity(), capacity);
}

TEST(TextBuffer, NextPowerOfTwo)
{
    const std::pair<std::int64_t, std::int64_t> rows[] = {
        {-5, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {517, 1024}, {(1ll << 31) + 1, 1ll << 32}};
    for (const auto& [n, power] : rows)
        EXPECT_EQ(CTextBuffer::NextPowerOfTwo(n), power) << n;
}

TEST(TextBuffer, AssignSizesAFreshBlockToTheText)
{
    const std::pair<std::size_t, int> rows[] = {{0, 4}, {1, 2}, {2, 4},     {3, 4},
                                                {4, 8}, {7, 8}, {512, 1024}};
    CTextBuffer buffer;
    ExpectText(buffer, "", 4);
    for (const auto& [length, capacity] : rows)
    {
        const std::string text(length, 'A');
        const char* before = buffer.GetText();
        buffer.Assign(text.c_str());
        ExpectText(buffer, text, capacity);
        EXPECT_NE(buffer.GetText(), before);
    }
    buffer.Assign(nullptr);
    ExpectText(buffer, "", 4);
}

TEST(TextBuffer, AppendGrowsOnlyWhenTheTerminatorWouldNotFit)
{
    CTextBuffer buffer;
    buffer.Append("A").Append("BC"); // 3 characters and the NUL fit in 4
    ExpectText(buffer, "ABC", 4);
    CTextBuffer growing;
    growing.Append("AB").Append("CD"); // 4 leave no room for the NUL
    ExpectText(growing, "ABCD", 8);
    growing.Append(std::string(512, 'E').c_str());
    ExpectText(growing, "ABCD" + std::string(512, 'E'), 1024);
    growing.Append("0123456789", 3);
    ExpectText(growing, "ABCD" + std::string(512, 'E') + "012", 1024);
}

TEST(TextBuffer, EmptyAndNullAppendsChangeNothing)
{
    CTextBuffer buffer;
    buffer.Assign("ABC");
    const char* block = buffer.GetText();
    buffer.Append("").Append(nullptr).Append("XY", 0).Append("XY", -3).Append(nullptr, 3);
    ExpectText(buffer, "ABC", 4);
    EXPECT_EQ(buffer.GetText(), block);
}

TEST(TextBuffer, AppendOrAssignPastTheLimitIsRefusedWhole)
{
    CTextBuffer buffer(10);
    buffer.Assign("0123456").Append("7890").Assign("ABCDEFGHIJK");
    ExpectText(buffer, "0123456", 8);
    buffer.Append("789").Append("X"); // up to the limit exactly, then nothing more
    ExpectText(buffer, "0123456789", 16);
    buffer.DiscardPrefix(4); // room made the way the window does it, in the same block
    ExpectText(buffer, "456789", 16);
    buffer.Append("ABCD");
    ExpectText(buffer, "456789ABCD", 16);
    buffer.DiscardPrefix(0);
    buffer.DiscardPrefix(-1);
    ExpectText(buffer, "456789ABCD", 16);
    buffer.DiscardPrefix(11);
    ExpectText(buffer, "", 16);

    EXPECT_EQ(CTextBuffer(-1).GetLimit(), 0);
    EXPECT_EQ(CTextBuffer(0x7FFFFFFF).GetLimit(), CTextBuffer::kDefaultLimit);
}

TEST(TextBuffer, GrowthKeepsTheBlockUnderTwiceTheNeed)
{
    CTextBuffer buffer;
    const std::string block(512, '7');
    for (int i = 0; i < 2048; ++i)
    {
        buffer.Append(block.c_str());
        ASSERT_LT(buffer.GetCapacity(), 2 * (buffer.GetLength() + 1));
    }
    EXPECT_EQ(buffer.GetLength(), 2048 * 512);
}

#if defined(__has_feature) // clang
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VORLANTI_SANITIZED
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(VORLANTI_SANITIZED)
TEST(TextBufferDeathTest, FailedAllocationLeavesTheTextIntactAndUsable)
{
    GTEST_SKIP() << "the sanitizer's allocator reserves address space that the cap would deny";
}
#else
// In a child whose address space is capped just above its use, the growth to 512 MiB fails.
void AppendUnderAddressSpaceCap()
{
    CTextBuffer buffer;
    buffer.Assign(std::string(300, 'A').c_str());
    const int hugeLength = 300 << 20;
    auto* huge = static_cast<char*>(std::calloc(hugeLength, 1));
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (huge == nullptr || statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1)
        std::_Exit(2);
    const rlim_t cap = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (64u << 20);
    const rlimit limit{cap, cap};
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        std::_Exit(2);

    const char* block = buffer.GetText();
    const bool intact = buffer.Append(huge, hugeLength).GetText() == block &&
                        buffer.GetCapacity() == 512 && buffer.GetText() == std::string(300, 'A');
    const bool usable = std::string(buffer.Append("BC").GetText()) == std::string(300, 'A') + "BC";
    std::_Exit(intact && usable ? 0 : 1);
}

TEST(TextBufferDeathTest, FailedAllocationLeavesTheTextIntactAndUsable)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(AppendUnderAddressSpaceCap(), testing::ExitedWithCode(0), "");
}
#endif

} // namespace
