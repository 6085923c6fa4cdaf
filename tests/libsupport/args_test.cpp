// Cardinal numbers and time limits.
#include "libsupport/support.h"

#include <gtest/gtest.h>

namespace
{

TEST(Iscardinal, AcceptsAndRefuses)
{
    for (const char *s : {"12", " 12 ", "\t12\n", "007", "0", "2147483648"})
        EXPECT_TRUE(iscardinal(s)) << s;
    for (const char *s : {"", "   ", "+3", "-1", "1.5", "1 2", "12x", "x12"})
        EXPECT_FALSE(iscardinal(s)) << s;
}

TEST(ParseTime, Forms)
{
    struct {
        const char *text;
        int seconds;
    } good[] = {{"90", 90},
                {"1:30", 90},
                {"1:00:00", 3600},
                {":30", 30},
                {"1:2:3", 3723},
                {"0:90:00", 5400},
                {"0:00:00", 0},
                {"2147483647", 2147483647},
                {"596523:14:07", 2147483647}};
    for (auto &g : good) {
        int v = -1;
        EXPECT_TRUE(parse_time(g.text, &v)) << g.text;
        EXPECT_EQ(v, g.seconds) << g.text;
    }
    for (const char *s : {"1:00:00:00", "1::0", "1:", "a", "", ":", "::1", "1:2x", "1 ",
                          "2147483648", "596523:14:08", "99999999999999999999"}) {
        int v = 77;
        EXPECT_FALSE(parse_time(s, &v)) << s;
        EXPECT_EQ(v, 77) << s;
    }
}

TEST(GetCardinalArgument, LimitsAndMessages)
{
    program_name = "prog";
    trace1 = stderr;
    EXPECT_EQ(get_cardinal_argument("-i", "2147483647"), 2147483647);
    EXPECT_EQ(get_cardinal_argument("-i", " 7 "), 7);
    EXPECT_EXIT(get_cardinal_argument("-i", "2147483648"), ::testing::ExitedWithCode(1),
                "^prog: -i 2147483648; argument must be <= 2147483647 \\(INT_MAX\\)\\.\n$");
    EXPECT_EXIT(get_cardinal_argument("-i", "99999999999999999999999"),
                ::testing::ExitedWithCode(1), "argument must be <= 2147483647");
    EXPECT_EXIT(get_cardinal_argument("-i", "-3"), ::testing::ExitedWithCode(1),
                "^prog: -i -3; argument must be a cardinal number\\.\n$");
    EXPECT_EXIT(get_cardinal_argument("-i", nullptr), ::testing::ExitedWithCode(1),
                "^prog: -i option requires an argument\n$");
    trace1 = nullptr;
}

} // namespace
