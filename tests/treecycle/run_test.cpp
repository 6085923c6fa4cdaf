// Whole runs: the run log, the target afterwards, the control files and the
// command-line forms.
#include "tests/treecycle/tc_env.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

static std::string header(const TcEnv &e, const std::string &limit_line, int inst)
{
    return "Source      directory: " + e.src + "\n" + "Destination directory: " + e.dst + "\n" +
           limit_line + "\n" + "Concurrent  instances: " + std::to_string(inst) + "\n";
}

TEST(TreecycleRun, CleanRunOfThreeIterations)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({e.src, e.dst, "3", "2"});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string log = e.run_log(), bad;
    std::string norm = normalize_events(log, &bad);
    EXPECT_EQ(bad, "");
    EXPECT_EQ(norm, header(e, "Iterations           : 3", 2) + "<EV>Start.\n"
                                                               "<EV>Iteration 001 complete.\n"
                                                               "<EV>Iteration 002 complete.\n"
                                                               "<EV>Iteration 003 complete.\n"
                                                               "<EV>!PASS: Done.\n");
    // Standard error gets the same lines as the run log.
    EXPECT_EQ(r.err, log);
    // Only the log directory is left, with one log per single.
    EXPECT_EQ(dir_entries(e.dst), std::vector<std::string>{"log"});
    EXPECT_EQ(dir_entries(e.dst + "/log").size(), 30u);
    // A passed job logs only the archiver's own report.
    EXPECT_EQ(without_cpio_report(read_file(e.dst + "/log/TRC7.003.002.5.log")), "");
    // The run log is /var/tmp/TRC7.<pid>.log and the pid file names that pid.
    std::string pid = read_file(e.top + "/TRC7.pid");
    EXPECT_EQ(e.run_log_path(), "/var/tmp/TRC7." + pid.substr(0, pid.size() - 1) + ".log");
    EXPECT_EQ(read_file(e.top + "/TRC7.term"), "kill -s TERM -- -" + pid);
    EXPECT_TRUE(file_exists("/var/tmp/TRC7." + pid.substr(0, pid.size() - 1) + ".srcfiles"));
}

TEST(TreecycleRun, SourceListIsDepthFirstWithoutDotSlash)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-nofsck", e.src, e.dst, "1", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string pid = read_file(e.top + "/TRC7.pid");
    auto l = split_lines(read_file("/var/tmp/TRC7." + pid.substr(0, pid.size() - 1) + ".srcfiles"));
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[0], ".");
    auto pos = [&](const std::string &n) { return std::find(l.begin(), l.end(), n) - l.begin(); };
    EXPECT_LT(pos("sub"), pos("sub/b.txt"));
    EXPECT_LT(pos("sub/deeper"), pos("sub/deeper/c.txt"));
    EXPECT_LT(pos("a.txt"), (long)l.size());
    EXPECT_LT(pos("empty"), (long)l.size());
}

