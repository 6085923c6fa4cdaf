// The instance count from the target's free space and the process limit,
// and the probe that decides whether the process limit may be used.
#include "tests/treecycle/tc_env.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/un.h>

// The value after `label` in the -v output, or "".
static std::string value_of(const std::string &err, const std::string &label)
{
    for (auto &l : split_lines(err))
        if (l.rfind(label, 0) == 0) return l.substr(label.size());
    return "";
}

TEST(TreecycleAutoconf, DiskSpaceArithmeticOnASmallTarget)
{
    TcEnv e;
    TC_INIT(e);
    ASSERT_TRUE(e.ns.tmpfs(e.dst, "tmpfs", "size=512k"));
    RunResult r = e.tc({"-n", "-v", "-disk-reserve", "100", e.src, e.dst, "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    struct statvfs sv;
    ASSERT_EQ(statvfs(e.dst.c_str(), &sv), 0);
    long long avail = (long long)(sv.f_bavail * sv.f_frsize / 1024) - 100;
    std::string du = value_of(r.err, "du('" + e.src + "') => ");
    ASSERT_NE(du, "") << r.err;
    long long used = std::stoll(du);
    long long per = 5 * used + std::max(5 * used / 10, 8LL);
    EXPECT_EQ(value_of(r.err, "Disk space available for use by treecycle: "),
              std::to_string(avail) + "K");
    EXPECT_EQ(value_of(r.err, "Disk space required per instance  : "), std::to_string(per) + "K");
    EXPECT_EQ(value_of(r.err, "Instances supported by disk space : "), std::to_string(avail / per));
    EXPECT_EQ(r.out, std::to_string(avail / per) + "\n");
    // The lines come in the designed order.
    EXPECT_LT(r.err.find("du('"), r.err.find("Disk space available"));
    EXPECT_LT(r.err.find("Disk space available"), r.err.find("Disk space required"));
    EXPECT_LT(r.err.find("Disk space required"), r.err.find("Instances supported by disk"));
}

TEST(TreecycleAutoconf, TargetTooSmallForOneInstanceRunsChecksOnly)
{
    TcEnv e;
    TC_INIT(e);
    ASSERT_TRUE(e.ns.tmpfs(e.dst, "tmpfs", "size=64k"));
    RunResult r = e.tc({e.src, e.dst, "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string bad;
    EXPECT_EQ(normalize_events(e.run_log(), &bad),
              "Source      directory: " + e.src + "\nDestination directory: " + e.dst +
                  "\nIterations           : 2\nConcurrent  instances: 0\n"
                  "<EV>Start.\n<EV>Iteration 001 complete.\n<EV>Iteration 002 complete.\n"
                  "<EV>!PASS: Done.\n");
    EXPECT_EQ(dir_entries(e.dst), std::vector<std::string>{"log"});
    EXPECT_TRUE(dir_entries(e.dst + "/log").empty());
}

TEST(TreecycleAutoconf, InstancesArgumentIsAnUpperBound)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-n", e.src, e.dst, "1", "2"});
    EXPECT_EQ(r.out, "2\n");
    r = e.tc({"-n", "-v", e.src, e.dst, "1", "2000000"});
    EXPECT_EQ(r.status, 0) << r.err;
    int disk = std::stoi(value_of(r.err, "Instances supported by disk space : "));
    std::string procs = value_of(r.err, "Instances supported by processes : ");
    int expect = procs.empty() ? disk : std::min(disk, std::stoi(procs));
    EXPECT_LT(expect, 2000000);
    EXPECT_EQ(r.out, std::to_string(expect) + "\n");
}

TEST(TreecycleAutoconf, ProcessLimitDividesByProcessesPerInstance)
{
    TcEnv e;
    TC_INIT(e);
    std::string out;
    ASSERT_EQ(shell("cd " + e.run + " && prlimit --nproc=1000 " + bin_path("treecycle") +
                        " -n -v " + e.src + " " + e.dst + " 1",
                    &out),
              0);
    EXPECT_TRUE(contains(out, "Total processes (v.v_proc) . . . : 1000\n"
                              "Processes available  . . . . . . : 900\n"
                              "Instances supported by processes : 36\n"))
        << out;
    ASSERT_EQ(shell("cd " + e.run + " && prlimit --nproc=1000 " + bin_path("treecycle") +
                        " -n -v -processes-per-instance 7 " + e.src + " " + e.dst + " 1",
                    &out),
              0);
    EXPECT_TRUE(contains(out, "Instances supported by processes : 128\n")) << out;
}

// The probe cannot open the process-limit file when a socket is bound over
// it (open gives ENXIO, even to root).
static RunResult run_with_failed_probe(TcEnv &e, const std::string &args)
{
    std::string sock = e.tmp / "sock";
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    snprintf(a.sun_path, sizeof a.sun_path, "%s", sock.c_str());
    unlink(sock.c_str());
    if (bind(s, (sockaddr *)&a, sizeof a) != 0) ADD_FAILURE() << "bind " << sock;
    RunOptions o;
    o.cwd = e.run;
    RunResult r = run_program("/bin/sh",
                              {"-c", "mount --bind " + sock + " /proc/$$/limits && exec " +
                                         bin_path("treecycle") + " " + args},
                              o);
    close(s);
    return r;
}

static const char *probe_lines =
    "treecycle: open('/dev/kmem',O_RDONLY) failed; 6=[ENXIO] No such device or address\n"
    "    Read permission for /dev/kmem is needed,\n"
    "    in order to find out how many processes this system can support.\n";

TEST(TreecycleAutoconf, FailedProbeWithoutACountStops)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = run_with_failed_probe(e, "-n " + e.src + " " + e.dst + " 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string(probe_lines) + "!ERROR: read permission for /dev/kmem is needed");
    r = run_with_failed_probe(e, "-n " + e.src + " " + e.dst + " 1 0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(probe_lines) + "!ERROR: read permission for /dev/kmem is needed");
}

TEST(TreecycleAutoconf, FailedProbeWithACountWarnsAndGoesOn)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = run_with_failed_probe(e, "-n " + e.src + " " + e.dst + " 1 3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\n");
    EXPECT_EQ(r.err, std::string(probe_lines) +
                         "!WARNING: The number of available processes supported by this system\n"
                         "         cannot be used to limit the number of concurrent\n"
                         "         instances of TRC7, because that information is not "
                         "available.\n");
    // A real run goes on with the disk-space count.
    r = run_with_failed_probe(e, e.src + " " + e.dst + " 1 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(e.run_log(), "!PASS: Done."));
}
