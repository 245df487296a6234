#include "terminal/ReceiveLog.h"

#include "text/HexCodec.h"

#include <algorithm>
#include <mutex>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

CReceiveLog::CReceiveLog(int limit) : m_text(limit)
{
#if defined(__GLIBC__)
    // glibc serves large blocks from mappings of their own and grows them by remapping, without
    // a copy, but only while its mmap threshold stays put: the first large block freed anywhere
    // raises the threshold, and from then on every doubling of the log copies it within the
    // heap and leaves the old copy resident. A fixed threshold keeps the log at two bytes of
    // memory per received byte.
    static std::once_flag fixed;
    std::call_once(fixed, [] { mallopt(M_MMAP_THRESHOLD, 128 * 1024); });
#endif
}

void CReceiveLog::AppendBytes(const std::uint8_t* bytes, std::uint32_t count)
{
    if (bytes == nullptr || count == 0)
        return;
    const std::lock_guard appending(m_appending);
    // Only the newest bytes of a block larger than the whole log can be kept.
    const std::uint32_t keep =
        std::min<std::uint32_t>(count, static_cast<std::uint32_t>(GetLimit() / 2));
    const std::size_t length = 2 * static_cast<std::size_t>(keep);
    if (length > m_scratchSize)
    {
        m_scratch = std::make_unique<char[]>(length);
        m_scratchSize = length;
    }
    // Encode before taking the lock: the lock then covers only the copy into the log.
    BytesToHex(bytes + (count - keep), keep, m_scratch.get());
    std::unique_lock lock(m_mutex);
    AppendLocked(lock, m_scratch.get(), static_cast<int>(length));
}

void CReceiveLog::AppendLocked(std::unique_lock<std::mutex>& lock, const char* hex, int length)
{
    const int limit = m_text.GetLimit();
    if (length > limit)
    {
        // Only the newest whole pairs of an oversized block can be kept.
        const int keep = limit & ~1;
        hex += length - keep;
        length = keep;
    }
    const std::int64_t over = static_cast<std::int64_t>(m_text.GetLength()) + length - limit;
    if (over > 0)
        DiscardLocked(lock, std::max<std::int64_t>(over, limit / 8));

    const int before = m_text.GetLength();
    m_text.Append(hex, length);
    if (m_text.GetLength() != before)
        return;
    // The block could not grow (out of memory): make room inside the block it has, dropping
    // the oldest data rather than the newest.
    const std::int64_t missing =
        static_cast<std::int64_t>(before) + length + 1 - m_text.GetCapacity();
    DiscardLocked(lock, std::max<std::int64_t>(missing, before / 8));
    m_text.Append(hex, length);
}

void CReceiveLog::DiscardLocked(std::unique_lock<std::mutex>& lock, std::int64_t atLeast)
{
    // Whole byte pairs only, so the text stays aligned on bytes.
    std::int64_t drop = std::min<std::int64_t>(atLeast + (atLeast & 1), m_text.GetLength());
    drop -= drop & 1;
    if (drop <= 0)
        return;
    m_discarded += drop;
    const int keep = m_text.GetLength() - static_cast<int>(drop);
    if (keep <= kMoveSlice)
    {
        m_text.DiscardPrefix(static_cast<int>(drop));
        return;
    }
    // Readers see the shorter text from now on. The rest moves to the front a slice at a time
    // without the lock: a slice lands in the gap, which no reader looks at, and is read from
    // where readers read only (so slices are at most the gap). The lock covers only the
    // bookkeeping between slices. A clear meanwhile waits for the slice under way (it would
    // free the block) and leaves nothing to move.
    m_gap = static_cast<int>(drop);
    m_moved = 0;
    const std::uint64_t clears = m_clears;
    const int slice = std::min(kMoveSlice, m_gap);
    lock.unlock();
    for (;;)
    {
        const std::lock_guard moving(m_moving);
        lock.lock();
        if (m_clears != clears)
            return;
        if (m_moved >= keep)
            break;
        const int at = m_moved, count = std::min(slice, keep - m_moved);
        lock.unlock();
        m_text.MoveWithin(at, at + m_gap, count);
        lock.lock();
        m_moved += count;
        lock.unlock();
    }
    m_text.Truncate(keep);
    m_gap = 0;
    m_moved = 0;
}

void CReceiveLog::Clear()
{
    const std::lock_guard moving(m_moving);
    const std::lock_guard lock(m_mutex);
    m_text.Assign("");
    m_discarded = 0;
    m_gap = 0;
    m_moved = 0;
    ++m_clears;
}

int CReceiveLog::Length() const
{
    const std::lock_guard lock(m_mutex);
    return LengthLocked();
}

std::string CReceiveLog::Copy(int from, int to) const
{
    const std::lock_guard lock(m_mutex);
    std::string text;
    ReadLocked(from, to, [&](const char* piece, int length) { text.append(piece, length); });
    return text;
}
