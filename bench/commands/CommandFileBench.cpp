// Loading a command file of 100,000 lines, about 10 MB, written once into a temporary
// directory; the page cache holds it, so this measures reading and splitting, not the disk.
#include "commands/CommandFile.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace
{

constexpr int kLines = 100000;

class CBenchFile
{
  public:
    CBenchFile()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vorlanti-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_dir = pattern;
        m_path = (m_dir / "commands.txt").string();
        std::ofstream out(m_path, std::ios::binary);
        // 100 bytes a line: hex, a comment, CR LF.
        char line[128];
        for (int i = 0; i < kLines; ++i)
        {
            std::snprintf(line, sizeof line, "%08X 55AA 0102030405060708 // command %06d\r\n",
                          static_cast<unsigned>(i), i);
            std::string text(line);
            text.insert(text.size() - 2, std::string(100 - text.size(), ' '));
            out << text;
        }
        m_size = static_cast<std::int64_t>(out.tellp());
    }
    ~CBenchFile() { std::filesystem::remove_all(m_dir); }

    const std::string& Path() const { return m_path; }
    std::int64_t Size() const { return m_size; }

  private:
    std::filesystem::path m_dir;
    std::string m_path;
    std::int64_t m_size = 0;
};

void BM_CommandFileLoad(benchmark::State& state)
{
    static const CBenchFile file;
    CCommandFile commands;
    for (auto _ : state)
    {
        if (commands.Load(file.Path().c_str()) != 1 || commands.GetCount() != kLines)
            state.SkipWithError("the file did not load");
        benchmark::DoNotOptimize(commands.GetCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * file.Size());
    state.counters["lines"] = commands.GetCount();
}
BENCHMARK(BM_CommandFileLoad)->Unit(benchmark::kMillisecond);

// Copying every line out by index, as the window fills its list after a load.
void BM_CommandFileGetAllLines(benchmark::State& state)
{
    static const CBenchFile file;
    CCommandFile commands;
    commands.Load(file.Path().c_str());
    std::string line;
    int length = 0;
    for (auto _ : state)
    {
        for (std::uint32_t i = 0; i < commands.GetCount(); ++i)
            commands.GetLine(i, line, length);
        benchmark::DoNotOptimize(line.data());
    }
}
BENCHMARK(BM_CommandFileGetAllLines)->Unit(benchmark::kMillisecond);

} // namespace
