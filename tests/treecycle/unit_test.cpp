// The status protocol, the tool helpers and the arithmetic of the command
// line, with real child processes and real files.
#include "libsupport/support.h"
#include "tests/support/libstate.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"
#include "treecycle/treecycle.h"

#include <climits>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace
{
struct Tc : ::testing::Test {
    TempDir t{"tc"};
    void SetUp() override { reset_libsupport("treecycle"); }
};

// A child for the code under test to wait for: it exits with `how`, or is
// killed by the signal -how.
pid_t child_ending(int how)
{
    fflush(nullptr);
    pid_t p = fork();
    if (p == 0) {
        if (how < 0) raise(-how);
        _exit(how);
    }
    return p;
}

std::string captured(const std::function<int()> &f, int *result)
{
    testing::internal::CaptureStderr();
    *result = f();
    return testing::internal::GetCapturedStderr();
}

TEST_F(Tc, ChildStatusesAndTheirReports)
{
    // clang-format off
    struct { int how, status; const char *report; } cases[] = {
        {0, 0, ""}, {121, 121, ""}, {122, 122, ""}, {1, 124, "{signal=0, exit=1}"},
        {2, 124, "{signal=0, exit=2}"}, {123, 124, "{signal=0, exit=123}"},
        {-SIGKILL, 123, "{signal=9, exit=0}"}, {-SIGTERM, 123, "{signal=15, exit=0}"}};
    // clang-format on
    for (auto &c : cases) {
        int st, r;
        waitpid(child_ending(c.how), &st, 0);
        EXPECT_EQ(map_status(st), c.status) << c.how;
        child_ending(c.how);
        std::string err = captured([] { return guard_wait("diff"); }, &r);
        EXPECT_EQ(r, c.status) << c.how;
        EXPECT_EQ(err, *c.report
                           ? "treecycle: diff failed; status = " + std::string(c.report) + "\n"
                           : "");
    }
    int r;
    EXPECT_EQ(captured([] { return guard_wait("rm"); }, &r),
              "treecycle: wait() failed; 10=[ECHILD] No child processes\n");
    EXPECT_EQ(r, 124);
}

TEST_F(Tc, FailedForks)
{
    // clang-format off
    struct { int err, status; const char *report; } cases[] = {
        {EAGAIN, 121, "11=[EAGAIN] Resource temporarily unavailable"},
        {ENOMEM, 121, "12=[ENOMEM] Cannot allocate memory"}, {EPERM, 124, "1=[EPERM] Operation not permitted"}};
    // clang-format on
    for (auto &c : cases) {
        int r;
        errno = c.err;
        EXPECT_EQ(captured(fail_fork, &r),
                  "treecycle: fork() failed; " + std::string(c.report) + "\n");
        EXPECT_EQ(r, c.status);
    }
}

// (A directory that exists already, and removing and moving that succeeds,
// are in the whole runs.)
TEST_F(Tc, GuardedCallsAndTools)
{
    EXPECT_EXIT(guard_chdir("/from", (t / "none").c_str()), ::testing::ExitedWithCode(1),
                "^treecycle: !ERROR: chdir\\('.*/none'\\) \\[from /from\\] failed; 2=\\[ENOENT\\]");
    EXPECT_EXIT(guard_chdir(nullptr, (t / "none").c_str()), ::testing::ExitedWithCode(1),
                "^treecycle: !ERROR: chdir\\('.*/none'\\) failed; 2=\\[ENOENT\\]");
    // Nothing there: no remover is started (there would be no child to wait for).
    EXPECT_EQ(nuke_directory((t / "none").c_str()), 0);
    int r;
    std::string err = captured([&] { return run_mv((t / "none").c_str(), (t / "x").c_str()); }, &r);
    EXPECT_EQ(r, 124);
    EXPECT_TRUE(ends_with(err, "treecycle: mv failed; status = {signal=0, exit=1}\n")) << err;
}

// Beyond the process limit exec fails with EAGAIN: ten attempts, then 122.
// Any other exec failure ends the child with 124 at once.
TEST_F(Tc, ToolStartRetriesOnlyAShortage)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change user";
    // The user must already run a process when the tool's child becomes it.
    fflush(nullptr);
    pid_t holder = fork();
    if (holder == 0) {
        if (setgid(65534) == 0 && setuid(65534) == 0) pause();
        _exit(99);
    }
    usleep(100000);
    int st = in_child([] {
        rlimit rl = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &rl) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(99);
        const char *argv[] = {"true", nullptr};
        exec_tool("/bin/true", argv, 0);
    });
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(st, 122);
    EXPECT_EQ(in_child([] {
                  const char *argv[] = {"none", nullptr};
                  exec_tool("/nonexistent/tool", argv);
              }),
              124);
}

// The edges of the counts: at least 8K per instance beyond the copies, free
// space beyond 2 TiB, trees beyond 2 GiB, a reserve above the free space.
TEST(TcArith, InstanceCounts)
{
    // clang-format off
    struct { long long avail, used; int n; } space[] = {
        {990, 100, 1}, {549, 100, 0}, {550, 100, 1}, {80, 0, 10}, {88, 1, 6},
        {3LL << 30, 1, 247786574}, {1LL << 50, 0, INT_MAX}, {20LL << 30, 4LL << 20, 930},
        {-100, 10, 0}, {-1, 0, 0}};
    struct { long long total; int per, n; } procs[] = {
        {1000, 25, 36}, {1000, 7, 128}, {100, 25, 0}, {50, 25, 0}, {-1, 25, -1}, {1000, 0, -1},
        {4000000000LL, 1, INT_MAX}};
    // clang-format on
    for (auto &c : space) EXPECT_EQ(instances_for_space(c.avail, c.used), c.n) << c.avail;
    for (auto &c : procs) EXPECT_EQ(instances_for_processes(c.total, c.per), c.n) << c.total;
    // An unknown process limit (-1) leaves the count to the disk space.
    for (auto [disk, by_procs, n] : {std::tuple{425, -1, 425}, {425, 0, 0}, {10, 36, 10}})
        EXPECT_EQ(combine_instance_counts(disk, by_procs), n);
}

} // namespace
