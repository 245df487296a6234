// Random sequences of Assign, Append and DiscardPrefix on a buffer with a small size limit,
// checked after every step against a plain string and the capacity rule.
//
// Input: one byte for the limit (signed, so limits below 0 are tried too), then operations of
// an opcode byte, a length byte and that many bytes of text.
#include "tests/fuzz/FuzzCheck.h"
#include "text/TextBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace
{

std::int64_t PowerOfTwoFor(std::int64_t n)
{
    std::int64_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

struct Model
{
    std::string text;
    std::int64_t capacity = 4;
    std::int64_t limit;

    void Assign(const std::string& s)
    {
        if (static_cast<std::int64_t>(s.size()) > limit)
            return;
        text = s;
        capacity = s.empty() ? 4 : PowerOfTwoFor(static_cast<std::int64_t>(s.size()) + 1);
    }
    void Append(const std::string& s)
    {
        const auto needed = static_cast<std::int64_t>(text.size() + s.size());
        if (s.empty() || needed > limit)
            return;
        if (needed >= capacity)
            capacity = PowerOfTwoFor(needed + 1);
        text += s;
    }
    void Discard(int count)
    {
        if (count > 0)
            text.erase(0, std::min<std::size_t>(static_cast<std::size_t>(count), text.size()));
    }
};

void CheckSame(const CTextBuffer& buffer, const Model& model)
{
    FUZZ_CHECK(buffer.GetLength() == static_cast<int>(model.text.size()));
    FUZZ_CHECK(std::memcmp(buffer.GetText(), model.text.data(), model.text.size()) == 0);
    FUZZ_CHECK(buffer.GetText()[buffer.GetLength()] == '\0');
    FUZZ_CHECK(buffer.GetCapacity() == model.capacity);
    FUZZ_CHECK(buffer.GetLength() < buffer.GetCapacity());
    FUZZ_CHECK(buffer.GetLength() <= buffer.GetLimit());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int limit = static_cast<std::int8_t>(data[0]);
    CTextBuffer buffer(limit);
    Model model{.limit = std::clamp(limit, 0, CTextBuffer::kDefaultLimit)};
    FUZZ_CHECK(buffer.GetLimit() == model.limit);
    CheckSame(buffer, model);

    std::size_t at = 1;
    while (at + 2 <= size)
    {
        const std::uint8_t op = data[at];
        const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        const std::string chunk(reinterpret_cast<const char*>(data + at + 2), length);
        at += 2 + length;
        // The NUL-terminated operations see the chunk up to its first NUL.
        const std::string terminated(chunk.c_str());
        switch (op % 5)
        {
        case 0:
            buffer.Assign(chunk.c_str());
            model.Assign(terminated);
            break;
        case 1:
            buffer.Append(chunk.c_str());
            model.Append(terminated);
            break;
        case 2:
        {
            // Lengths from -16 up, so zero and negative ones are tried.
            const int count = std::min(static_cast<int>(op / 5) - 16, static_cast<int>(length));
            buffer.Append(chunk.data(), count);
            model.Append(count > 0 ? chunk.substr(0, static_cast<std::size_t>(count)) : "");
            break;
        }
        case 3:
        {
            const int count = static_cast<int>(op / 5) - 8 + static_cast<int>(length);
            buffer.DiscardPrefix(count);
            model.Discard(count);
            break;
        }
        default:
            buffer.Assign(nullptr);
            model.Assign("");
            break;
        }
        CheckSame(buffer, model);
    }
    return 0;
}
