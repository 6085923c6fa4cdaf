// The status protocol, the tool helpers and the arithmetic of the command
// line, with real child processes and real files.
#include "libsupport/support.h"
#include "tests/support/libstate.h"
#include "tests/support/process.h"
#include "tests/support/runarea.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"
#include "treecycle/treecycle.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
struct Tc : ::testing::Test {
    TempDir t{"tc"};
    void SetUp() override { reset_libsupport("treecycle"); }
};

// The calls of transcripts/calls.txt to the functions named.
std::vector<RunSpec> calls(std::initializer_list<std::string> fns)
{
    static const std::string known[] = {"exit",  "kill",  "wait",   "fork",
                                        "space", "procs", "combine"};
    std::vector<RunSpec> some;
    for (RunSpec &c : runs_in("tests/treecycle/transcripts/calls.txt")) {
        EXPECT_NE(std::find(std::begin(known), std::end(known), c.argv[0]), std::end(known))
            << c.line;
        if (std::find(fns.begin(), fns.end(), c.argv[0]) != fns.end()) some.push_back(c);
    }
    EXPECT_FALSE(some.empty());
    return some;
}

TEST_F(Tc, ChildStatusesAndTheirReports)
{
    for (const RunSpec &c : calls({"exit", "kill", "wait"})) {
        int how = c.argv[0] == "wait" ? 0 : std::stoi(c.argv[1]) * (c.argv[0] == "kill" ? -1 : 1);
        int st, r;
        if (c.argv[0] != "wait") {
            waitpid(child_ending(how), &st, 0);
            EXPECT_EQ(map_status(st), c.status) << c.line;
            child_ending(how);
        }
        EXPECT_EQ(stderr_of([&] { r = guard_wait("diff"); }), c.err) << c.line;
        EXPECT_EQ(r, c.status) << c.line;
    }
}

TEST_F(Tc, FailedForks)
{
    for (const RunSpec &c : calls({"fork"})) {
        int r;
        errno = std::stoi(c.argv[1]);
        EXPECT_EQ(stderr_of([&] { r = fail_fork(); }), c.err) << c.line;
        EXPECT_EQ(r, c.status) << c.line;
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
    std::string err = stderr_of([&] { r = run_mv((t / "none").c_str(), (t / "x").c_str()); });
    EXPECT_EQ(r, 124);
    EXPECT_TRUE(ends_with(err, "treecycle: mv failed; status = {signal=0, exit=1}\n")) << err;
}

// Beyond the process limit exec fails with EAGAIN: ten attempts, then 122.
// Any other exec failure ends the child with 124 at once.
TEST_F(Tc, ToolStartRetriesOnlyAShortage)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change user";
    // The user must already run a process when the tool's child becomes it.
    pid_t holder = spawn({"/bin/sleep", "60"}, "/", "/dev/null", "/dev/null", become_nobody);
    ASSERT_TRUE(poll_until(5, [] { return tasks_of(nobody) > 0; }));
    int st = in_child([] {
        rlimit rl = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &rl) != 0) _exit(99);
        become_nobody();
        const char *argv[] = {"true", nullptr};
        exec_tool("/bin/true", argv, 0);
    });
    wait_for(holder, 0, SIGKILL);
    EXPECT_EQ(st, 122);
    EXPECT_EQ(in_child([] {
                  const char *argv[] = {"none", nullptr};
                  exec_tool("/nonexistent/tool", argv);
              }),
              124);
}

TEST(TcArith, InstanceCounts)
{
    for (const RunSpec &c : calls({"space", "procs", "combine"})) {
        long long a = std::stoll(c.argv[1]), b = std::stoll(c.argv[2]);
        int n = c.argv[0] == "space"   ? instances_for_space(a, b)
                : c.argv[0] == "procs" ? instances_for_processes(a, (int)b)
                                       : combine_instance_counts((int)a, (int)b);
        EXPECT_EQ(n, c.status) << c.line;
    }
}

} // namespace
