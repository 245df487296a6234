// CReceiveLog: the receive log of the terminal window, the hex text of every byte received
// since the window opened or since the last "Clear window", with the lock that orders the
// receive worker's appends against clearing and reading.
//
// Threads: AppendBytes runs on the receive worker (appenders from several threads take turns),
// Clear and the readers on the user-interface thread. Every change happens whole under the
// lock, so a block that arrives during a clear is either wholly before it or wholly after it,
// and a reader under the lock sees whole blocks. The lock is held for memory work only (never
// across a device call or a wait for another thread), and never for long: see Limit.
//
// Limit: the text holds at most GetLimit() characters (2^30 - 1 unless told otherwise). When a
// block would pass it, the oldest byte pairs are discarded first, an eighth of the limit at a
// time so that discards are rare; the newest data always stays. The same happens when memory
// to grow the text cannot be had. DiscardedLocked() counts the characters dropped from the
// front since the last clear, so readers can keep positions. A discard takes effect for readers
// at once, but moving the rest of a large text to the front takes long (about 150 ms at the
// limit), so the appender moves it in slices of kMoveSlice characters outside the lock, which
// it takes only between slices: readers never wait for the move, and a clear waits for one
// slice at most. Until the move is done the text lies in two pieces in the buffer, which
// ReadLocked joins; TextLocked() is the buffer as it lies and is the text itself only while
// MovingLocked() is false.
//
// Memory: about two bytes per received byte. To keep it so, the first log fixes glibc's mmap
// threshold at 128 KiB for the whole process (see the constructor).
#pragma once

#include "text/TextBuffer.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CReceiveLog
{
  public:
    static constexpr int kMoveSlice = 4 << 20; // characters moved at a time by a discard

    explicit CReceiveLog(int limit = CTextBuffer::kDefaultLimit);
    CReceiveLog(const CReceiveLog&) = delete;
    CReceiveLog& operator=(const CReceiveLog&) = delete;

    // Appends the hex text of `count` bytes as one block. Null or empty input does nothing.
    void AppendBytes(const std::uint8_t* bytes, std::uint32_t count);
    // Empties the text and starts a new generation (see ClearsLocked).
    void Clear();

    // Readers take the lock and then use the ...Locked accessors.
    std::mutex& Mutex() const { return m_mutex; }
    int LengthLocked() const { return m_text.GetLength() - m_gap; }
    std::int64_t DiscardedLocked() const { return m_discarded; }
    std::uint64_t ClearsLocked() const { return m_clears; }
    bool MovingLocked() const { return m_gap != 0; }
    const CTextBuffer& TextLocked() const { return m_text; }
    // Hands characters [from, to) of the text (clamped to it) to `piece` (const char*, int), in
    // order, in at most two pieces; nothing is copied on the way.
    template <class Piece> void ReadLocked(int from, int to, Piece piece) const;

    // Convenience readers that take the lock themselves.
    int Length() const;
    std::string Copy(int from, int to) const; // characters [from, to) of the current text

    int GetLimit() const { return m_text.GetLimit(); }

  private:
    void AppendLocked(std::unique_lock<std::mutex>& lock, const char* hex, int length);
    void DiscardLocked(std::unique_lock<std::mutex>& lock, std::int64_t atLeast);

    mutable std::mutex m_mutex;
    CTextBuffer m_text;
    std::int64_t m_discarded = 0;
    std::uint64_t m_clears = 0;
    // While a discard moves the text: characters [0, m_moved) are in place, the rest still lie
    // m_gap characters further on.
    int m_gap = 0;
    int m_moved = 0;

    // Appenders take turns on this lock, held across a whole append, so that one whose discard
    // lets go of m_mutex between slices is never overtaken. Only they use the scratch block.
    std::mutex m_appending;
    // Held while a slice of a discard moves outside m_mutex; taken before m_mutex.
    std::mutex m_moving;
    std::unique_ptr<char[]> m_scratch;
    std::size_t m_scratchSize = 0;
};

template <class Piece> void CReceiveLog::ReadLocked(int from, int to, Piece piece) const
{
    const int length = LengthLocked();
    from = std::clamp(from, 0, length);
    to = std::clamp(to, from, length);
    const char* text = m_text.GetText();
    if (from < m_moved)
    {
        const int end = std::min(to, m_moved);
        piece(text + from, end - from);
        from = end;
    }
    if (from < to)
        piece(text + from + m_gap, to - from);
}
