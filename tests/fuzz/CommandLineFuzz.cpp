// The input, up to its first NUL, is a picked command line. After CutComment and TrimSpaces it
// must be a slice of the input: the part before the first marker without its outer spaces.
// CleanCommand, given all of the input, NULs included, must find that same slice in place.
#include "tests/fuzz/FuzzCheck.h"
#include "text/CommandLine.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    // Exactly the text and its NUL, so that any write past them is reported.
    auto buffer = std::make_unique<char[]>(line.size() + 1);
    std::memcpy(buffer.get(), line.c_str(), line.size() + 1);
    CutComment(buffer.get());
    TrimSpaces(buffer.get());
    const std::string result(buffer.get());

    FUZZ_CHECK(result.size() <= line.size());
    FUZZ_CHECK(result.find('\\') == std::string::npos);
    FUZZ_CHECK(result.find("//") == std::string::npos);
    FUZZ_CHECK(result.empty() || (result.front() != ' ' && result.back() != ' '));

    // The model: cut at the earlier marker, then drop the outer spaces.
    const std::size_t cut = std::min(line.find('\\'), line.find("//"));
    const std::string kept = line.substr(0, cut);
    const std::size_t first = kept.find_first_not_of(' ');
    const std::string expected = first == std::string::npos
                                     ? ""
                                     : kept.substr(first, kept.find_last_not_of(' ') - first + 1);
    FUZZ_CHECK(result == expected);

    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    const std::string_view inPlace = CleanCommand(whole);
    FUZZ_CHECK(inPlace == result);
    FUZZ_CHECK(inPlace.empty() || (inPlace.data() >= whole.data() &&
                                   inPlace.data() + inPlace.size() <= whole.data() + whole.size()));
    return 0;
}
