// The pieces of diskhammer that a run cannot show in isolation: the values
// of size ranges, the 64-bit size sequence at the ends of the range, the
// mismatch report with a stale errno, and whole-option matching. The cases
// are runs in transcripts/: a piece's name and arguments, status and output.
#include "diskhammer/diskhammer.h"
#include "platform/mounts.h"
#include "tests/support/process.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

// The transcripts of the cases.
static const std::string T = "tests/diskhammer/transcripts/";

TEST(DhUnit, RangesAndUnits)
{
    for (auto &c : runs_in(T + "ranges.txt")) {
        long long lo = 0, hi = 0;
        parse_min_max(c.argv[1].c_str(), &lo, &hi);
        EXPECT_EQ(std::to_string(lo) + " " + std::to_string(hi) + "\n", c.out) << c.line;
    }
}

TEST(DhUnit, SizeSequencesStayInRangeAndEnd)
{
    for (auto &c : runs_in(T + "sizes.txt")) {
        Settings set;
        parse_min_max(c.argv[1].c_str(), &set.min_filesz, &set.max_filesz);
        parse_min_max(c.argv[2].c_str(), &set.min_transz, &set.max_transz);
        set.nrandom = c.argv.size() > 3;
        srand(7);
        RunState run;
        run.seq = {set.min_filesz, set.file_incr, set.min_transz};
        int cycles = 0;
        for (size_seq &s = run.seq; s.size != 0 && cycles < 100000; cycles++) {
            ASSERT_TRUE(s.size > 0 && s.size <= set.max_filesz) << s.size;
            ASSERT_TRUE(s.transfer >= set.min_transz && s.transfer <= set.max_transz) << s.transfer;
            next_sizes(set, &run);
        }
        EXPECT_TRUE(cycles < 100000 && (c.status < 0 || cycles == c.status))
            << c.line << ": " << cycles;
    }
}

TEST(DhUnit, MismatchAndFailedCallReports)
{
    unsigned char w[16], r[16];
    memset(w, 0x5a, sizeof w);
    RunState run;
    run.wbuf = w, run.rbuf = r;
    for (auto &c : runs_in(T + "mismatch.txt")) {
        memcpy(r, w, sizeof r);
        if (isdigit(c.argv[1][0])) r[std::stoi(c.argv[1])] = 0x07;
        std::string out, f = c.argv[0];
        int st = in_child(
            [&] {
                errno = EBADF;
                if (f == "compare") return compare(run, 16, 4096);
                if (f == "compare_fill") return compare_fill(run, 16, 4096, 0x5a);
                errno = ENOSPC, report_error(c.argv[1].c_str());
            },
            &out);
        EXPECT_TRUE(st == c.status && out == c.out) << c.line << ": " << out;
    }
}

TEST(DhUnit, WholeOptionsDecideReadOnly)
{
    auto word = [](const std::string &w) { return w == "-" ? nullptr : w.c_str(); };
    for (auto &c : runs_in(T + "select.txt")) {
        Settings set;
        set.max_filesz = 512;
        set.device_only = word(c.argv[5]);
        mount_entry e = {"/dev/x", c.argv[3], c.argv[1], c.argv[2]};
        EXPECT_EQ(mlist_select(set, e, word(c.argv[4]), "rw"), c.status) << c.line;
    }
}
