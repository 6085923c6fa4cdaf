// The report rules and the filter, on reports given as text.
#include "fscheck/fscheck.h"
#include "libsupport/support.h"
#include "tests/support/fakefsck.h"

#include <gtest/gtest.h>

namespace
{

const char dev[] = "/dev/rdsk/c0t0d0s0";
const char mnt[] = "/export";

struct Verdict {
    int result;
    std::string err;
};

Verdict filter(const std::string &report, int exit_code = 1)
{
    init_expect(dev, mnt, exit_code);
    FILE *f = fmemopen((void *)report.data(), report.size(), "r");
    if (report.empty()) f = fopen("/dev/null", "r");
    testing::internal::CaptureStderr();
    int r = filter_stream(f, dev, mnt);
    std::string err = testing::internal::GetCapturedStderr();
    fclose(f);
    return {r, err};
}

const std::string healthy = healthy_report(dev, mnt);

TEST(Filter, HealthyReportsPass)
{
    EXPECT_EQ(filter(healthy).result, 1);
    EXPECT_EQ(filter("").result, 1);
    EXPECT_EQ(filter("\n\n" + healthy + "\n\n").result, 1);
    std::string gaps;
    for (char c : healthy) gaps += c == '\n' ? std::string("\n\n") : std::string(1, c);
    EXPECT_EQ(filter(gaps).result, 1);
    // The end of input passes, wherever it comes.
    EXPECT_EQ(filter(healthy.substr(0, healthy.find("** Phase 3"))).result, 1);
    EXPECT_EQ(filter(healthy, 36).err, "");
}

TEST(Filter, SuperblockRuleAwaitsItsLine)
{
    EXPECT_EQ(filter(healthy_report(dev, mnt, true), 36).result, 1);
    // Without its line, the awaited rule passes over everything, the summary too.
    EXPECT_EQ(filter(healthy + "anything at all\n", 36).result, 1);
    std::string extra = healthy_report(dev, mnt, true);
    extra.insert(extra.find("FILE SYSTEM"), "some other line\nand another\n");
    EXPECT_EQ(filter(extra, 36).result, 1);
    // Without the 36, the superblock line is a mismatch with the summary rule.
    Verdict v = filter(healthy_report(dev, mnt, true));
    EXPECT_EQ(v.result, 0);
    EXPECT_EQ(v.err, "fsck -n /dev/rdsk/c0t0d0s0 (/export)\n"
                     "  Expected files line.  Got:\n"
                     "  FILE SYSTEM STATE IN SUPERBLOCK IS WRONG; FIX.  no\n"
                     "Stopped at: FILE SYSTEM STATE IN SUPERBLOCK IS WRONG; FIX.  no\n");
}

TEST(Filter, MismatchReports)
{
    std::string r = healthy;
    r.replace(r.find(" (NO WRITE)"), 11, " (NO WRITE) ");
    Verdict v = filter(r);
    EXPECT_EQ(v.result, 0);
    EXPECT_EQ(v.err, "fsck -n /dev/rdsk/c0t0d0s0 (/export)\n"
                     "  Expected:\n"
                     "    [** /dev/rdsk/c0t0d0s0 (NO WRITE)]\n"
                     "  Got:\n"
                     "    [** /dev/rdsk/c0t0d0s0 (NO WRITE) ]\n");
    v = filter(healthy + "one more\nand more\n");
    EXPECT_EQ(v.result, 0);
    EXPECT_EQ(v.err, "Unexpected extra line from fsck.\n => one more\n");
}

TEST(Filter, SummaryLineForm)
{
    std::string head = healthy.substr(0, healthy.find("2 files"));
    struct {
        const char *line;
        const char *stopped; // nullptr: the line fits
    } cases[] = {
        {"2 files, 9 used, 1962 free (10 frags, 244 blocks,  0.5% fragmentation)", nullptr},
        {"12 files, 9 used, 1 free (0 frags, 0 blocks, 0.1%   fragmentation) and more", nullptr},
        {"2 files, 9 used, 1962 free (10 frags, 244 blocks,0.5% fragmentation)",
         "0.5% fragmentation)"},
        {"2 files, 9 used, 1962 free (10 frag, 244 blocks, 0.5% fragmentation)",
         " frag, 244 blocks, 0.5% fragmentation)"},
        {"2 files, x used", "x used"},
        {"files", "files"},
        {"2 files, 9 used, 1962 free (10 frags, 244 blocks, 0.5%", ""},
        {"2 files, 9 used, 1962 free (10 frags, 244 blocks,  fragmentation)", ""},
    };
    for (auto &c : cases) {
        const char *stop = nullptr;
        EXPECT_EQ(is_fsck_files_line(c.line, &stop), c.stopped ? 0 : 1) << c.line;
        if (c.stopped) {
            EXPECT_STREQ(stop, c.stopped) << c.line;
        }
        Verdict v = filter(head + c.line + "\n");
        EXPECT_EQ(v.result, c.stopped ? 0 : 1) << c.line;
        if (c.stopped) {
            EXPECT_EQ(v.err, std::string("fsck -n /dev/rdsk/c0t0d0s0 (/export)\n") +
                                 "  Expected files line.  Got:\n  " + c.line +
                                 "\nStopped at: " + c.stopped + "\n");
        }
    }
}

TEST(Filter, LongLinesAreReadInPieces)
{
    // 300 characters: read as a line of 255 and one of 45, so the second piece
    // is compared with the next rule.
    std::string r = healthy;
    std::string longer = "** Currently Mounted on /export" + std::string(300 - 31, 'x');
    r.replace(r.find("** Currently Mounted on /export"), 31, longer);
    Verdict v = filter(r);
    EXPECT_EQ(v.result, 0);
    EXPECT_EQ(v.err, "fsck -n /dev/rdsk/c0t0d0s0 (/export)\n  Expected:\n"
                     "    [** Currently Mounted on /export]\n  Got:\n    [" +
                         longer.substr(0, 255) + "]\n");
}

TEST(Filter, LongDeviceNamesAreNotCut)
{
    std::string d = "/dev/" + std::string(2000, 'd');
    init_expect(d.c_str(), mnt, 1);
    EXPECT_EQ(expect[0], "=** " + d + " (NO WRITE)");
    EXPECT_EQ(expect.size(), 8u);
    init_expect(d.c_str(), mnt, 36);
    EXPECT_EQ(expect.size(), 9u);
    EXPECT_EQ(expect.back(), "&files");
}

TEST(Filter, BrokenRuleTableEndsTheProcess)
{
    auto run = [] {
        init_expect(dev, mnt, 1);
        expect[1] = "!broken";
        std::string r = healthy;
        FILE *f = fmemopen((void *)r.data(), r.size(), "r");
        filter_stream(f, dev, mnt);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(1),
                "^!ERROR: INTERNAL ERROR: Fell through rules in filter_stream\\(\\)\\.\n"
                "!ERROR: Rules:\n"
                "!ERROR:     =\\*\\* /dev/rdsk/c0t0d0s0 \\(NO WRITE\\)\n"
                "!ERROR:  -> !broken\n"
                "!ERROR:     =\\*\\* Phase 1 - Check Blocks and Sizes\n"
                "(.*\n){4}"
                "!ERROR:     &files\n"
                "!ERROR: Current line:\n"
                "  \\[\\*\\* Currently Mounted on /export\\]\n$");
}

TEST(LookingAt, Positions)
{
    const char *s = "abc";
    const char *p = s;
    EXPECT_TRUE(looking_at(&p, ""));
    EXPECT_EQ(p, s);
    EXPECT_FALSE(looking_at(&p, "abd"));
    EXPECT_EQ(p, s);
    EXPECT_FALSE(looking_at(&p, "abcd"));
    EXPECT_TRUE(looking_at(&p, "ab"));
    EXPECT_STREQ(p, "c");
}

} // namespace
