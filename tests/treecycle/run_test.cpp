// treecycle end to end: the runs of transcripts/runs.txt, each in a private
// mount namespace of its own, and two runs that another process steers.
#include "tests/support/process.h"
#include "tests/support/runarea.h"
#include "tests/support/text.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// A run's name in the test's name (found by argument-dependent lookup).
static void PrintTo(const RunSpec &r, std::ostream *o)
{
    *o << r.name;
}

namespace
{
// The work area with a small tree.
struct TcEnv : ::testing::Test {
    RunArea a{"tc"};
    const std::string &src = a.src, &dst = a.dst, &run = a.run, &top = a.top;
    void SetUp() override
    {
        // clang-format off
        std::string why = a.lay_out({{"a.txt", "alpha\n"}, {"empty", ""}, {"sub/", ""}, {"sub/b.txt", std::string(20000, 'b')},
                                     {"sub/deeper/", ""}, {"sub/deeper/c.txt", "gamma\n"}});
        // clang-format on
        if (!a.ns.ok()) GTEST_SKIP() << why;
        ASSERT_EQ(why, "");
    }
};

struct Tc : TcEnv, ::testing::WithParamInterface<RunSpec> {
};

TEST_P(Tc, Run)
{
    Values names = a.names();
    names.push_back({"<TC>", bin_path("treecycle")});
    RunOptions o;
    o.cwd = run;
    o.env = {"LC_ALL=C"};
    auto sh = [&](const std::string &cmd) {
        return run_program("/bin/sh", {"-c", fill(cmd, names)}, o);
    };
    const RunSpec &c = GetParam();
    RunResult r = sh(c.cmd);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(match_text(r.out, fill(c.out, names)), "");
    EXPECT_EQ(match_text(r.err, fill(c.err, names)), "");
    EXPECT_EQ(match_text(sh("cat /var/tmp/TRC7.*.log 2>/dev/null").out, fill(c.log, names)), "");
    EXPECT_EQ(match_text(sh(c.look).out, fill(c.seen, names)), "");
}

INSTANTIATE_TEST_SUITE_P(Treecycle, Tc,
                         ::testing::ValuesIn(runs_in("tests/treecycle/transcripts/runs.txt")),
                         [](const auto &info) { return info.param.name; });

// The term file's command ends every process of a run started as a session.
TEST_F(TcEnv, TermFileEndsTheWholeTree)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t p = spawn({bin_path("treecycle"), "-nofsck", src, dst, "0:01:00", "3"}, run,
                    a.tmp / "out", a.tmp / "err", [] { setsid(); });
    ASSERT_TRUE(poll_until(30, [&] {
        return file_exists(dst + "/dcout.003") && file_exists(top + "/TRC7.term");
    })) << read_file(a.tmp / "err");
    EXPECT_EQ(shell("cd " + run + " && sh ../TRC7.term"), 0);
    EXPECT_EQ(wait_for(p, 20, SIGKILL), 128 + SIGTERM);
    EXPECT_TRUE(poll_until(30, [&] {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        return kill(-p, 0) != 0 && errno == ESRCH;
    }));
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// An old failure marker is removed at the start; one that a sibling run
// leaves during the run ends it before its next iteration.
TEST_F(TcEnv, FailureMarkerOfASiblingRun)
{
    write_file(top + "/TRC7.failed", "");
    pid_t p =
        spawn({bin_path("treecycle"), src, dst, "0:01:00", "1"}, run, a.tmp / "out", a.tmp / "err");
    ASSERT_TRUE(
        poll_until(30, [&] { return contains(read_file(a.tmp / "err"), "001 complete."); }));
    EXPECT_FALSE(file_exists(top + "/TRC7.failed"));
    write_file(top + "/TRC7.failed", "");
    EXPECT_EQ(wait_for(p, 30, SIGKILL), 0);
    std::string err = read_file(a.tmp / "err");
    EXPECT_LE(count_of(err, " complete.\n"), 2) << err;
    EXPECT_TRUE(ends_with(err, ": !PASS: Done.\n")) << err;
}

} // namespace
