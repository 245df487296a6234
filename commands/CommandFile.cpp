#include "commands/CommandFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

static_assert(CCommandFile::kMaxFileSize < std::numeric_limits<std::uint32_t>::max());
static_assert(CCommandFile::kMaxFileSize <= std::numeric_limits<int>::max());

namespace
{

bool IsLineEnd(char c)
{
    return c == '\0' || c == '\r' || c == '\n';
}

std::string ReasonText(int error)
{
    return std::generic_category().message(error);
}

class CFileDescriptor
{
  public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

// Reads the whole file into `data`. Returns 0 on success, otherwise an errno value; EFBIG
// when it holds more than `cap` bytes, ECANCELED when `abandoned` was set between two reads.
// The size from fstat is only a hint for the first allocation: the file may change while it
// is read, so the loop runs until end of file and stops as soon as it has seen one byte past
// the cap.
int ReadWhole(int fd, std::uint64_t sizeHint, std::uint64_t cap, const std::atomic<bool>& abandoned,
              std::string& data)
{
    std::size_t used = 0;
    // One spare byte, so that a file read to its expected size still gets the read that
    // reports end of file without a resize.
    data.resize(static_cast<std::size_t>(std::min(sizeHint, cap) + 1));
    for (;;)
    {
        if (used == data.size())
        {
            if (used > cap)
                return EFBIG;
            data.resize(static_cast<std::size_t>(std::min<std::uint64_t>(cap + 1, used * 2)));
        }
        if (abandoned)
            return ECANCELED;
        const ssize_t got =
            ::read(fd, data.data() + used, std::min(data.size() - used, CCommandFile::kChunkBytes));
        if (got == 0)
            break;
        if (got < 0)
        {
            if (errno == EINTR)
                continue;
            return errno;
        }
        used += static_cast<std::size_t>(got);
    }
    if (used > cap)
        return EFBIG;
    data.resize(used);
    return 0;
}

// SplitCommandLines, except that it gives up, with false and `lines` empty, once `abandoned` is
// set: it looks before each piece of CCommandFile::kChunkBytes.
bool SplitLines(std::string&& data, CCommandLines& lines, const std::atomic<bool>& abandoned)
{
    lines.text.clear();
    lines.ends.clear();
    if (data.size() > std::numeric_limits<std::uint32_t>::max())
        return false;
    const auto pieces = [&](auto&& take)
    {
        for (std::size_t begin = 0; begin < data.size(); begin += CCommandFile::kChunkBytes)
        {
            if (abandoned)
                return false;
            const std::size_t end = std::min(data.size(), begin + CCommandFile::kChunkBytes);
            for (std::size_t i = begin; i < end; ++i)
                take(i);
        }
        return true;
    };

    // Count first so that `ends` is allocated once at its final size.
    std::size_t count = 0;
    bool inLine = false;
    const bool counted = pieces(
        [&](std::size_t i)
        {
            const bool end = IsLineEnd(data[i]);
            if (!end && !inLine)
                ++count;
            inLine = !end;
        });
    if (!counted)
        return false;
    lines.ends.reserve(count);

    // Compacting in place: the write position never passes the read position.
    std::size_t out = 0;
    inLine = false;
    const bool split = pieces(
        [&](std::size_t i)
        {
            const char c = data[i];
            if (IsLineEnd(c))
            {
                if (inLine)
                    lines.ends.push_back(static_cast<std::uint32_t>(out));
                inLine = false;
                return;
            }
            data[out++] = c;
            inLine = true;
        });
    if (!split)
    {
        lines.ends.clear();
        return false;
    }
    if (inLine)
        lines.ends.push_back(static_cast<std::uint32_t>(out));
    data.resize(out);
    // Line ends are usually a small share of a file; give the memory back only when they
    // were a large one.
    if (data.capacity() - out > data.capacity() / 4)
        data.shrink_to_fit();
    lines.text = std::move(data);
    return true;
}

} // namespace

std::string_view CCommandLines::Line(std::size_t index) const
{
    const std::uint32_t begin = index == 0 ? 0 : ends[index - 1];
    return std::string_view(text).substr(begin, ends[index] - begin);
}

bool SplitCommandLines(std::string&& data, CCommandLines& lines)
{
    const std::atomic<bool> never{false};
    return SplitLines(std::move(data), lines, never);
}

int CCommandFile::Load(const char* path)
{
    Clear();
    if (path == nullptr || m_abandoned)
        return 0;

    // O_NONBLOCK so that a FIFO or a device cannot block the window in open; O_NOCTTY so
    // that a terminal never becomes our controlling terminal.
    CFileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.Get() < 0)
        return 0;
    struct stat info
    {
    };
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    if (static_cast<std::uint64_t>(info.st_size) > kMaxFileSize)
    {
        m_readError = ReasonText(EFBIG);
        return 0;
    }

    std::string data;
    int error = 0;
    try
    {
        error = ReadWhole(file.Get(), static_cast<std::uint64_t>(info.st_size), kMaxFileSize,
                          m_abandoned, data);
        // A file within the cap always fits the split, so it fails only when abandoned.
        if (error == 0 && !SplitLines(std::move(data), m_lines, m_abandoned))
            error = ECANCELED;
    }
    catch (const std::bad_alloc&)
    {
        error = ENOMEM;
    }
    if (error != 0)
    {
        Clear();
        if (error != ECANCELED)
            m_readError = ReasonText(error);
        return 0;
    }
    return 1;
}

std::uint32_t CCommandFile::GetCount() const
{
    return static_cast<std::uint32_t>(m_lines.Count());
}

int CCommandFile::GetLine(std::uint32_t index, std::string& destination, int& length) const
{
    length = 0;
    if (index >= m_lines.Count())
        return 0;
    const std::string_view line = m_lines.Line(index);
    destination.assign(line);
    length = static_cast<int>(line.size());
    return 1;
}

CCommandLines CCommandFile::TakeLines()
{
    CCommandLines lines = std::move(m_lines);
    m_lines = CCommandLines();
    return lines;
}

void CCommandFile::Clear()
{
    m_lines.text.clear();
    m_lines.text.shrink_to_fit();
    m_lines.ends.clear();
    m_lines.ends.shrink_to_fit();
    m_readError.clear();
}
