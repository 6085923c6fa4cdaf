// The serial line programs end to end over a socat cable, each test in a
// private /tmp, its cases the runs of a transcript: command lines, port
// settings, markers, pacing, hang-up, signals, and the failures they must
// report.
#include "tests/support/cable.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

using Serial = PrivateTmpTest;
using Pair = PrivateTmpTest;

// Every line each program prints for its command line, speed, environment
// and port set-up; its checks in their order.
TEST_F(Serial, CommandLinesSpeedsEnvironmentAndSetUp)
{
    Cable cable(Cable::DATA);
    ASSERT_TRUE(cable.ok()) << cable.error;
    ASSERT_EQ(mkfifo("/tmp/fifo", 0666), 0);
    auto runs = cable_runs("command_lines.txt");
    ASSERT_EQ(runs.size(), 56u);
    RunOptions o;
    o.unset = {"RUNTIME", "RUNPRD"};
    o.timeout_s = 30;
    for (const RunSpec &c : runs) {
        o.env = c.env;
        expect_run(c, o);
    }
}

TEST_F(Serial, EachProgramSetsItsPortAndEverySpeedReadsBack)
{
    play_all("ports.txt");
}

TEST_F(Serial, MarkersAndEndOfFile)
{
    play_all("markers.txt");
}

TEST_F(Serial, SignalsEndTheProgramsWithStatusZero)
{
    play_all("signals.txt");
}

TEST_F(Serial, TerminationSignalsTogetherReportOnce)
{
    play_all("together.txt");
}

TEST_F(Serial, RefusedTransfersAndFilesThatCannotBeWritten)
{
    play_all("refused.txt");
}

TEST_F(Pair, CablePulledMidTransfer)
{
    play_all("pulled.txt");
}

// rxpace -s sleeps a second after exactly 110700 bytes and after each further
// 110700, then judges the average rate against the line speed; -n never
// sleeps. The capture file's size while it sleeps tells where.
TEST_F(Serial, PacingAndTheRateCheck)
{
    for (const RunSpec &r : cable_runs("pacing.txt")) {
        SCOPED_TRACE(r.line);
        unlink("/tmp/rxpace.tmp");
        Cable cable(Cable::DATA);
        ASSERT_TRUE(cable.ok()) << cable.error;
        pid_t pid = launch(r);
        ASSERT_TRUE(poll_until(20, [&] { return file_exists("/tmp/rxpace.tmp"); }));
        std::thread peer([&] { cable.put(cable.fd_b, repeat(PATTERN, 7380) + "!"); });
        std::set<long> sizes;
        int st = 0;
        poll_until(120, [&] {
            long nr = atol(read_file("/proc/" + std::to_string(pid) + "/syscall").c_str());
            struct stat sb;
            if ((nr == SYS_clock_nanosleep || nr == SYS_nanosleep) &&
                stat("/tmp/rxpace.tmp", &sb) == 0)
                sizes.insert(sb.st_size);
            return waitpid(pid, &st, WNOHANG) == pid;
        });
        peer.join();
        std::string paused;
        for (long s : sizes) paused += std::to_string(s) + ",";
        EXPECT_EQ(paused, word(r, "paused"));
        EXPECT_EQ(status_of(st), r.status);
        expect_output(r, "p", pid);
        EXPECT_EQ(blocks_in(read_file("/tmp/rxpace.tmp")), atol(word(r, "blocks", "-1").c_str()));
    }
}

TEST_F(Serial, HangUpOnLastClose)
{
    play_pairs("hang_up.txt");
}

} // namespace
