// epochnow and mediaquery as a test script uses them.
#include "platform/volmgt.h"
#include "tests/support/process.h"
#include "tests/support/text.h"

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

TEST(Mediaquery, UnmanagedPathsPrintNothingAndNoPathIsAUsageError)
{
    auto runs = runs_in("tests/probes/transcripts/mediaquery.txt");
    ASSERT_EQ(runs.size(), 5u);
    for (const RunSpec &c : runs) {
        expect_run(c);
        if (c.argv.size() < 2) continue;
        EXPECT_EQ(volmgt_inuse(c.argv[1].c_str()), 0) << c.line;
        EXPECT_EQ(volmgt_symname(c.argv[1].c_str()), nullptr) << c.line;
    }
}

} // namespace