TEST(TreecycleRun, SourceListStaysOnTheSourceFileSystem)
{
    TcEnv e;
    TC_INIT(e);
    ASSERT_TRUE(e.ns.tmpfs(e.src + "/mnt", "tmpfs", "size=1m"));
    write_file(e.src + "/mnt/inner", "other file system\n");
    // No instances: the list is written, nothing is copied.
    RunResult r = e.tc({"-nofsck", e.src, e.dst, "1", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string pid = read_file(e.top + "/TRC7.pid");
    std::string list = read_file("/var/tmp/TRC7." + pid.substr(0, pid.size() - 1) + ".srcfiles");
    EXPECT_FALSE(contains(list, "mnt/")) << list;
    EXPECT_TRUE(contains(list, "sub/deeper/c.txt\n")) << list;
}

TEST(TreecycleRun, TermFileEndsTheTreeOfASetsidRun)
{
    TcEnv e;
    TC_INIT(e);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t p = spawn({bin_path("treecycle"), "-nofsck", e.src, e.dst, "0:01:00", "3"}, e.run,
                    e.tmp / "out", e.tmp / "err", [] { setsid(); });
    // Wait until the doubles are at work.
    bool busy = false;
    for (int i = 0; i < 500 && !busy; i++) {
        busy = file_exists(e.dst + "/dcout.003") && file_exists(e.top + "/TRC7.term");
        usleep(10000);
    }
    ASSERT_TRUE(busy) << read_file(e.tmp / "err");
    std::string out;
    EXPECT_EQ(shell("cd " + e.run + " && sh ../TRC7.term", &out), 0) << out;
    int st = wait_for(p, 20);
    ASSERT_TRUE(WIFSIGNALED(st)) << st;
    EXPECT_EQ(WTERMSIG(st), SIGTERM);
    // Every process of the group ends: reap what comes to us, until none is left.
    bool gone = false;
    for (int i = 0; i < 500 && !gone; i++) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        gone = kill(-p, 0) != 0 && errno == ESRCH;
        if (!gone) usleep(10000);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    EXPECT_TRUE(gone);
}

TEST(TreecycleRun, StopFileEndsTheRunWithoutItsIterationLine)
{
    TcEnv e;
    TC_INIT(e);
    write_file(e.top + "/stop", "");
    RunResult r = e.tc({e.src, e.dst, "5", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string bad;
    EXPECT_EQ(normalize_events(e.run_log(), &bad),
              header(e, "Iterations           : 5", 1) + "<EV>Start.\n<EV>!PASS: Done.\n");
    // The iteration itself ran.
    EXPECT_TRUE(file_exists(e.dst + "/log/TRC7.001.001.5.log"));
}

TEST(TreecycleRun, FailureMarkerOfASiblingRunEndsThisRun)
{
    TcEnv e;
    TC_INIT(e);
    // An old marker is removed at the start...
    write_file(e.top + "/TRC7.failed", "");
    pid_t p = spawn({bin_path("treecycle"), e.src, e.dst, "0:01:00", "1"}, e.run, e.tmp / "out",
                    e.tmp / "err");
    ASSERT_TRUE(wait_for_text(e.tmp / "err", "Iteration 001 complete.", 30));
    EXPECT_FALSE(file_exists(e.top + "/TRC7.failed"));
    // ...one that a sibling run leaves during the run ends it at the next iteration.
    write_file(e.top + "/TRC7.failed", "");
    int st = wait_for(p, 30);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    std::string err = read_file(e.tmp / "err");
    EXPECT_LE(count_of(err, " complete.\n"), 2) << err;
    EXPECT_TRUE(ends_with(err, ": !PASS: Done.\n")) << err;
}

TEST(TreecycleRun, SecondRunInTheSameTargetStopsAtTheLogDirectory)
{
    TcEnv e;
    TC_INIT(e);
    ASSERT_EQ(e.tc({e.src, e.dst, "1", "1"}).status, 0);
    RunResult r = e.tc({e.src, e.dst, "1", "1"});
    EXPECT_EQ(r.status, 124);
    EXPECT_EQ(r.err, "treecycle: !ERROR: mkdir('" + e.dst +
                         "/log',777) failed; 17=[EEXIST] File exists\n");
}

TEST(TreecycleRun, TimeLimitShorterThanAnIterationRunsOne)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({e.src, e.dst, "0:00:01", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string bad;
    EXPECT_EQ(normalize_events(e.run_log(), &bad),
              header(e, "Time limit           :    0:00:01 (1 sec)", 1) +
                  "<EV>Start.\n<EV>Iteration 001 complete.\n<EV>!PASS: Done.\n");
}

TEST(TreecycleRun, ZeroIterationsRunOne)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({e.src, e.dst, "0", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string bad;
    EXPECT_EQ(normalize_events(e.run_log(), &bad),
              header(e, "Iterations           : 0", 1) +
                  "<EV>Start.\n<EV>Iteration 001 complete.\n<EV>!PASS: Done.\n");
}

TEST(TreecycleRun, DashNPrintsTheCountAndWritesNothing)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-n", e.src, e.dst, "5", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(dir_entries(e.dst).empty());
    EXPECT_TRUE(dir_entries("/var/tmp").empty());
    EXPECT_EQ(dir_entries(e.top), (std::vector<std::string>{"dst", "run", "src"}));
}

TEST(TreecycleRun, RelativeSourceAndTargetAreMadeAbsolute)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"src", "dst", "1", "1"}, 60, e.top);
    EXPECT_EQ(r.status, 0) << r.err;
    auto l = split_lines(e.run_log());
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[0], "Source      directory: " + e.top + "/src");
    EXPECT_EQ(l[1], "Destination directory: " + e.top + "/dst");
    EXPECT_EQ(dir_entries(e.dst), std::vector<std::string>{"log"});
}

TEST(TreecycleRun, VerboseRunDumpsTheJobTables)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-v", e.src, e.dst, "1", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");
    EXPECT_TRUE(contains(r.err, "max_iterations = 1, time_limit = -1\n"));
    EXPECT_TRUE(contains(r.err, "TRC7 " + e.run + " 1 1\n"));
    std::string d = e.dst;
    EXPECT_TRUE(contains(e.run_log(), "single_info:\n"
                                      "  1 src_dir=" +
                                          e.src +
                                          "\n"
                                          "    dst_dir=" +
                                          d +
                                          "/tbase.001.1\n"
                                          "    dcout  =" +
                                          d +
                                          "/dcout.001/P1\n"
                                          "  2 src_dir=" +
                                          e.src +
                                          "\n"
                                          "    dst_dir=" +
                                          d +
                                          "/tbase.001.2\n"
                                          "    dcout  =" +
                                          d +
                                          "/dcout.001/P2\n"
                                          "  3 src_dir=" +
                                          d + "/tbase.001.1\n"))
        << e.run_log();
    EXPECT_TRUE(contains(e.run_log(), "tbase:\n   1 tbase=" + d + "/tbase.001.1\n     dcout=" + d +
                                          "/dcout.001/P1\n"));
    EXPECT_TRUE(contains(e.run_log(), "  1 refcount=2, tbase=" + d +
                                          "/tbase.001.1\n"
                                          "  2 refcount=1, tbase=" +
                                          d + "/tbase.001.2\n"));
    EXPECT_TRUE(contains(e.run_log(), "  1 child=0, running=0\n"));
}

