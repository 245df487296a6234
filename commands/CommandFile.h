// CCommandFile: reads a command file and holds its lines in file order.
//
// Lines end at every NUL, CR and LF byte, in any mix; empty runs add nothing, and a last line
// without an ending counts. The bytes of a line are kept exactly (no trimming, no comment
// cutting, no conversion) and a line may be of any length.
//
// Load empties the store first, so a failed load leaves it empty. Results:
//  - 0 when the file cannot be opened (missing, no permission, not a regular file) or is
//    larger than kMaxFileSize; a file over the cap also sets GetReadError().
//  - 0 when reading fails part way; GetReadError() then gives the system's reason text.
//  - 1 otherwise, also for an empty file.
//
// Only regular files are read: a FIFO, a device or a directory given as the file is refused
// without blocking. Linux has no share modes, so a file that another program holds open loads
// normally. The store takes about the file's size plus four bytes per line.
//
// One thread at a time: the window loads on a worker and takes the lines on the user-interface
// thread once the worker has ended. Abandon alone may be called from any thread at any time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Lines stored end to end without their line ends: line i is text[ends[i - 1], ends[i]),
// with 0 in place of ends[-1]. Joining the lines therefore gives `text`.
struct CCommandLines
{
    std::string text;
    std::vector<std::uint32_t> ends;

    std::size_t Count() const { return ends.size(); }
    // index < Count().
    std::string_view Line(std::size_t index) const;
};

// Splits `data` into lines by the rule above, reusing its storage for the lines' bytes, and
// replaces what `lines` held. Data of 4 GiB or more does not fit the 32-bit offsets: it is
// refused with false and `lines` left empty.
bool SplitCommandLines(std::string&& data, CCommandLines& lines);

class CCommandFile
{
  public:
    static constexpr std::uint64_t kMaxFileSize = 64ull * 1024 * 1024;

    CCommandFile() = default;
    virtual ~CCommandFile() = default;

    int Load(const char* path);
    std::uint32_t GetCount() const;
    // Copies line `index` into `destination` and its length into `length`; returns 1. An
    // index at or beyond GetCount() returns 0 with length 0 and leaves `destination` alone.
    int GetLine(std::uint32_t index, std::string& destination, int& length) const;
    void Clear();
    // Hands the stored lines over and leaves the store empty.
    CCommandLines TakeLines();
    // Makes a Load running on another thread give up before its next piece of work, and every
    // later Load give up at once: each then returns 0 with an empty store and no read error.
    // For an owner that is going away and must not wait for a whole file. Load reads and splits
    // a file in pieces of kChunkBytes and looks in between.
    void Abandon() { m_abandoned = true; }

    static constexpr std::size_t kChunkBytes = 1024 * 1024;

    // The reason the last Load could not read its file ("File too large", "Input/output
    // error", ...), or empty when it read the file or could not open it.
    const std::string& GetReadError() const { return m_readError; }

  private:
    CCommandLines m_lines;
    std::string m_readError;
    std::atomic<bool> m_abandoned{false};
};
