// The input is taken both as hex text to decode and as bytes to encode. Output buffers are
// allocated at exactly the size the codec may write, so AddressSanitizer reports any byte
// beyond it.
#include "tests/fuzz/FuzzCheck.h"
#include "text/HexCodec.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace
{

// Written independently of the codec's tables.
unsigned ReferenceDigit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c;
}

void CheckDecode(const char* text, std::uint32_t length)
{
    const std::uint32_t expected = length / 2 + length % 2;
    auto bytes = std::make_unique<std::uint8_t[]>(expected);
    std::uint32_t count = 0xFFFFFFFF;
    HexToBytes(text, length, bytes.get(), &count);
    FUZZ_CHECK(count == expected);
    for (std::uint32_t i = 0; i < expected; ++i)
    {
        const unsigned hi = ReferenceDigit(static_cast<unsigned char>(text[2 * i]));
        const unsigned lo =
            2 * i + 1 < length ? ReferenceDigit(static_cast<unsigned char>(text[2 * i + 1])) : 0;
        FUZZ_CHECK(bytes[i] == ((16 * hi + lo) & 0xFF));
    }
}

void CheckEncode(const std::uint8_t* data, std::uint32_t size)
{
    if (size == 0)
        return;
    auto text = std::make_unique<char[]>(2 * static_cast<std::size_t>(size));
    BytesToHex(data, size, text.get());
    for (std::size_t i = 0; i < 2 * static_cast<std::size_t>(size); ++i)
        FUZZ_CHECK((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'A' && text[i] <= 'F'));

    auto back = std::make_unique<std::uint8_t[]>(size);
    std::uint32_t count = 0;
    HexToBytes(text.get(), 2 * size, back.get(), &count);
    FUZZ_CHECK(count == size);
    FUZZ_CHECK(std::memcmp(back.get(), data, size) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly `size` bytes, so that reading one character too many is reported.
    auto text = std::make_unique<char[]>(size);
    if (size > 0)
        std::memcpy(text.get(), data, size);
    CheckDecode(text.get(), static_cast<std::uint32_t>(size));
    CheckEncode(data, static_cast<std::uint32_t>(size));
    return 0;
}
