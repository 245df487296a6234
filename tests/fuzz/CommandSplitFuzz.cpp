// The input is the content of a command file. No stored line may be empty or hold a line end,
// joining the lines must give the content without its line ends, and each line must be one
// whole run between line ends, in order.
#include "commands/CommandFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{

bool IsLineEnd(char c)
{
    return c == '\0' || c == '\r' || c == '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string content(reinterpret_cast<const char*>(data), size);
    CCommandLines lines;
    FUZZ_CHECK(SplitCommandLines(std::string(content), lines));

    std::vector<std::string> runs;
    std::string withoutEnds;
    for (std::size_t i = 0; i < content.size(); ++i)
    {
        if (IsLineEnd(content[i]))
            continue;
        if (i == 0 || IsLineEnd(content[i - 1]))
            runs.emplace_back();
        runs.back().push_back(content[i]);
        withoutEnds.push_back(content[i]);
    }

    FUZZ_CHECK(lines.Count() == runs.size());
    std::string joined;
    for (std::size_t i = 0; i < lines.Count(); ++i)
    {
        const std::string_view line = lines.Line(i);
        FUZZ_CHECK(!line.empty());
        for (const char c : line)
            FUZZ_CHECK(!IsLineEnd(c));
        FUZZ_CHECK(line == runs[i]);
        joined += line;
    }
    FUZZ_CHECK(joined == withoutEnds);
    return 0;
}
