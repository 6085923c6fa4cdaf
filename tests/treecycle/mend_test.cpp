// Faults of the original behaviour that this program does not have: a
// resource status hiding a failure, links followed by the source list,
// unknown or odd process limits, planted links at work-file paths, a target
// that fills up.
#include "tests/treecycle/tc_env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

// The comparison of job 2 ends with a resource status, that of job 4 finds
// a real difference ("-fault-file-add" picks job 4); `first` says which of
// the two ends first.
static void failure_and_shortage(const std::string &first)
{
    TcEnv e;
    TC_INIT(e);
    std::string d = e.tmp.path;
    ASSERT_EQ(shell("cp /usr/bin/diff " + d + "/realdiff"), 0);
    write_file(d + "/diff",
               "#!/bin/sh\n"
               "case \"$3\" in\n"
               "*tbase.001.2) sleep " +
                   std::string(first == "failure" ? "1" : "0") +
                   "; exit 121;;\n"
                   "*tbase.001.4) sleep " +
                   std::string(first == "failure" ? "0" : "1") +
                   ";;\n"
                   "esac\n"
                   "exec " +
                   d + "/realdiff \"$@\"\n",
               0755);
    ASSERT_TRUE(e.ns.bind(d + "/diff", "/usr/bin/diff"));
    RunResult r = e.tc({"-fault-file-add", e.src, e.dst, "2", "1"});
    EXPECT_EQ(r.status, 1) << r.err;
    std::string bad, norm = normalize_events(e.run_log(), &bad);
    EXPECT_EQ(count_of(norm, "<EV>Failed.\n"), 1) << norm;
    EXPECT_FALSE(contains(norm, "!PASS"));
    EXPECT_FALSE(contains(norm, "ran out of resources"));
    EXPECT_TRUE(contains(norm, "treecycle: !ERROR: TRC7_double() got error TRC7_ERROR"));
    EXPECT_TRUE(file_exists(e.top + "/TRC7.failed"));
    // The evidence stays.
    EXPECT_EQ(read_file(e.dst + "/dcout.001/P4"), "Only in " + e.dst + "/tbase.001.4: fault\n");
    for (int k = 1; k <= 5; k++)
        EXPECT_TRUE(file_exists(e.dst + "/tbase.001." + std::to_string(k)));
}

TEST(TreecycleMend, FailureAfterShortageIsNotHidden)
{
    failure_and_shortage("shortage");
}
TEST(TreecycleMend, ShortageAfterFailureIsNotHidden)
{
    failure_and_shortage("failure");
}

TEST(TreecycleMend, LinkToADirectoryInsideTheTreePasses)
{
    TcEnv e;
    TC_INIT(e);
    ASSERT_EQ(symlink("sub", (e.src + "/inlink").c_str()), 0);
    RunResult r = e.tc({e.src, e.dst, "1", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(e.run_log(), "!PASS: Done.")) << e.run_log();
    EXPECT_EQ(dir_entries(e.dst), std::vector<std::string>{"log"});
}

TEST(TreecycleMend, LinkToADirectoryOutsideIsLeftUntouched)
{
    TcEnv e;
    TC_INIT(e);
    std::string out = e.top + "/outside";
    make_tree(out, {{"keep.txt", "outside\n"}, {"inner/", ""}, {"inner/x", "x\n"}});
    ASSERT_EQ(symlink(out.c_str(), (e.src + "/outlink").c_str()), 0);
    std::string before;
    ASSERT_EQ(shell("cd " + out + " && ls -lR --full-time .", &before), 0);
    RunResult r = e.tc({e.src, e.dst, "2", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string after;
    ASSERT_EQ(shell("cd " + out + " && ls -lR --full-time .", &after), 0);
    EXPECT_EQ(before, after);
    EXPECT_EQ(dir_entries(out), (std::vector<std::string>{"inner", "keep.txt"}));
    EXPECT_EQ(dir_entries(e.dst), std::vector<std::string>{"log"});
}

// Runs treecycle under the process's own pid from a child that first plants
// a link at `link_of(pid)`.
static RunResult run_with_planted_link(TcEnv &e, const std::vector<std::string> &args,
                                       const std::function<std::string(pid_t)> &link_of,
                                       const std::string &victim)
{
    std::vector<std::string> argv = {bin_path("treecycle")};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t p = spawn(argv, e.run, e.tmp / "out", e.tmp / "err",
                    [&] { (void)!symlink(victim.c_str(), link_of(getpid()).c_str()); });
    int st = wait_for(p, 60);
    RunResult r;
    r.exited = WIFEXITED(st);
    r.status = WEXITSTATUS(st);
    r.out = read_file(e.tmp / "out");
    r.err = read_file(e.tmp / "err");
    return r;
}

TEST(TreecycleMend, PlantedLinkAtTheSourceListIsNotFollowed)
{
    TcEnv e;
    TC_INIT(e);
    std::string victim = e.top + "/victim";
    write_file(victim, "precious\n");
    auto at = [](pid_t p) { return "/var/tmp/TRC7." + std::to_string(p) + ".srcfiles"; };
    RunResult r = run_with_planted_link(e, {e.src, e.dst, "1", "1"}, at, victim);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "!ERROR: open('/var/tmp/TRC7.")) << r.err;
    EXPECT_TRUE(contains(r.err, ".srcfiles',O_CREAT|O_TRUNC|O_WRONLY,0666) failed; 40=[ELOOP]"))
        << r.err;
    EXPECT_EQ(read_file(victim), "precious\n");
}

TEST(TreecycleMend, PlantedLinkAtTheRunLogIsNotFollowed)
{
    TcEnv e;
    TC_INIT(e);
    std::string victim = e.top + "/victim";
    write_file(victim, "precious\n");
    auto at = [](pid_t p) { return "/var/tmp/TRC7." + std::to_string(p) + ".log"; };
    RunResult r = run_with_planted_link(e, {e.src, e.dst, "1", "1"}, at, victim);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, ".log',O_CREAT|O_TRUNC|O_WRONLY|O_APPEND|O_SYNC,0666) failed; "
                                "40=[ELOOP]"))
        << r.err;
    EXPECT_EQ(read_file(victim), "precious\n");
}

