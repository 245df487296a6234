#include "text/HexCodec.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace
{

using namespace std::string_literals;

// Output buffers carry guard bytes, so a write past the end fails even without a sanitizer.
const std::string kGuards(8, '\xCC');

auto* Bytes(std::string& s)
{
    return reinterpret_cast<std::uint8_t*>(s.data());
}

std::pair<std::string, std::uint32_t> Decode(const std::string& text)
{
    const std::size_t size = (text.size() + 1) / 2;
    std::string out = std::string(size, '\0') + kGuards;
    std::uint32_t count = 0xDEAD;
    HexToBytes(text.data(), static_cast<std::uint32_t>(text.size()), Bytes(out), &count);
    EXPECT_EQ(out.substr(size), kGuards) << "wrote past ceil(length / 2)";
    out.resize(size);
    return {out, count};
}

std::string Encode(std::string bytes)
{
    std::string text = std::string(2 * bytes.size(), '\0') + kGuards;
    BytesToHex(Bytes(bytes), static_cast<std::uint32_t>(bytes.size()), text.data());
    EXPECT_EQ(text.substr(2 * bytes.size()), kGuards) << "wrote past 2 * count";
    return text.substr(0, 2 * bytes.size());
}

class HexToBytesRows : public testing::TestWithParam<std::pair<std::string, std::string>>
{
};

TEST_P(HexToBytesRows, TakesEveryCharacterAsADigitWithoutSkippingOrRejecting)
{
    const auto& [text, bytes] = GetParam();
    EXPECT_EQ(Decode(text), std::make_pair(bytes, static_cast<std::uint32_t>(bytes.size())));
    // A send decodes its whole text the same way.
    const std::atomic<bool> never{false};
    const std::vector<std::uint8_t> sent =
        DecodeHexText(text.data(), static_cast<std::uint32_t>(text.size()), never);
    EXPECT_EQ(std::string(sent.begin(), sent.end()), bytes);
}

// Non-digits count at their own code: (16 * hi + lo) mod 256.
INSTANTIATE_TEST_SUITE_P(
    Rows, HexToBytesRows,
    testing::Values(std::pair{"007fA5"s, "\x00\x7F\xA5"s}, std::pair{"ABC"s, "\xAB\xC0"s},
                    std::pair{"A"s, "\xA0"s}, std::pair{"G1"s, "\x71"s}, std::pair{"1G"s, "\x57"s},
                    std::pair{"  "s, "\x20"s}, std::pair{"0x41"s, "\x78\x41"s},
                    std::pair{"01 02"s, "\x01\x00\x20"s}, std::pair{"F\xFF"s, "\xEF"s},
                    std::pair{"\xB0\xB0"s, "\xB0"s}, std::pair{"\xFF"s, "\xF0"s},
                    std::pair{"9aZ"s, "\x9A\xA0"s}));

TEST(DecodeHexText, ASendLongerThanASliceDecodesWholeUnlessStopped)
{
    // An odd length over two slices: pairs never straddle a slice, the last digit is the high
    // nibble of one more byte.
    std::string text;
    std::mt19937 random(7);
    for (int i = 0; i < (2 << 20) + 3; ++i)
        text += "0123456789abcdefG "[random() % 18];
    const auto [expected, count] = Decode(text);
    std::atomic<bool> stop{false};
    const std::vector<std::uint8_t> sent =
        DecodeHexText(text.data(), static_cast<std::uint32_t>(text.size()), stop);
    EXPECT_EQ(sent.size(), count);
    EXPECT_TRUE(std::string(sent.begin(), sent.end()) == expected);
    stop = true;
    EXPECT_TRUE(DecodeHexText(text.data(), static_cast<std::uint32_t>(text.size()), stop).empty());
}

TEST(HexToBytes, EmptyAndNullInputs)
{
    std::string out = "\xCC"s;
    std::uint32_t count = 7;
    HexToBytes("", 0, Bytes(out), &count); // writes nothing, counts 0
    EXPECT_EQ(out, "\xCC"s);
    EXPECT_EQ(count, 0u);
    count = 7;
    HexToBytes(nullptr, 2, Bytes(out), &count); // null in or out: nothing at all
    HexToBytes("AB", 2, nullptr, &count);
    EXPECT_EQ(out, "\xCC"s);
    EXPECT_EQ(count, 7u);
    HexToBytes("AB", 2, Bytes(out), nullptr); // the count is optional
    EXPECT_EQ(out, "\xAB"s);
}

TEST(BytesToHex, UppercasePairsWithLeadingZerosAndNoTerminator)
{
    EXPECT_EQ(Encode("\x00\x7F\xA5"s), "007FA5");
    EXPECT_EQ(Encode("\x0A\xFF"s), "0AFF");
    std::string text = "xx";
    BytesToHex(nullptr, 1, text.data());
    BytesToHex(Bytes(text), 0, text.data());
    BytesToHex(Bytes(text), 1, nullptr);
    EXPECT_EQ(text, "xx");
}

TEST(HexCodec, RoundTripsEveryByteAndUppercasesHexText)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::mt19937 random(2024);
    std::string noise(4097, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    for (const std::string& bytes : {all, noise})
    {
        const std::string text = Encode(bytes);
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(Decode(text).first, bytes);
    }
    EXPECT_EQ(Encode(Decode("0123456789abcdefABCDEF").first), "0123456789ABCDEFABCDEF");
}

} // namespace
