// A real shortage of processes: an unprivileged user at its process limit.
#include "tests/support/process.h"
#include "tests/support/runarea.h"
#include "tests/support/text.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// treecycle as nobody, at a process limit that leaves room for the driver
// and `room` more processes while 101 sleepers of that user hold the rest.
// Unless `keep`, the sleepers go half a second after the run has started,
// before the pause of 2 seconds that follows a failed fork ends.
struct AtTheLimit {
    RunArea a{"tcslow"};
    std::string err, log;
    int status = -1;
    bool started = false;

    void run_with(int room, bool keep, const std::vector<std::string> &opts,
                  const std::vector<std::string> &counts)
    {
        ASSERT_EQ(
            a.lay_out({{"a.txt", "alpha\n"}, {"sub/", ""}, {"sub/b.txt", std::string(20000, 'b')}}),
            "");
        const int sleepers = 101;
        std::vector<pid_t> held;
        for (int i = 0; i < sleepers; i++)
            held.push_back(
                spawn({"/bin/sleep", "120"}, "/", "/dev/null", "/dev/null", become_nobody));
        int base = 0;
        ASSERT_TRUE(poll_until(5, [&] { return (base = tasks_of(nobody)) >= sleepers; }));
        rlim_t limit = base + 1 + room;
        std::vector<std::string> args = {bin_path("treecycle")};
        args.insert(args.end(), opts.begin(), opts.end());
        args.insert(args.end(), {a.src, a.dst});
        args.insert(args.end(), counts.begin(), counts.end());
        pid_t tc = spawn(args, a.run, a.tmp / "out", a.tmp / "err", [limit] {
            rlimit rl = {limit, limit};
            if (setrlimit(RLIMIT_NPROC, &rl) != 0) _exit(124);
            become_nobody();
            // In the sanitizer build the leak check at exit needs a thread,
            // which the limit refuses: its failure would read as a child's error.
            const char *o = getenv("ASAN_OPTIONS");
            setenv("ASAN_OPTIONS", (std::string(o ? o : "") + ":detect_leaks=0").c_str(), 1);
        });
        std::string path = "/var/tmp/TRC7." + std::to_string(tc) + ".log";
        started = poll_until(30, [&] { return contains(read_file(path), ": Start.\n"); });
        if (!keep) usleep(500000);
        if (keep) status = wait_for(tc, 90, SIGKILL);
        for (pid_t p : held) wait_for(p, 0, SIGKILL);
        if (!keep) status = wait_for(tc, 90, SIGKILL);
        err = read_file(a.tmp / "err");
        log = read_file(path);
    }
};

TEST(TreecycleShortage, ForkFailureLowersTheCountAndTheRunGoesOn)
{
    AtTheLimit t;
    if (!t.a.ns.ok()) GTEST_SKIP() << t.a.ns.error;
    // The driver and two more processes fit; with one process per instance
    // the limit still allows four.
    t.run_with(2, false, {"-nofsck", "-processes-per-instance", "1"}, {"2", "4"});
    ASSERT_TRUE(t.started) << t.err;
    std::string text = t.log, dst = t.a.dst;
    ASSERT_EQ(t.status, 0) << t.err;
    // Which fork meets the limit first is a matter of timing: the driver's
    // fork of a double, or a double's fork of a single (which then says so on
    // standard error). Either way the count is lowered and the run goes on.
    for (const char *part :
         {"fork() failed; 11=EAGAIN=Resource temporarily unavailable\n",
          "treecycle::TRC7_double(): fork ran out of resources.\n",
          ": Instances adjusted from 4 to ", ": Iteration 002 complete.\n", ": !PASS: Done.\n"})
        EXPECT_TRUE(contains(text, part)) << part << " in:\n" << text;
    EXPECT_FALSE(contains(text, "TRC7_ERROR")) << text;
    // The second iteration did its work, with the lower count, and left only the logs.
    EXPECT_TRUE(file_exists(dst + "/log/TRC7.002.001.5.log")) << text;
    EXPECT_FALSE(file_exists(dst + "/log/TRC7.002.004.1.log")) << text;
    EXPECT_EQ(run_program("/bin/ls", {dst}).out, "log\n");
}

// A shortage that lasts: the count comes down to none, and a run that can
// no longer test anything ends with an error instead of passing.
TEST(TreecycleShortage, NoInstanceLeftEndsTheRun)
{
    AtTheLimit t;
    if (!t.a.ns.ok()) GTEST_SKIP() << t.a.ns.error;
    t.run_with(0, true, {"-nofsck", "-processes-per-instance", "1"}, {"3", "4"});
    ASSERT_TRUE(t.started) << t.err;
    EXPECT_EQ(t.status, 1) << t.err;
    for (const char *part : {": Instances adjusted from 1 to 0\n",
                             "treecycle: !ERROR: treecycle: no instance can run any more.\n"})
        EXPECT_TRUE(contains(t.log, part)) << part << " in:\n" << t.log;
    EXPECT_FALSE(contains(t.log, "!PASS: Done.")) << t.log;
}

} // namespace
