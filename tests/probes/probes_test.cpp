// epochnow and mediaquery as a test script uses them.
#include "platform/volmgt.h"
#include "tests/support/process.h"

#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace
{

TEST(Epochnow, PrintsOneDecimalLineWithinASecondOfTheClock)
{
    long before = static_cast<long>(time(nullptr));
    RunResult r = run_program(bin_path("epochnow"), {});
    long after = static_cast<long>(time(nullptr));
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_GE(r.out.size(), 2u);
    EXPECT_EQ(r.out.back(), '\n');
    std::string digits = r.out.substr(0, r.out.size() - 1);
    ASSERT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << r.out;
    long t = std::stol(digits);
    EXPECT_GE(t, before - 1);
    EXPECT_LE(t, after + 1);
}

TEST(Mediaquery, UnmanagedPathsPrintNothing)
{
    // Linux has no volume manager of this kind: no path is in use by it.
    for (const char *path : {"/dev/sr0", "/dev/null", "/no/such/device", ""}) {
        EXPECT_EQ(volmgt_inuse(path), 0) << path;
        EXPECT_EQ(volmgt_symname(path), nullptr) << path;
        RunResult r = run_program(bin_path("mediaquery"), {path});
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, 0) << path;
        EXPECT_EQ(r.out, "") << path;
        EXPECT_EQ(r.err, "") << path;
    }
}

TEST(Mediaquery, MissingArgumentGivesUsageAndStatusOne)
{
    RunOptions o;
    o.argv0 = "mediaquery";
    RunResult r = run_program(bin_path("mediaquery"), {}, o);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "!ERROR: Usage: mediaquery device-path\n");
}

} // namespace
