#include "terminal/ReceiveLog.h"

#include "text/HexCodec.h"

#include <algorithm>
#include <array>
#include <mutex>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace
{
// One read of the receive worker is at most this many bytes; its text fits on the stack.
constexpr std::uint32_t kStackBlock = 256;
} // namespace

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
    // Encode before taking the lock: the lock then covers only the copy into the log.
    if (count <= kStackBlock)
    {
        std::array<char, 2 * kStackBlock> hex;
        BytesToHex(bytes, count, hex.data());
        const std::lock_guard lock(m_mutex);
        AppendLocked(hex.data(), static_cast<int>(2 * count));
        return;
    }
    // Larger blocks come only from callers that fill the log directly; keep what fits.
    const std::uint32_t keep =
        std::min<std::uint32_t>(count, static_cast<std::uint32_t>(GetLimit() / 2));
    std::string hex(2 * static_cast<std::size_t>(keep), '\0');
    BytesToHex(bytes + (count - keep), keep, hex.data());
    const std::lock_guard lock(m_mutex);
    AppendLocked(hex.data(), static_cast<int>(hex.size()));
}

void CReceiveLog::AppendLocked(const char* hex, int length)
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
        DiscardLocked(std::max<std::int64_t>(over, limit / 8));

    const int before = m_text.GetLength();
    m_text.Append(hex, length);
    if (m_text.GetLength() != before)
        return;
    // The block could not grow (out of memory): make room inside the block it has, dropping
    // the oldest data rather than the newest.
    const std::int64_t missing =
        static_cast<std::int64_t>(before) + length + 1 - m_text.GetCapacity();
    DiscardLocked(std::max<std::int64_t>(missing, before / 8));
    m_text.Append(hex, length);
}

void CReceiveLog::DiscardLocked(std::int64_t atLeast)
{
    // Whole byte pairs only, so the text stays aligned on bytes.
    std::int64_t drop = std::min<std::int64_t>(atLeast + (atLeast & 1), m_text.GetLength());
    drop -= drop & 1;
    if (drop <= 0)
        return;
    m_text.DiscardPrefix(static_cast<int>(drop));
    m_discarded += drop;
}

void CReceiveLog::Clear()
{
    const std::lock_guard lock(m_mutex);
    m_text.Assign("");
    m_discarded = 0;
    ++m_clears;
}

int CReceiveLog::Length() const
{
    const std::lock_guard lock(m_mutex);
    return m_text.GetLength();
}

std::string CReceiveLog::Copy(int from, int to) const
{
    const std::lock_guard lock(m_mutex);
    const int length = m_text.GetLength();
    from = std::clamp(from, 0, length);
    to = std::clamp(to, from, length);
    return std::string(m_text.GetText() + from, static_cast<std::size_t>(to - from));
}
