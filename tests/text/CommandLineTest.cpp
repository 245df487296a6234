#include "text/CommandLine.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

std::string Clean(std::string line)
{
    CutComment(line.data());
    TrimSpaces(line.data());
    return line.c_str();
}

class CommandCleanupRows : public testing::TestWithParam<std::pair<const char*, const char*>>
{
};

TEST_P(CommandCleanupRows, CutsAtTheFirstMarkerThenTrimsOnlyOuterSpaces)
{
    EXPECT_EQ(Clean(GetParam().first), GetParam().second);
    // The part of the line that is kept, found without changing it, is the same text.
    EXPECT_EQ(CleanCommand(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Comments, CommandCleanupRows,
                         testing::Values(std::pair{"0102   // reset", "0102"},
                                         std::pair{"0102\\reset", "0102"},
                                         std::pair{"// only a comment", ""}, std::pair{"\\", ""},
                                         std::pair{"01 \\ 02 //x", "01"},
                                         std::pair{"01//02\\03", "01"}, std::pair{"01/02", "01/02"},
                                         std::pair{"01/ /02/", "01/ /02/"}));

INSTANTIATE_TEST_SUITE_P(Spaces, CommandCleanupRows,
                         testing::Values(std::pair{"  0102  ", "0102"}, std::pair{"01 02", "01 02"},
                                         std::pair{"\t0102\t", "\t0102\t"}, std::pair{"   ", ""},
                                         std::pair{" ", ""}, std::pair{"", ""},
                                         std::pair{" A", "A"}, std::pair{"A ", "A"}));

TEST(CommandCleanup, NullTextIsIgnored)
{
    CutComment(nullptr);
    TrimSpaces(nullptr);
}

} // namespace