TEST(TreecycleMend, PlantedLinkAtThePidFileIsNotFollowed)
{
    TcEnv e;
    TC_INIT(e);
    std::string victim = e.top + "/victim";
    write_file(victim, "precious\n");
    ASSERT_EQ(symlink(victim.c_str(), (e.top + "/TRC7.pid").c_str()), 0);
    RunResult r = e.tc({e.src, e.dst, "1", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "!ERROR: open('" + e.dst +
                                    "/../TRC7.pid',O_CREAT|O_TRUNC|O_WRONLY|O_APPEND|O_SYNC,0666) "
                                    "failed; 40=[ELOOP]"))
        << r.err;
    EXPECT_EQ(read_file(victim), "precious\n");
}

TEST(TreecycleMend, ZeroProcessesPerInstanceMeansNoLimitFromProcesses)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-n", "-v", "-processes-per-instance", "0", e.src, e.dst, "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "Instances supported by processes"));
    auto l = split_lines(r.err);
    std::string disk;
    for (auto &x : l)
        if (x.rfind("Instances supported by disk space : ", 0) == 0) disk = x.substr(36);
    EXPECT_EQ(r.out, disk + "\n");
    EXPECT_NE(disk, "0");
}

TEST(TreecycleMend, ProcessLimitUnderAHundredGivesNoInstances)
{
    TcEnv e;
    TC_INIT(e);
    std::string out;
    std::string cmd = "cd " + e.run + " && prlimit --nproc=50 " + bin_path("treecycle") +
                      " -n -v " + e.src + " " + e.dst + " 1";
    ASSERT_EQ(shell(cmd, &out), 0) << out;
    EXPECT_TRUE(contains(out, "Total processes (v.v_proc) . . . : 50\n"
                              "Processes available  . . . . . . : -50\n"
                              "Instances supported by processes : 0\n"))
        << out;
    EXPECT_EQ(out.substr(0, 2), "0\n") << out;
}

TEST(TreecycleMend, TargetThatFillsUpFailsWithAReport)
{
    TcEnv e;
    TC_INIT(e);
    // A sparse file uses almost no space in the source, so the space check
    // lets the run start; its copies are written out in full.
    ASSERT_TRUE(e.ns.tmpfs(e.dst, "tmpfs", "size=2m"));
    write_file(e.src + "/sparse", "");
    ASSERT_EQ(truncate((e.src + "/sparse").c_str(), 3 << 20), 0);
    RunResult r = e.tc({e.src, e.dst, "3", "1"}, 120);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1) << r.err;
    std::string log = e.run_log();
    EXPECT_TRUE(contains(log, ": Failed.\n")) << log;
    EXPECT_TRUE(contains(log, "treecycle: !ERROR: TRC7_double() got error TRC7_ERROR")) << log;
    EXPECT_TRUE(file_exists(e.dst + "/dcout.001"));
    EXPECT_TRUE(file_exists(e.dst + "/tbase.001.1"));
    EXPECT_TRUE(file_exists(e.top + "/TRC7.failed"));
}
