#include "text/HexCodec.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr char NibbleChar(unsigned n)
{
    return static_cast<char>(n < 10 ? n + 0x30 : n + 0x37);
}

// Both conversions go through tables so the inner loops are one load and one store per
// character; the tables are built from the same rules as HexDigitValue and ByteToHexChars.
struct Tables
{
    char pairs[256][2];
    std::uint8_t digit[256];
};

constexpr Tables MakeTables()
{
    Tables t{};
    for (unsigned b = 0; b < 256; ++b)
    {
        t.pairs[b][0] = NibbleChar(b >> 4);
        t.pairs[b][1] = NibbleChar(b & 0x0F);
        if (b >= 0x30 && b <= 0x39)
            t.digit[b] = static_cast<std::uint8_t>(b - 0x30);
        else if (b >= 0x41 && b <= 0x46)
            t.digit[b] = static_cast<std::uint8_t>(b - 0x37);
        else if (b >= 0x61 && b <= 0x66)
            t.digit[b] = static_cast<std::uint8_t>(b - 0x57);
        else
            t.digit[b] = static_cast<std::uint8_t>(b);
    }
    return t;
}

constexpr Tables kTables = MakeTables();

// 'G', 'f' and '9'
static_assert(kTables.digit[0x47] == 0x47 && kTables.digit[0x66] == 15 && kTables.digit[0x39] == 9);
static_assert(kTables.pairs[0xA5][0] == 'A' && kTables.pairs[0xA5][1] == '5');

// Non-digits keep their full code, so (16 * hi + lo) is taken modulo 256: only the low
// four bits of hi reach the high nibble and the carry out of the byte is dropped.
inline std::uint8_t Combine(unsigned char hi, unsigned char lo)
{
    return static_cast<std::uint8_t>((kTables.digit[hi] << 4) + kTables.digit[lo]);
}

} // namespace

std::uint8_t HexDigitValue(char ch)
{
    return kTables.digit[static_cast<unsigned char>(ch)];
}

std::array<char, 2> ByteToHexChars(std::uint8_t b)
{
    return {kTables.pairs[b][0], kTables.pairs[b][1]};
}

void HexToBytes(const char* text, std::uint32_t length, std::uint8_t* bytes, std::uint32_t* count)
{
    if (text == nullptr || bytes == nullptr)
        return;
    if (count != nullptr)
        *count = 0;

    const auto* in = reinterpret_cast<const unsigned char*>(text);
    const std::uint32_t pairs = length / 2;
    for (std::uint32_t i = 0; i < pairs; ++i)
        bytes[i] = Combine(in[2 * i], in[2 * i + 1]);

    std::uint32_t written = pairs;
    if (length % 2 != 0)
    {
        bytes[pairs] = static_cast<std::uint8_t>(kTables.digit[in[length - 1]] << 4);
        ++written;
    }
    if (written > 0 && count != nullptr)
        *count = written;
}

void BytesToHex(const std::uint8_t* bytes, std::uint32_t count, char* text)
{
    if (bytes == nullptr || text == nullptr || count == 0)
        return;
    for (std::uint32_t i = 0; i < count; ++i)
        std::memcpy(text + 2 * static_cast<std::size_t>(i), kTables.pairs[bytes[i]], 2);
}

std::vector<std::uint8_t> DecodeHexText(const char* text, std::uint32_t length,
                                        const std::atomic<bool>& stop)
{
    constexpr std::uint32_t kSlice = 1 << 20; // characters, even so that no pair is split
    std::vector<std::uint8_t> bytes(length / 2 + 2, 0);
    std::uint32_t count = 0;
    for (std::uint32_t at = 0; at < length; at += kSlice)
    {
        if (stop)
            return {};
        std::uint32_t decoded = 0;
        HexToBytes(text + at, std::min<std::uint32_t>(kSlice, length - at), bytes.data() + at / 2,
                   &decoded);
        count += decoded;
    }
    bytes.resize(count);
    return bytes;
}
