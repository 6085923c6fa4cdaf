// The report rules and the filter, on reports given as text.
#include "fscheck/fscheck.h"
#include "tests/support/fakefsck.h"

#include <gtest/gtest.h>

namespace
{
const char dev[] = "/dev/rdsk/c0t0d0s0", mnt[] = "/export";
const std::string healthy = healthy_report(dev, mnt), sb = healthy_report(dev, mnt, true);
const std::string sb_line = "FILE SYSTEM STATE IN SUPERBLOCK IS WRONG; FIX.  no";
const std::string head = healthy.substr(0, healthy.find("2 files")),
                  mismatch = "fsck -n " + std::string(dev) + " (/export)\n";

// The report with `what` put in place of the first `from`.
std::string edited(std::string r, const std::string &from, const std::string &what)
{
    return r.replace(r.find(from), from.size(), what);
}

std::string summary(const std::string &line, const std::string &stopped)
{
    return mismatch + "  Expected files line.  Got:\n  " + line + "\nStopped at: " + stopped + "\n";
}

TEST(Filter, Reports)
{
    const std::string wide = "** Currently Mounted on /export" + std::string(269, 'x');
    struct Case {
        std::string report;
        int exit_code, result;
        std::string err;
    };
    std::vector<Case> cases = {
        // clang-format off
        {healthy, 0, 1, ""},
        {"", 0, 1, ""},
        {"\n\n" + edited(healthy, "** Phase 2", "\n** Phase 2") + "\n\n", 0, 1, ""},
        // The end of input passes, wherever it comes.
        {healthy.substr(0, healthy.find("** Phase 3")), 0, 1, ""},
        {healthy, 36, 1, ""},
        {sb, 36, 1, ""},
        // Without its line, the awaited rule passes over everything, the summary too.
        {healthy + "anything at all\n", 36, 1, ""},
        {edited(sb, "FILE SYSTEM", "some other line\nand another\nFILE SYSTEM"), 36, 1, ""},
        {sb, 0, 0, summary(sb_line, sb_line)},
        {edited(healthy, " (NO WRITE)", " (NO WRITE) "), 0, 0, mismatch +
         "  Expected:\n    [** /dev/rdsk/c0t0d0s0 (NO WRITE)]\n  Got:\n    [** /dev/rdsk/c0t0d0s0 (NO WRITE) ]\n"},
        {healthy + "one more\nand more\n", 0, 0, "Unexpected extra line from fsck.\n => one more\n"},
        // A line with a NUL byte is judged whole: never empty, never a rule's text.
        {healthy + std::string("\0CORRUPTED INODE 5\n", 19), 0, 0,
         "Unexpected extra line from fsck.\n => \\0CORRUPTED INODE 5\n"},
        {edited(healthy, " (NO WRITE)", std::string(" (NO WRITE)\0 UNEXPECTED INCONSISTENCY", 37)), 0, 0,
         mismatch + "  Expected:\n    [** /dev/rdsk/c0t0d0s0 (NO WRITE)]\n  Got:\n"
         "    [** /dev/rdsk/c0t0d0s0 (NO WRITE)\\0 UNEXPECTED INCONSISTENCY]\n"},
        {edited(sb, "FILE SYSTEM STATE", std::string("FILE SYSTEM\0STATE", 17)), 36, 1, ""},
        // Not even the summary line's free-form figure takes one.
        {edited(healthy, " 0.5%", std::string(" \0\0.5%", 6)), 0, 0,
         summary("2 files, 9 used, 1962 free (10 frags, 244 blocks,  \\0\\0.5% fragmentation)",
                 "\\0\\0.5% fragmentation)")},
        // 300 characters: a line of 255, and one of 45 for the next rule.
        {edited(healthy, "** Currently Mounted on /export", wide), 0, 0, mismatch +
         "  Expected:\n    [** Currently Mounted on /export]\n  Got:\n    [" + wide.substr(0, 255) + "]\n"},
        // clang-format on
    };
    // Summary lines, and where the matching stopped (nullptr: the line fits).
    const char *lines[][2] = {
        // clang-format off
        {"12 files, 9 used, 1 free (0 frags, 0 blocks, 0.1%   fragmentation) and more", nullptr},
        {"2 files, 9 used, 1962 free (10 frags, 244 blocks,0.5% fragmentation)", "0.5% fragmentation)"},
        {"2 files, 9 used, 1962 free (10 frag, 244 blocks, 0.5% fragmentation)",
         " frag, 244 blocks, 0.5% fragmentation)"},
        {"2 files, x used", "x used"}, {"files", "files"},
        {"2 files, 9 used, 1962 free (10 frags, 244 blocks, 0.5%", ""},
        {"2 files, 9 used, 1962 free (10 frags, 244 blocks,  fragmentation)", ""},
        // clang-format on
    };
    for (auto &l : lines)
        cases.push_back({head + l[0] + "\n", 0, !l[1], l[1] ? summary(l[0], l[1]) : ""});
    for (auto &c : cases) {
        init_expect(dev, mnt, c.exit_code);
        FILE *f = c.report.empty() ? fopen("/dev/null", "r")
                                   : fmemopen((void *)c.report.data(), c.report.size(), "r");
        testing::internal::CaptureStderr();
        EXPECT_EQ(filter_stream(f, dev, mnt), c.result) << c.report;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.report;
        fclose(f);
    }
}

TEST(Filter, RulesFitAnyNameAndABrokenTableEndsTheProcess)
{
    std::string d = "/dev/" + std::string(2000, 'd');
    init_expect(d.c_str(), mnt, 36);
    EXPECT_EQ(expect,
              (std::vector<std::string>{
                  "=** " + d + " (NO WRITE)", "=** Currently Mounted on /export",
                  "=** Phase 1 - Check Blocks and Sizes", "=** Phase 2 - Check Pathnames",
                  "=** Phase 3 - Check Connectivity", "=** Phase 4 - Check Reference Counts",
                  "=** Phase 5 - Check Cyl groups", "?" + sb_line, "&files"}));
    init_expect(dev, mnt, 1);
    expect[1] = "!broken";
    FILE *f = fmemopen((void *)healthy.data(), healthy.size(), "r");
    EXPECT_EXIT(filter_stream(f, dev, mnt), ::testing::ExitedWithCode(1),
                "^!ERROR: INTERNAL ERROR: Fell through rules in filter_stream\\(\\)\\.\n"
                "!ERROR: Rules:\n"
                "!ERROR:     =\\*\\* /dev/rdsk/c0t0d0s0 \\(NO WRITE\\)\n"
                "!ERROR:  -> !broken\n"
                "!ERROR:     =\\*\\* Phase 1 - Check Blocks and Sizes\n"
                "(.*\n){4}"
                "!ERROR:     &files\n"
                "!ERROR: Current line:\n"
                "  \\[\\*\\* Currently Mounted on /export\\]\n$");
    fclose(f);
}

} // namespace
