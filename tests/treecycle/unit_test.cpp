// The status protocol, the tool helpers and the arithmetic of the command
// line, with real child processes and real files.
#include "libsupport/support.h"
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
// The program-wide state these tests touch, as main leaves it.
struct Tc : ::testing::Test {
    TempDir t{"tc"};
    void SetUp() override
    {
        program_name = "treecycle";
        trace1 = stderr;
        trace2 = nullptr;
        trace2_fname = nullptr;
        opt_commit = 1;
        fault_cpio = fault_diff = fault_file_add = fault_file_drop = 0;
        tool_retry_pause = 10;
    }
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
    struct {
        int how, status;
        const char *report;
    } cases[] = {
        {0, 0, ""},
        {121, 121, ""},
        {122, 122, ""},
        {1, 124, "{signal=0, exit=1}"},
        {2, 124, "{signal=0, exit=2}"},
        {123, 124, "{signal=0, exit=123}"},
        {-SIGKILL, 123, "{signal=9, exit=0}"},
        {-SIGTERM, 123, "{signal=15, exit=0}"},
    };
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
    struct {
        int err, status;
        const char *report;
    } cases[] = {{EAGAIN, 121, "11=[EAGAIN] Resource temporarily unavailable"},
                 {ENOMEM, 121, "12=[ENOMEM] Cannot allocate memory"},
                 {EPERM, 124, "1=[EPERM] Operation not permitted"}};
    for (auto &c : cases) {
        int r;
        errno = c.err;
        EXPECT_EQ(captured(fail_fork, &r),
                  "treecycle: fork() failed; " + std::string(c.report) + "\n");
        EXPECT_EQ(r, c.status);
    }
}

TEST_F(Tc, GuardedCallsAndTools)
{
    guard_mkdir((t / "d").c_str(), 0777);
    EXPECT_TRUE(file_exists(t / "d"));
    EXPECT_EXIT(guard_mkdir((t / "d").c_str(), 0777), ::testing::ExitedWithCode(124),
                "^treecycle: !ERROR: mkdir\\('.*/d',777\\) failed; 17=\\[EEXIST\\] File exists\n$");
    EXPECT_EXIT(guard_chdir("/from", (t / "none").c_str()), ::testing::ExitedWithCode(1),
                "^treecycle: !ERROR: chdir\\('.*/none'\\) \\[from /from\\] failed; 2=\\[ENOENT\\]");
    EXPECT_EXIT(guard_chdir(nullptr, (t / "none").c_str()), ::testing::ExitedWithCode(1),
                "^treecycle: !ERROR: chdir\\('.*/none'\\) failed; 2=\\[ENOENT\\]");

    make_tree(t / "tree", {{"a/", ""}, {"a/b", "x"}, {"c", "y"}});
    EXPECT_EQ(nuke_directory((t / "tree").c_str()), 0);
    EXPECT_FALSE(file_exists(t / "tree"));
    // Nothing there: no remover is started (there would be no child to wait for).
    EXPECT_EQ(nuke_directory((t / "tree").c_str()), 0);
    write_file(t / "core", "c");
    EXPECT_EQ(run_mv((t / "core").c_str(), (t / "core.1").c_str()), 0);
    EXPECT_EQ(read_file(t / "core.1"), "c");
    int r;
    std::string err = captured([&] { return run_mv((t / "core").c_str(), (t / "x").c_str()); }, &r);
    EXPECT_EQ(r, 124);
    EXPECT_TRUE(ends_with(err, "treecycle: mv failed; status = {signal=0, exit=1}\n")) << err;
}

// Beyond the process limit exec fails with EAGAIN: ten attempts, then 122.
// Any other exec failure ends the child with 124 at once.
TEST_F(Tc, ToolStartRetriesOnlyAShortage)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change user";
    tool_retry_pause = 0;
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
        exec_tool("/bin/true", argv);
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

TEST(TcArith, InstanceCounts)
{
    struct {
        long long avail, used;
        int n;
    } space[] = {
        {990, 100, 1},
        {549, 100, 0},
        {550, 100, 1},
        {80, 0, 10},
        {88, 1, 6}, // at least 8K per instance beyond the copies
        {3LL << 30, 1, 247786574},
        {1LL << 50, 0, INT_MAX},
        {20LL << 30, 4LL << 20, 930},
        {-100, 10, 0},
        {-1, 0, 0}, // a reserve above the free space, or no free space known
    };
    for (auto &c : space) EXPECT_EQ(instances_for_space(c.avail, c.used), c.n) << c.avail;
    struct {
        long long total;
        int per, n;
    } procs[] = {{1000, 25, 36},
                 {1000, 7, 128},
                 {100, 25, 0},
                 {50, 25, 0},
                 {-1, 25, -1},
                 {1000, 0, -1},
                 {4000000000LL, 1, INT_MAX}};
    for (auto &c : procs) EXPECT_EQ(instances_for_processes(c.total, c.per), c.n) << c.total;
    // An unknown process limit (-1) leaves the count to the disk space.
    for (auto [disk, by_procs, n] :
         {std::tuple{425, -1, 425}, {425, 0, 0}, {10, 36, 10}, {0, 36, 0}})
        EXPECT_EQ(combine_instance_counts(disk, by_procs), n);
}

// The draws of srandom(1) are 4, 2, 3, 1: one per fault option, in order.
TEST_F(Tc, OptionsAndFaultDraws)
{
    const char *a1[] = {"treecycle",        "-fault-diff", "-fault-cpio", "-fault-file-add",
                        "-fault-file-drop", "src",         nullptr};
    srandom(1);
    int unknown;
    EXPECT_EQ(parse_options(6, (char **)a1, &unknown), 5);
    EXPECT_EQ(unknown, 0);
    EXPECT_EQ(std::vector<int>({fault_diff, fault_cpio, fault_file_add, fault_file_drop}),
              std::vector<int>({4, 2, 3, 1}));
    const char *a2[] = {"treecycle", "-fault-cpio", "-fault-diff", "-x", "-n", "s", nullptr};
    srandom(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_options(6, (char **)a2, &unknown), 5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "!ERROR: treecycle: Unknown option, '-x'.\n");
    EXPECT_EQ(unknown, 1);
    EXPECT_EQ(fault_cpio, 4);
    EXPECT_EQ(fault_diff, 2);
    EXPECT_EQ(opt_commit, 0);
    snprintf(start_cwd, sizeof start_cwd, "/export/test");
    EXPECT_STREQ(get_directory("data"), "/export/test/data");
    EXPECT_STREQ(get_directory("/abs/x"), "/abs/x");
}

} // namespace
