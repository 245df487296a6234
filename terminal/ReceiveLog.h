// CReceiveLog: the receive log of the terminal window, the hex text of every byte received
// since the window opened or since the last "Clear window", with the lock that orders the
// receive worker's appends against clearing and reading.
//
// Threads: AppendBytes runs on the receive worker, Clear and the readers on the user-interface
// thread. Every change happens whole under the lock, so a block that arrives during a clear is
// either wholly before it or wholly after it, and a reader under the lock sees whole blocks.
// The lock is held for memory work only (never across a device call or a wait for another
// thread), so neither thread ever waits long for the other.
//
// Limit: the text holds at most GetLimit() characters (2^30 - 1 unless told otherwise). When a
// block would pass it, the oldest byte pairs are discarded first, an eighth of the limit at a
// time so that the move behind a discard happens rarely; the newest data always stays. The
// same happens when memory to grow the text cannot be had. DiscardedLocked() counts the
// characters dropped from the front since the last clear, so readers can keep positions.
//
// Memory: about two bytes per received byte. To keep it so, the first log fixes glibc's mmap
// threshold at 128 KiB for the whole process (see the constructor).
#pragma once

#include "text/TextBuffer.h"

#include <cstdint>
#include <mutex>
#include <string>

class CReceiveLog
{
  public:
    explicit CReceiveLog(int limit = CTextBuffer::kDefaultLimit);
    CReceiveLog(const CReceiveLog&) = delete;
    CReceiveLog& operator=(const CReceiveLog&) = delete;

    // Appends the hex text of `count` bytes as one block. Null or empty input does nothing.
    void AppendBytes(const std::uint8_t* bytes, std::uint32_t count);
    // Empties the text and starts a new generation (see ClearsLocked).
    void Clear();

    // Readers take the lock and then use the ...Locked accessors.
    std::mutex& Mutex() const { return m_mutex; }
    const CTextBuffer& TextLocked() const { return m_text; }
    std::int64_t DiscardedLocked() const { return m_discarded; }
    std::uint64_t ClearsLocked() const { return m_clears; }

    // Convenience readers that take the lock themselves.
    int Length() const;
    std::string Copy(int from, int to) const; // characters [from, to) of the current text

    int GetLimit() const { return m_text.GetLimit(); }

  private:
    void AppendLocked(const char* hex, int length);
    void DiscardLocked(std::int64_t atLeast);

    mutable std::mutex m_mutex;
    CTextBuffer m_text;
    std::int64_t m_discarded = 0;
    std::uint64_t m_clears = 0;
};