TEST(TreecycleArgs, WrongArgumentsAndUnknownOptions)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({e.src, e.dst});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "!ERROR: treecycle: expecting 3 or 4 arguments; got 2.\n"
                     "!ERROR: Usage: treecycle  source-directory  target-directory  iterations  "
                     "[instances]\n");
    r = e.tc({"-bogus", "-v", "-what", e.src, e.dst, "1x", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "!ERROR: treecycle: Unknown option, '-bogus'.\n"
                     "!ERROR: treecycle: Unknown option, '-what'.\n"
                     "!ERROR: treecycle: iterations (argument 3) must be a cardinal number or time "
                     "(0:00:00).\n");
    r = e.tc({"-bogus", "-v", e.src, e.dst, "1:30:00", "x"});
    EXPECT_EQ(r.err, "!ERROR: treecycle: Unknown option, '-bogus'.\n"
                     "max_iterations = -1, time_limit = 5400\n"
                     "!ERROR: treecycle: Instances (argument 4) must be a cardinal number.\n");
    r = e.tc({"-bogus", e.src, e.dst, "2", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "!ERROR: treecycle: Unknown option, '-bogus'.\n");
    r = e.tc({e.src, e.dst, "2", "-disk-reserve"});
    EXPECT_EQ(r.status, 1);
    r = e.tc({"-disk-reserve"});
    EXPECT_EQ(r.err, "treecycle: -disk-reserve option requires an argument\n");
    r = e.tc({"-processes-per-instance", "2147483648", e.src, e.dst, "1"});
    EXPECT_EQ(r.err, "treecycle: -processes-per-instance 2147483648; argument must be <= "
                     "2147483647 (INT_MAX).\n");
    r = e.tc({"-fault-max-instances", "many", e.src, e.dst, "1"});
    EXPECT_EQ(r.err, "treecycle: -fault-max-instances many; argument must be a cardinal number.\n");
    r = e.tc({e.src, e.tmp / "nothere", "1", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "treecycle: " + e.tmp / "nothere" + " does not exist.\n")) << r.err;
}

TEST(TreecycleArgs, CountsAndTimesBeyondAnIntAreRefused)
{
    TcEnv e;
    TC_INIT(e);
    const std::string it3 =
        "!ERROR: treecycle: iterations (argument 3) must be a cardinal number or "
        "time (0:00:00).\n";
    for (std::string big : {"2147483648", "99999999999999999999", "600000:00:00", "35791395:00",
                            "2147483648:00:00"}) {
        RunResult r = e.tc({"-n", e.src, e.dst, big, "1"});
        EXPECT_EQ(r.status, 1) << big;
        EXPECT_EQ(r.err, it3) << big;
    }
    RunResult r = e.tc({"-n", e.src, e.dst, "1", "2147483648"});
    EXPECT_EQ(r.err, "!ERROR: treecycle: Instances (argument 4) must be a cardinal number.\n");
    r = e.tc({"-n", "-v", e.src, e.dst, "2147483647", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "max_iterations = 2147483647, time_limit = -1\n"));
    r = e.tc({"-n", "-v", e.src, e.dst, "596523:14:07", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "max_iterations = -1, time_limit = 2147483647\n"));
}
