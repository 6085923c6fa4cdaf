// The pieces of diskhammer that a run cannot show in isolation: size ranges,
// the 64-bit size sequence, the cleanup command's quoting, the mismatch
// report with a stale errno, whole-option matching and the asynchronous
// layer's two back ends.
#include "diskhammer/diskhammer.h"
#include "platform/async_io.h"
#include "platform/mounts.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Runs f in a child with standard output captured; returns its exit status.
template <class F> int run_captured(F f, std::string *out)
{
    char tmpl[] = "/tmp/dh-unit.XXXXXX";
    int fd = mkstemp(tmpl);
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 1);
        f();
        fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *out = read_file(tmpl);
    close(fd);
    unlink(tmpl);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Settings {
    long long f0 = min_filesz, f1 = max_filesz, t0 = min_transz, t1 = max_transz;
    int r = nrandom, d = d_option;
    ~Settings()
    {
        min_filesz = f0, max_filesz = f1, min_transz = t0, max_transz = t1;
        nrandom = r, d_option = d;
    }
};

} // namespace

TEST(DiskhammerSizes, RangesAndUnits)
{
    long long lo = 0, hi = 0;
    parse_min_max("512:512", &lo, &hi);
    EXPECT_EQ(lo, 512);
    EXPECT_EQ(hi, 512);
    parse_min_max("64k:1m", &lo, &hi);
    EXPECT_EQ(lo, 65536);
    EXPECT_EQ(hi, 1048576);
    parse_min_max("1g:1G", &lo, &hi);
    EXPECT_EQ(lo, 1073741824);
    EXPECT_EQ(hi, 1073741824);
    parse_min_max("2147483647:2147483647", &lo, &hi);
    EXPECT_EQ(hi, 2147483647);
    parse_min_max("1024b:3K", &lo, &hi);
    EXPECT_EQ(lo, 1024);
    EXPECT_EQ(hi, 3072);
}

TEST(DiskhammerSizes, HugeNumbersAreRefusedNotWrapped)
{
    std::string out;
    EXPECT_EQ(run_captured(
                  [] {
                      long long a, b;
                      parse_min_max("99999999999999999999999:1k", &a, &b);
                  },
                  &out),
              1);
    EXPECT_NE(out.find("in the range of 512 bytes and 2 Gbytes"), std::string::npos) << out;
    // A count whose product with the unit wraps to 1g in 64 bits.
    out.clear();
    EXPECT_EQ(run_captured(
                  [] {
                      long long a, b;
                      parse_min_max("1k:17179869185g", &a, &b);
                  },
                  &out),
              1);
    EXPECT_NE(out.find("in the range of 512 bytes and 2 Gbytes"), std::string::npos) << out;
    // 4 bytes is below the minimum.
    EXPECT_EQ(run_captured(
                  [] {
                      long long a, b;
                      parse_min_max("4b:1k", &a, &b);
                  },
                  &out),
              1);
}

TEST(DiskhammerSizes, DefaultSequenceDoublesAndEnds)
{
    Settings keep;
    min_filesz = 1048576, max_filesz = 4194304, min_transz = 1024, max_transz = 65536;
    nrandom = 0, d_option = 0;
    size_seq s{min_filesz, file_incr, min_transz};
    std::vector<long long> transfers;
    int cycles = 0;
    while (s.size != 0 && cycles < 100) {
        transfers.push_back(s.transfer);
        next_sizes(&s);
        cycles++;
    }
    EXPECT_EQ(cycles, 11); // last size 3143680; the next, 5240832, is past the maximum
    EXPECT_EQ(transfers[6], 65536);
    EXPECT_EQ(transfers[7], 1024); // above the maximum: back to the minimum
}

TEST(DiskhammerSizes, LargeRangesNeitherOverflowNorLoop)
{
    Settings keep;
    nrandom = 0, d_option = 0;
    min_filesz = 1073741824, max_filesz = 2147483647;
    min_transz = max_transz = 1073741824;
    size_seq s{min_filesz, file_incr, min_transz};
    int cycles = 0;
    while (s.size != 0 && cycles < 1000) {
        EXPECT_GT(s.size, 0);
        EXPECT_LE(s.size, max_filesz);
        EXPECT_EQ(s.transfer, 1073741824); // doubling 1g never goes negative
        next_sizes(&s);
        cycles++;
    }
    EXPECT_LT(cycles, 1000);
    EXPECT_GT(cycles, 15);
}

TEST(DiskhammerSizes, RandomSequenceStaysInRange)
{
    Settings keep;
    nrandom = 1, d_option = 0;
    min_filesz = 512, max_filesz = 2147483647, min_transz = 512, max_transz = 2147483647;
    srand(7);
    size_seq s{min_filesz, file_incr, min_transz};
    int cycles = 0;
    while (s.size != 0 && cycles < 100000) {
        EXPECT_GE(s.transfer, 512);
        EXPECT_LE(s.transfer, max_transz);
        next_sizes(&s);
        cycles++;
    }
    EXPECT_LT(cycles, 100000);
}

