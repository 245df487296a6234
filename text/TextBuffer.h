// CTextBuffer: the receive log, a growable 8-bit text that is always NUL-terminated.
//
// Capacity rule: the block is a power of two, 4 when new or after an empty text is assigned,
// and grows to NextPowerOfTwo(length + added + 1) only when the new text and its terminator
// would not fit; it never shrinks except through Assign.
//
// Size limit: the text never holds more than GetLimit() characters (2^30 - 1 unless a smaller
// limit is given; a limit outside 0 to 2^30 - 1 is clamped into it). An Assign or Append that
// would pass the limit, or whose allocation fails, leaves the buffer exactly as it was; the
// caller makes room first with DiscardPrefix. The one exception is Assign of the empty text:
// it always empties the buffer, keeping the old block if a fresh one cannot be had, so that
// clearing works even when memory is short. Only the constructor can fail outright, with
// std::bad_alloc, when not even its first 4 bytes can be allocated.
//
// A null text counts as the empty text.
//
// Not thread-safe: one thread at a time. The terminal window guards its log with a lock.
#pragma once

#include <cstdint>

class CTextBuffer
{
  public:
    static constexpr int kDefaultLimit = (1 << 30) - 1;

    explicit CTextBuffer(int limit = kDefaultLimit);
    virtual ~CTextBuffer();
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    // Replaces the text with a copy of `text` (NUL-terminated). `text` must not point into
    // this buffer.
    CTextBuffer& Assign(const char* text);
    // Adds `text` (NUL-terminated) at the end. `text` must not point into this buffer.
    CTextBuffer& Append(const char* text);
    // Adds `length` characters of `text` at the end; for callers that know the length. A
    // length of 0 or less adds nothing.
    CTextBuffer& Append(const char* text, int length);
    // Removes the first `count` characters (all of them when count >= length), keeping the
    // block; the remaining text moves to the front.
    void DiscardPrefix(int count);
    // For a caller that drops a long prefix in steps, so that readers can get in between:
    // MoveWithin copies `count` characters from `from` to `to` inside the text (the ranges may
    // overlap; both are clamped to the text, whose length stays), and Truncate shortens the
    // text to `length` characters (a longer length changes nothing).
    void MoveWithin(int to, int from, int count);
    void Truncate(int length);

    // Valid until the next Assign, Append or DiscardPrefix.
    const char* GetText() const { return m_pData; }
    int GetLength() const { return m_nLength; }
    int GetCapacity() const { return m_nCapacity; }
    int GetLimit() const { return m_nLimit; }

    // The smallest power of two not below n (1 for n <= 1); n must not exceed 2^62.
    static std::int64_t NextPowerOfTwo(std::int64_t n);

  private:
    // Makes room for `add` more characters and the terminator; false when that would pass
    // the limit or the allocation failed, with nothing changed.
    bool Grow(int add);

    char* m_pData = nullptr;
    int m_nLength = 0;
    int m_nCapacity = 0;
    int m_nLimit;
};
