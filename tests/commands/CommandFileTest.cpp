#include "commands/CommandFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using namespace std::string_literals;
using Lines = std::vector<std::string>;

Lines AllLines(const CCommandFile& file)
{
    Lines lines(file.GetCount());
    for (std::uint32_t i = 0; i < file.GetCount(); ++i)
    {
        int length = -1;
        EXPECT_EQ(file.GetLine(i, lines[i], length), 1);
        EXPECT_EQ(length, static_cast<int>(lines[i].size()));
    }
    return lines;
}

class SplitRows : public testing::TestWithParam<std::pair<std::string, Lines>>
{
};

TEST_P(SplitRows, EveryLineEndEndsALineAndEmptyRunsAddNothing)
{
    CCommandLines lines;
    lines.ends = {7}; // whatever was held before is replaced
    ASSERT_TRUE(SplitCommandLines(std::string(GetParam().first), lines));
    Lines result;
    for (std::size_t i = 0; i < lines.Count(); ++i)
        result.emplace_back(lines.Line(i));
    EXPECT_EQ(result, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, SplitRows,
    testing::Values(std::pair{"A\r\nB\r\n"s, Lines{"A", "B"}}, std::pair{"A\nB"s, Lines{"A", "B"}},
                    std::pair{"A\rB"s, Lines{"A", "B"}}, std::pair{"A\n\rB"s, Lines{"A", "B"}},
                    std::pair{"A\n\n\nB"s, Lines{"A", "B"}},
                    std::pair{"A\r\n\r\nB"s, Lines{"A", "B"}},
                    std::pair{"AB\0CD"s, Lines{"AB", "CD"}}, std::pair{"\0\0AB\0\0"s, Lines{"AB"}},
                    std::pair{""s, Lines{}}, std::pair{"\r\n\n\r\0\r"s, Lines{}}));

// The reader neither trims, nor cuts comments, nor converts.
INSTANTIATE_TEST_SUITE_P(
    BytesKeptAsTheyStand, SplitRows,
    testing::Values(std::pair{"  \n"s, Lines{"  "}}, std::pair{"// reset\n"s, Lines{"// reset"}},
                    std::pair{"\t01 02\t\xA0\xFF\r\n"s, Lines{"\t01 02\t\xA0\xFF"}}));

class CommandFile : public testing::Test
{
  protected:
    CommandFile()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorlanti-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error(std::strerror(errno));
        m_dir = pattern;
    }
    ~CommandFile() override { std::filesystem::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    // A sparse file: no disk and no time spent on its size.
    std::string WriteSparse(const std::string& name, const std::string& head, off_t size) const
    {
        const int fd = ::open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_TRUE(fd >= 0 && ::write(fd, head.data(), head.size()) >= 0 &&
                    ::ftruncate(fd, size) == 0);
        ::close(fd);
        return Path(name);
    }
    // A failed load leaves the store empty even when it held lines, and never blocks.
    void ExpectRefused(const std::string& path, const std::string& reason)
    {
        ASSERT_EQ(m_file.Load(Write("full.txt", "A\nB\n").c_str()), 1);
        ASSERT_EQ(m_file.GetCount(), 2u);
        EXPECT_EQ(m_file.Load(path.c_str()), 0) << path;
        EXPECT_EQ(m_file.GetCount(), 0u) << path;
        EXPECT_EQ(m_file.GetReadError(), reason) << path;
    }

    std::filesystem::path m_dir;
    CCommandFile m_file;
};

TEST_F(CommandFile, LoadReplacesTheLinesWithThoseOfTheFile)
{
    ASSERT_EQ(m_file.Load(Write("a.txt", "A1\nA2\nA3\n").c_str()), 1);
    EXPECT_EQ(m_file.Load(Write("b.txt", "01 // x\r\n\r\n  AB  \n\0tail"s).c_str()), 1);
    EXPECT_EQ(AllLines(m_file), (Lines{"01 // x", "  AB  ", "tail"}));
    EXPECT_EQ(m_file.GetReadError(), "");
    EXPECT_EQ(m_file.Load(Write("empty.txt", "").c_str()), 1);
    EXPECT_EQ(m_file.GetCount(), 0u);
    EXPECT_EQ(m_file.Load(Write("ends.txt", "\r\n\r\n\n\0\r"s).c_str()), 1);
    EXPECT_EQ(m_file.GetCount(), 0u);
}

TEST_F(CommandFile, GetLineOutsideTheStoreLeavesTheDestinationAlone)
{
    ASSERT_EQ(m_file.Load(Write("a.txt", "AB").c_str()), 1);
    std::string line = "untouched";
    int length = 5;
    EXPECT_EQ(m_file.GetLine(1, line, length), 0);
    EXPECT_EQ(m_file.GetLine(0xFFFFFFFFu, line, length), 0);
    EXPECT_EQ(line, "untouched");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(AllLines(m_file), Lines{"AB"});
}

TEST_F(CommandFile, KeepsLongLinesWholeAndReadsFilesOfAnyReportedSize)
{
    const std::string longLine(1 << 20, 'F');
    ASSERT_EQ(m_file.Load(Write("long.txt", "01\n" + longLine + "\r\n02").c_str()), 1);
    EXPECT_EQ(AllLines(m_file), (Lines{"01", longLine, "02"}));
    // At the cap exactly: loads (the rest of the sparse file is NUL bytes).
    const auto cap = static_cast<off_t>(CCommandFile::kMaxFileSize);
    EXPECT_EQ(m_file.Load(WriteSparse("cap.txt", "AB\n", cap).c_str()), 1);
    EXPECT_EQ(AllLines(m_file), Lines{"AB"});
    // Files under /proc report size 0 and still have content.
    ASSERT_EQ(m_file.Load("/proc/self/status"), 1);
    EXPECT_EQ(AllLines(m_file).at(0).rfind("Name:", 0), 0u);
}

TEST_F(CommandFile, RefusesWhatCannotBeOpenedOrIsNotARegularFile)
{
    ExpectRefused(Path("missing.txt"), "");
    ExpectRefused(Path("no-such-dir/a.txt"), "");
    ExpectRefused("", "");
    ExpectRefused(m_dir.string(), "");
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    ExpectRefused(Path("fifo"), ""); // would block in open without O_NONBLOCK
    ExpectRefused("/dev/null", "");
    EXPECT_EQ(m_file.Load(nullptr), 0);
}

TEST_F(CommandFile, RefusesAFileWithoutReadPermission)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root, which may read any file";
    const std::string path = Write("secret.txt", "A\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    ExpectRefused(path, "");
}

TEST_F(CommandFile, FileOverTheCapOrAReadErrorIsRefusedWithTheReason)
{
    const auto over = static_cast<off_t>(CCommandFile::kMaxFileSize + 1);
    ExpectRefused(WriteSparse("huge.txt", "AB\n", over), std::strerror(EFBIG));
    // A regular file whose first page cannot be read: our own unmapped address 0.
    ExpectRefused("/proc/self/mem", std::strerror(EIO));
}

} // namespace
