// The pieces of diskhammer that a run cannot show in isolation: the values
// of size ranges, the 64-bit size sequence at the ends of the range, the
// mismatch report with a stale errno, and whole-option matching.
#include "diskhammer/diskhammer.h"
#include "platform/mounts.h"
#include "tests/support/process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace
{

// The settings are program-wide: each test leaves them as it found them.
class DhUnit : public ::testing::Test
{
    long long f0 = min_filesz, f1 = max_filesz, t0 = min_transz, t1 = max_transz;
    int r = nrandom;
    const char *dev = device_only;

  protected:
    void TearDown() override
    {
        min_filesz = f0, max_filesz = f1, min_transz = t0, max_transz = t1;
        nrandom = r, device_only = dev;
        wbuf = rbuf = nullptr;
    }
};

} // namespace

TEST_F(DhUnit, RangesAndUnits)
{
    const struct {
        const char *text;
        long long min, max;
    } cases[] = {{"512:512", 512, 512},
                 {"64k:1m", 65536, 1048576},
                 {"1g:1G", 1073741824, 1073741824},
                 {"2147483647:2147483647", 2147483647, 2147483647},
                 {"1024b:3K", 1024, 3072}};
    for (auto &c : cases) {
        long long lo = 0, hi = 0;
        parse_min_max(c.text, &lo, &hi);
        EXPECT_TRUE(lo == c.min && hi == c.max) << c.text << ": " << lo << " " << hi;
    }
}

TEST_F(DhUnit, SizeSequencesStayInRangeAndEnd)
{
    // cycles: the defaults make 11 (the last size 3143680); from 2^30 the
    // increments 2048, 4096, ... pass 2^31 - 1 after 20; -1 for "any".
    const struct {
        int random;
        long long fmin, fmax, tmin, tmax;
        int cycles;
    } cases[] = {{0, 1048576, 4194304, 1024, 65536, 11},
                 {0, 1073741824, 2147483647, 1073741824, 1073741824, 20},
                 {1, 512, 2147483647, 512, 2147483647, -1}};
    for (auto &c : cases) {
        nrandom = c.random;
        min_filesz = c.fmin, max_filesz = c.fmax, min_transz = c.tmin, max_transz = c.tmax;
        srand(7);
        size_seq s{min_filesz, file_incr, min_transz};
        int cycles = 0;
        for (; s.size != 0 && cycles < 100000; cycles++) {
            ASSERT_TRUE(s.size > 0 && s.size <= c.fmax) << s.size;
            ASSERT_TRUE(s.transfer >= c.tmin && s.transfer <= c.tmax) << s.transfer;
            next_sizes(&s);
        }
        EXPECT_LT(cycles, 100000);
        EXPECT_TRUE(c.cycles < 0 || cycles == c.cycles) << c.fmin << ": " << cycles;
    }
}

TEST_F(DhUnit, MismatchAndFailedCallReports)
{
    static unsigned char w[16], r[16];
    memset(w, 0x5a, sizeof w);
    wbuf = w, rbuf = r;
    // Against the expected chunk (raw slices) and against its one byte value
    // (files); -1: the chunk read back is whole.
    const struct {
        int at, fill;
        const char *out;
    } cases[] = {
        {-1, 0, ""},
        {-1, 1, ""},
        {9, 0, "\n!ERROR: compare read/write: Byte 4105 differs: 5a to 7\n"},
        {9, 1, "\n!ERROR: compare read/write: Byte 4105 differs: 5a to 7\n"},
        {0, 1, "\n!ERROR: compare read/write: Byte 4096 differs: 5a to 7\n"},
        {15, 1, "\n!ERROR: compare read/write: Byte 4111 differs: 5a to 7\n"},
    };
    std::string out;
    for (auto &c : cases) {
        memcpy(r, w, sizeof r);
        if (c.at >= 0) r[c.at] = 0x07;
        static bool fill;
        fill = c.fill;
        // errno as a refused lockf on the read-only descriptor leaves it.
        int st = in_child(
            [] { errno = EBADF, fill ? compare_fill(16, 4096, 0x5a) : compare(16, 4096); }, &out);
        EXPECT_EQ(st, c.at < 0 ? 0 : 1) << c.at << " " << c.fill;
        EXPECT_EQ(out, c.out) << c.at << " " << c.fill;
    }
    EXPECT_EQ(in_child([] { errno = ENOSPC, report_error("write"); }, &out), 1);
    EXPECT_EQ(out, "\n!ERROR: No space left on device\n");
}

TEST_F(DhUnit, WholeOptionsDecideReadOnly)
{
    max_filesz = 512;
    const struct {
        const char *fstype, *opts, *mountp, *type, *device;
        int selected;
    } cases[] = {
        {"ext4", "rw,errors=remount-ro,commit=30", "/", nullptr, nullptr, 1},
        {"ext4", "rw,rootcontext=system_u:object_r:tmp_t:s0", "/", nullptr, nullptr, 1},
        {"ext4", "ro,relatime", "/", nullptr, nullptr, 0},
        {"ext4", "relatime,ro", "/", nullptr, nullptr, 0},
        {"ext4", "ro", "/", nullptr, nullptr, 1}, // exactly "ro" reads as read-write
        {"ext4", "rw", "/", "tmpfs", nullptr, 0},
        {"nfs4", "rw", "/", "nfs", nullptr, 1},
        {"ext4", "rw", "/", nullptr, "/dev/y", 0},
        // With -D another device is not measured, so it cannot end the run.
        {"ext4", "rw", "/nonexistent", nullptr, "/dev/y", 0},
        {"ext4", "rw", "/", nullptr, "/dev/x", 1},
    };
    for (auto &c : cases) {
        device_only = c.device;
        EXPECT_EQ(mlist_select({"/dev/x", c.mountp, c.fstype, c.opts}, c.type, "rw"), c.selected)
            << c.fstype << " " << c.opts << " " << c.mountp;
    }
}
