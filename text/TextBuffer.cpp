#include "text/TextBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace
{

constexpr int kEmptyCapacity = 4;

int ClampLimit(int limit)
{
    return std::clamp(limit, 0, CTextBuffer::kDefaultLimit);
}

} // namespace

CTextBuffer::CTextBuffer(int limit) : m_nLimit(ClampLimit(limit))
{
    m_pData = static_cast<char*>(std::malloc(kEmptyCapacity));
    if (m_pData == nullptr)
        throw std::bad_alloc();
    m_nCapacity = kEmptyCapacity;
    m_pData[0] = '\0';
}

CTextBuffer::~CTextBuffer()
{
    std::free(m_pData);
}

std::int64_t CTextBuffer::NextPowerOfTwo(std::int64_t n)
{
    std::int64_t value = 1;
    while (value < n)
        value *= 2;
    return value;
}

CTextBuffer& CTextBuffer::Assign(const char* text)
{
    const std::size_t n = text != nullptr ? std::strlen(text) : 0;
    if (n > static_cast<std::size_t>(m_nLimit))
        return *this;

    const auto capacity = n == 0
                              ? kEmptyCapacity
                              : static_cast<int>(NextPowerOfTwo(static_cast<std::int64_t>(n) + 1));
    // The new block is taken before the old one is released, so a failed allocation keeps
    // the old text.
    auto* block = static_cast<char*>(std::malloc(static_cast<std::size_t>(capacity)));
    if (block == nullptr)
    {
        // Emptying must work even when memory is short: "Clear window" relies on it. The
        // old block is kept for the empty text.
        if (n == 0)
        {
            m_nLength = 0;
            m_pData[0] = '\0';
        }
        return *this;
    }
    std::memcpy(block, text != nullptr ? text : "", n + 1);
    std::free(m_pData);
    m_pData = block;
    m_nCapacity = capacity;
    m_nLength = static_cast<int>(n);
    return *this;
}

CTextBuffer& CTextBuffer::Append(const char* text)
{
    if (text == nullptr)
        return *this;
    const std::size_t n = std::strlen(text);
    if (n > static_cast<std::size_t>(m_nLimit))
        return *this;
    return Append(text, static_cast<int>(n));
}

CTextBuffer& CTextBuffer::Append(const char* text, int length)
{
    if (text == nullptr || length <= 0 || !Grow(length))
        return *this;
    std::memcpy(m_pData + m_nLength, text, static_cast<std::size_t>(length));
    m_nLength += length;
    m_pData[m_nLength] = '\0';
    return *this;
}

void CTextBuffer::DiscardPrefix(int count)
{
    if (count <= 0)
        return;
    if (count >= m_nLength)
    {
        m_nLength = 0;
    }
    else
    {
        m_nLength -= count;
        std::memmove(m_pData, m_pData + count, static_cast<std::size_t>(m_nLength));
    }
    m_pData[m_nLength] = '\0';
}

void CTextBuffer::MoveWithin(int to, int from, int count)
{
    if (to < 0 || from < 0 || to >= m_nLength || from >= m_nLength)
        return;
    count = std::min({count, m_nLength - to, m_nLength - from});
    if (count > 0)
        std::memmove(m_pData + to, m_pData + from, static_cast<std::size_t>(count));
}

void CTextBuffer::Truncate(int length)
{
    if (length < 0 || length >= m_nLength)
        return;
    m_nLength = length;
    m_pData[m_nLength] = '\0';
}

bool CTextBuffer::Grow(int add)
{
    // In 64 bits so that no sum of two ints can overflow.
    const std::int64_t needed = static_cast<std::int64_t>(m_nLength) + add;
    if (needed > m_nLimit)
        return false;
    if (needed < m_nCapacity)
        return true;

    const std::int64_t capacity = NextPowerOfTwo(needed + 1);
    // realloc leaves the old block in place when it fails, so the text survives.
    auto* block = static_cast<char*>(std::realloc(m_pData, static_cast<std::size_t>(capacity)));
    if (block == nullptr)
        return false;
    m_pData = block;
    m_nCapacity = static_cast<int>(capacity);
    return true;
}