TEST(DiskhammerCompare, MismatchIsReportedEvenWithAStaleErrno)
{
    std::string out;
    int status = run_captured(
        [] {
            static unsigned char w[16], r[16];
            memset(w, 0x5a, sizeof w);
            memcpy(r, w, sizeof r);
            r[9] = 0x07;
            wbuf = w, rbuf = r;
            errno = EBADF; // as a refused lockf on the read-only descriptor leaves it
            compare(16, 4096);
        },
        &out);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "\n!ERROR: compare read/write: Byte 4105 differs: 5a to 7\n");
}

TEST(DiskhammerCompare, EqualDataPasses)
{
    static unsigned char w[8] = {1, 2, 3}, r[8] = {1, 2, 3};
    wbuf = w, rbuf = r;
    compare(8, 0); // returns
}

TEST(DiskhammerCompare, FailedCallIsReportedByItsErrorText)
{
    std::string out;
    EXPECT_EQ(run_captured(
                  [] {
                      errno = ENOSPC;
                      report_error("write");
                  },
                  &out),
              1);
    EXPECT_EQ(out, "\n!ERROR: No space left on device\n");
}

TEST(DiskhammerSelect, WholeOptionsDecideReadOnly)
{
    Settings keep;
    max_filesz = 512;
    device_only = nullptr;
    mount_entry e{"/dev/x", "/", "ext4", "rw,errors=remount-ro,commit=30"};
    EXPECT_EQ(mlist_select(e, nullptr, "rw"), 1);
    e.mnt_mntopts = "rw,rootcontext=system_u:object_r:tmp_t:s0";
    EXPECT_EQ(mlist_select(e, nullptr, "rw"), 1);
    e.mnt_mntopts = "ro,relatime";
    EXPECT_EQ(mlist_select(e, nullptr, "rw"), 0);
    e.mnt_mntopts = "relatime,ro";
    EXPECT_EQ(mlist_select(e, nullptr, "rw"), 0);
    e.mnt_mntopts = "ro"; // exactly "ro" reads as read-write
    EXPECT_EQ(mlist_select(e, nullptr, "rw"), 1);
    EXPECT_EQ(mlist_select(e, "tmpfs", "rw"), 0);
    e.mnt_fstype = "nfs4";
    EXPECT_EQ(mlist_select(e, "nfs", "rw"), 1);
    device_only = "/dev/y";
    EXPECT_EQ(mlist_select(e, nullptr, "rw"), 0);
    e.mnt_mountp = "/nonexistent"; // with -D another device is not even measured
    EXPECT_EQ(mlist_select(e, nullptr, "rw"), 0);
    device_only = nullptr;
}

class AsyncIo : public ::testing::TestWithParam<bool>
{
};

// The same transfers through io_uring and through the POSIX fallback, in a
// child so that forcing the fallback stays there.
TEST_P(AsyncIo, WritesAndReadsAtOffsets)
{
    TempDir t("dhaio");
    std::string path = t / "f";
    bool posix = GetParam();
    std::string out;
    int status = run_captured(
        [&] {
            if (posix) aio_force_posix();
            printf("%s\n", aio_backend());
            int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
            aio_result_t r;
            const char a[] = "hello", b[] = "world";
            if (aiowrite(fd, a, 5, 0, SEEK_SET, &r) != 0 || aiowait(nullptr) != &r ||
                r.aio_return != 5)
                _exit(2);
            if (aiowrite(fd, b, 5, 5, SEEK_SET, &r) != 0 || aiowait(nullptr) != &r) _exit(3);
            char buf[16] = {};
            if (aioread(fd, buf, 10, 0, SEEK_SET, &r) != 0 || aiowait(nullptr) != &r ||
                r.aio_return != 10 || memcmp(buf, "helloworld", 10) != 0)
                _exit(4);
            // Past the end: 0 bytes; on a bad descriptor: -1 and EBADF.
            if (aioread(fd, buf, 4, 100, SEEK_SET, &r) != 0 || aiowait(nullptr) != &r ||
                r.aio_return != 0)
                _exit(5);
            int started = aioread(-1, buf, 4, 0, SEEK_SET, &r);
            if (started == 0 &&
                (aiowait(nullptr) != &r || r.aio_return != -1 || r.aio_errno != EBADF))
                _exit(6);
            // Nothing outstanding: nothing to wait for.
            if (aiowait(nullptr) != (aio_result_t *)-1) _exit(7);
        },
        &out);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, posix ? "posix\n" : "io_uring\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, AsyncIo, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "posix" : "io_uring"; });
