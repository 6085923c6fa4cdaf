// The serial line programs end to end over a socat cable, each test in a
// private /tmp: command lines, port settings, markers, pacing, hang-up,
// signals, and the failures they must report.
#include "platform/termio.h"
#include "tests/support/cable.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

using Serial = PrivateTmpTest;

const std::string &P = PATTERN;
const std::string EIO_ = ": Input/output error\n", LOOP = ": Too many levels of symbolic links\n",
                  FULL_ = ": No space left on device\n";

// "<A>" in arguments and expected texts stands for the cable's end A.
std::string ends(const std::string &s, const Cable &c)
{
    return fill(s, {{"<A>", c.a}});
}

std::string describe(const std::string &prog, const std::vector<std::string> &args,
                     const std::vector<std::string> &env = {})
{
    std::string d;
    for (auto &e : env) d += e + " ";
    d += prog;
    for (auto &a : args) d += " '" + a + "'";
    return d;
}

// Lines of the hang-up programs: the bytes of all "R" lines, the count of
// the last "W" line (-1 without any, -2 when one does not add up), the rest.
struct Tally {
    long long read = 0, written = -1;
    std::vector<std::string> rest;
};
Tally tally(const std::string &out)
{
    Tally t;
    for (const std::string &l : split_lines(out)) {
        long long pid, n, c;
        char tail;
        if (sscanf(l.c_str(), "R%lld %lld%c", &pid, &n, &tail) == 2) {
            t.read += n;
        } else if (sscanf(l.c_str(), "W%lld %lld/%lld%c", &pid, &n, &c, &tail) == 3) {
            if (t.written != -2) t.written = (t.written < 0 ? 0 : t.written) + n == c ? c : -2;
        } else {
            t.rest.push_back(l);
        }
    }
    return t;
}

// Every line each program prints for its command line, speed, environment
// and port set-up; its checks in their order.
TEST_F(Serial, CommandLinesSpeedsEnvironmentAndSetUp)
{
    Cable cable(Cable::DATA);
    if (!cable.ok()) GTEST_SKIP() << cable.error;
    ASSERT_EQ(mkfifo("/tmp/fifo", 0666), 0);
    auto runs = runs_in("tests/serial/transcripts/command_lines.txt", {{"<A>", cable.a}});
    ASSERT_EQ(runs.size(), 56u);
    for (const RunSpec &c : runs) {
        RunOptions o;
        o.env = c.env;
        o.unset = {"RUNTIME", "RUNPRD"};
        o.timeout_s = 30;
        expect_run(c, o);
    }
}

struct Setting {
    const char *prog;
    std::vector<std::string> args, env;
    unsigned iflag, oflag, cflag, speed;
};

// What each program leaves on its port, read back from the port itself
// (local flags 0, VMIN 1, VTIME 0 for all); every speed through lanerx. A
// pseudo-terminal keeps CS8 and CREAD on whatever it is given, so the
// transmitters' CS8 alone reads back with CREAD.
TEST_F(Serial, EachProgramSetsItsPortAndEverySpeedReadsBack)
{
    Cable cable(Cable::DATA);
    if (!cable.ok()) GTEST_SKIP() << cable.error;
    const unsigned XON = T_IXON | T_IXOFF, RAW = T_CS8 | T_CREAD;
    std::vector<Setting> rows = {
        {"rxpace", {"-s", "-b", "230400"}, {}, XON, T_OPOST, RAW | T_CLOCAL, 230400},
        {"rxpace", {"-n"}, {}, 0, T_OPOST, RAW | T_CLOCAL, 9600},
        {"txpace", {"-n", "-b", "307200"}, {"RUNTIME=100"}, 0, T_OPOST, RAW | T_CLOCAL, 307200},
        {"txpace", {"-s", "-b", "9600"}, {"RUNTIME=100"}, XON, T_OPOST, RAW | T_CLOCAL, 9600},
        {"portlisten", {}, {}, XON, 0, RAW, 9600},
        {"porttalk", {"-b", "460800"}, {"RUNTIME=100"}, XON, 0, RAW, 460800},
        {"lineclose-rx", {"-b", "153600"}, {"RUNTIME=100"}, XON, T_OPOST, RAW | T_HUPCL, 153600},
        {"lineclose-tx", {"-b", "300"}, {"RUNTIME=100"}, XON, T_OPOST, RAW, 300},
        {"lanetx", {"-b", "76800"}, {"RUNPRD=100"}, XON, T_OPOST, RAW, 76800},
    };
    for (const char *s : {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "76800",
                          "115200", "153600", "230400", "307200", "460800"})
        rows.push_back({"lanerx", {"-b", s}, {}, XON, T_OPOST, RAW, unsigned(std::stoul(s))});
    for (const Setting &row : rows) {
        std::vector<std::string> args = {"-d", cable.a};
        args.insert(args.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(describe(row.prog, args, row.env));
        // Start from settings no program makes.
        TermParams t;
        ASSERT_EQ(term_get(cable.fd_a, &t), 0);
        t.iflag = t.oflag = t.lflag = 0;
        t.cflag = T_CS8;
        t.vmin = 7;
        t.speed = 50;
        ASSERT_EQ(term_set(cable.fd_a, &t), 0);
        pid_t pid = launch("prog", row.prog, args, row.env);
        bool set = poll_until(20, [&] {
            return term_get(cable.fd_a, &t) == 0 && t.iflag == row.iflag && t.oflag == row.oflag &&
                   t.cflag == row.cflag && t.lflag == 0 && t.vmin == 1 && t.vtime == 0 &&
                   t.speed == row.speed;
        });
        EXPECT_TRUE(set) << std::hex << "iflag " << t.iflag << " oflag " << t.oflag << " cflag "
                         << t.cflag << " lflag " << t.lflag << std::dec << " vmin " << int(t.vmin)
                         << " speed " << t.speed;
        kill(pid, SIGTERM);
        EXPECT_EQ(wait_for(pid, 20), 0);
    }
}

struct Marker {
    const char *prog;
    std::vector<std::string> args, pieces;
    bool hang_up; // after the pieces, the far end hangs up: end of file
    const char *capture;
    std::string kept, out, err;
    int status;
};

// The test is the far end: it writes the pieces, a little apart, and drops
// the line where the row says.
TEST_F(Serial, MarkersAndEndOfFile)
{
    const std::string NUL3("\0\0\0", 3);
    // clang-format off
    const Marker rows[] = {
        {"rxpace", {"-s"}, {P + "QwErH!xyz"}, false, "/tmp/rxpace.tmp", P + "\nQwErH\n", "", "", 0},
        {"rxpace", {"-n"}, {P + P + "Qw!"}, false, "/tmp/rxpace.tmp", "PASS", "", "", 0},
        {"portlisten", {}, {P + "QwErH!" + NUL3}, false, "/tmp/portlisten.tmp", P + "\nQwErH\n", "", "", 0},
        {"portlisten", {}, {P + "QwErHMZa!", NUL3}, false, "/tmp/portlisten.tmp", P + "\nQwErHMZa\n", "", "", 0},
        {"rxpace", {"-s"}, {P}, true, "/tmp/rxpace.tmp", P + "\n", "EOF\n", "", 0},
        {"rxpace", {"-n"}, {P}, true, "/tmp/rxpace.tmp", "PASS", "EOF\n", "", 0},
        // A port that has hung up refuses the flush that follows.
        {"portlisten", {}, {P}, true, "/tmp/portlisten.tmp", P + "\n", "EOF\n", "!ERROR: tcflush failed.", 1},
    };
    // clang-format on
    for (const Marker &row : rows) {
        unlink(row.capture);
        Cable cable(Cable::DATA);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        std::vector<std::string> args = {"-d", cable.a, "-b", "460800"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(describe(row.prog, args));
        pid_t pid = launch("rx", row.prog, args);
        // Past its set-up (and portlisten's draining) once the capture file is there.
        ASSERT_TRUE(poll_until(20, [&] { return file_exists(row.capture); }));
        for (const std::string &piece : row.pieces) {
            usleep(200000);
            cable.put(cable.fd_b, piece);
        }
        if (row.hang_up) {
            EXPECT_TRUE(poll_until(20, [&] { return waits_on_port(pid, 0, cable.a); }));
            EXPECT_TRUE(cable.hang_up(cable.a));
        }
        EXPECT_EQ(wait_for(pid, 20), row.status);
        EXPECT_EQ(read_file("/tmp/rx.out"), row.out);
        EXPECT_EQ(read_file("/tmp/rx.err"), row.err);
        EXPECT_EQ(read_file(row.capture), row.kept);
    }
}

// rxpace -s sleeps a second after exactly 110700 bytes and after each further
// 110700, then judges the average rate against the line speed; -n never
// sleeps. The capture file's size while it sleeps tells where.
TEST_F(Serial, PacingAndTheRateCheck)
{
    struct Row {
        const char *mode, *speed;
        std::set<long> paused_at;
        int status;
        const char *err;
    } rows[] = {
        {"-s", "460800", {114390, 228780}, 0, ""},
        {"-s", "9600", {114390, 228780}, 1, "!ERROR: Flow control does not happen at all.: <*>"},
        {"-n", "460800", {}, 0, ""},
    };
    const std::string blocks = repeat(P, 7380);
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + row.speed);
        unlink("/tmp/rxpace.tmp");
        Cable cable(Cable::DATA);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        pid_t pid = launch("rx", "rxpace", {row.mode, "-d", cable.a, "-b", row.speed});
        ASSERT_TRUE(poll_until(20, [&] { return file_exists("/tmp/rxpace.tmp"); }));
        std::thread peer([&] { cable.put(cable.fd_b, blocks + "!"); });
        std::set<long> paused_at;
        int st = 0;
        const std::string syscall = "/proc/" + std::to_string(pid) + "/syscall";
        poll_until(120, [&] {
            std::string s = read_file(syscall);
            long nr = atol(s.c_str());
            struct stat sb;
            if ((nr == SYS_clock_nanosleep || nr == SYS_nanosleep) &&
                stat("/tmp/rxpace.tmp", &sb) == 0)
                paused_at.insert(sb.st_size);
            return waitpid(pid, &st, WNOHANG) == pid;
        });
        peer.join();
        EXPECT_EQ(paused_at, row.paused_at);
        EXPECT_EQ(status_of(st), row.status);
        EXPECT_EQ(read_file("/tmp/rx.out"), "");
        EXPECT_EQ(match_output(read_file("/tmp/rx.err"), split_lines(row.err)), "");
        EXPECT_EQ(read_file("/tmp/rxpace.tmp"),
                  row.mode == std::string("-n") ? "PASS" : repeat(P + "\n", 7380) + "\n");
    }
}

// The hang-up pair on a cable that drops the line at the last close of an
// end: the receiver's close (budget or byte limit) fails the transmitter's
// next write, the pass with status 1. -m 94 and a negative -m set no limit.
// The transmitter's own limit ends it after its fourth write; a line drop
// then ends the receiver with end of file.
TEST_F(Serial, HangUpOnLastClose)
{
    const long long ANY = 1LL << 40;
    struct Row {
        std::vector<std::string> rx_args, rx_env, tx_args;
        std::string rx_last, tx_last;
        int rx_status, tx_status;
        long long read_min, read_max; // the receiver's R lines
        long long written;            // the transmitter's last count, when not ANY
    } rows[] = {
        // clang-format off
        {{"-m", "94"}, {"RUNTIME=2"}, {"-m", "-100"}, "!PASS: Test has been completed.", "!PASS: Hang up on last close", 0, 1, 121, ANY, ANY},
        {{"-m", "100"}, {"RUNTIME=60"}, {}, "MAX", "!PASS: Hang up on last close", 0, 1, 120, 120, ANY},
        {{}, {"RUNTIME=60"}, {"-m", "100"}, "EOF", "MAX", 0, 0, 120, 120, 120},
        // clang-format on
    };
    for (const Row &row : rows) {
        Cable cable(Cable::HANGUP);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        std::vector<std::string> rx = {"-d", cable.a, "-b", "153600"},
                                 tx = {"-d", cable.b, "-b", "153600"};
        rx.insert(rx.end(), row.rx_args.begin(), row.rx_args.end());
        tx.insert(tx.end(), row.tx_args.begin(), row.tx_args.end());
        SCOPED_TRACE(describe("lineclose-rx", rx, row.rx_env) + " | " +
                     describe("lineclose-tx", tx));
        pid_t r = launch("rx", "lineclose-rx", rx, row.rx_env);
        ASSERT_TRUE(poll_until(20, [&] { return has_opened(r, cable.a); }));
        cable.let_go(cable.fd_a);
        pid_t t = launch("tx", "lineclose-tx", tx, {"RUNTIME=60"});
        if (row.tx_last == "MAX") {
            EXPECT_EQ(wait_for(t, 30), row.tx_status);
            EXPECT_TRUE(poll_until(20, [&] { return waits_on_port(r, 0, cable.a); }));
            EXPECT_TRUE(cable.hang_up(cable.a));
            EXPECT_EQ(wait_for(r, 30), row.rx_status);
        } else {
            ASSERT_TRUE(poll_until(20, [&] { return has_opened(t, cable.b); }));
            cable.let_go(cable.fd_b);
            EXPECT_EQ(wait_for(r, 30), row.rx_status);
            cable.follow_close(cable.b);
            EXPECT_EQ(wait_for(t, 30), row.tx_status);
        }
        Tally rt = tally(read_file("/tmp/rx.out")), tt = tally(read_file("/tmp/tx.out"));
        EXPECT_EQ(rt.rest, std::vector<std::string>{row.rx_last});
        EXPECT_EQ(tt.rest, std::vector<std::string>{row.tx_last});
        EXPECT_NE(tt.written, -2) << "a W line whose count does not add up";
        EXPECT_GE(rt.read, row.read_min);
        EXPECT_LE(rt.read, row.read_max);
        EXPECT_TRUE(row.written == ANY || tt.written == row.written) << tt.written;
        EXPECT_EQ(read_file("/tmp/rx.err") + read_file("/tmp/tx.err"), "");
    }
}

// A signal ends each program with status 0; the hang-up and device programs
// report the bytes counted so far. Each is held up on its port first: a
// receiver waiting for the rest of a block, a transmitter whose far end
// nobody reads.
TEST_F(Serial, SignalsEndTheProgramsWithStatusZero)
{
    const std::string T = "RUNTIME=100";
    struct Row {
        const char *prog;
        std::vector<std::string> args, env;
        std::string input; // given to a receiver; none for a transmitter
        std::string out;   // "<R>": the R lines and the count agree; "<W>": the last W line's
    } rows[] = {
        {"rxpace", {"-s"}, {}, P + "Qw", ""},
        {"txpace", {"-s"}, {T}, "", "Software flow control\n"},
        {"portlisten", {}, {}, P + "Qw", ""},
        {"porttalk", {}, {T}, "", ""},
        {"lineclose-rx", {}, {T}, P + P.substr(0, 15), "<R>"},
        {"lineclose-tx", {}, {T}, "", "<W>"},
        {"lanerx", {"-v", "-m", "5"}, {}, P.substr(0, 10), "R<N> 10\n!WARNING: killed 10\n"},
        {"lanetx", {}, {"RUNPRD=100"}, "", "!WARNING: killed <N>\n"},
    };
    for (const Row &row : rows) {
        Cable cable(Cable::DATA);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        std::vector<std::string> args = {"-d", cable.a};
        args.insert(args.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(describe(row.prog, args, row.env));
        pid_t pid = launch("p", row.prog, args, row.env);
        if (!row.input.empty()) {
            ASSERT_TRUE(poll_until(20, [&] { return has_opened(pid, cable.a); }));
            usleep(200000);
            ASSERT_TRUE(cable.put(cable.fd_b, row.input));
        }
        EXPECT_TRUE(
            poll_until(30, [&] { return waits_on_port(pid, row.input.empty() ? 1 : 0, cable.a); }));
        kill(pid, SIGTERM);
        EXPECT_EQ(wait_for(pid, 20), 0);
        std::string out = read_file("/tmp/p.out");
        EXPECT_EQ(read_file("/tmp/p.err"), "");
        Tally t = tally(out);
        if (row.out == "<R>") {
            EXPECT_EQ(t.read, 45);
            EXPECT_EQ(t.rest, std::vector<std::string>{"!WARNING: killed 45"});
        } else if (row.out == "<W>") {
            ASSERT_GT(t.written, 0) << out.substr(0, 200);
            EXPECT_EQ(t.rest,
                      std::vector<std::string>{"!WARNING: killed " + std::to_string(t.written)});
        } else {
            EXPECT_EQ(match_output(out, split_lines(row.out)), "") << out;
        }
        // Whole blocks: the write the signal cut short is not counted.
        EXPECT_TRUE(row.prog != std::string("lanetx") || atoll(out.c_str() + 17) % 30 == 0) << out;
    }
}

// SIGTERM, SIGINT and SIGHUP sent together, a few microseconds apart, to the
// programs that report a signal: the first one's handler runs with the others
// held, so the line comes once and the program ends with status 0. Taken
// inside that handler, a second one printed the line twice, or lost it, or
// hung or crashed in the exit the first had begun. Each row in turn, the
// gaps growing from 0 to 70 microseconds.
TEST_F(Serial, TerminationSignalsTogetherReportOnce)
{
    struct Row {
        const char *prog;
        std::vector<std::string> env;
        int syscall; // where it is held up: a read (0), a write (1)
    } rows[] = {
        {"lanerx", {}, 0},
        {"lineclose-rx", {"RUNTIME=100"}, 0},
        {"lanetx", {"RUNPRD=100"}, 1},
        {"lineclose-tx", {"RUNTIME=100"}, 1},
    };
    for (int i = 0; i < 32; i++) {
        const Row &row = rows[i % 4];
        int gap_us = i / 4 * 10;
        Cable cable(Cable::DATA);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        SCOPED_TRACE(describe(row.prog, {"-d", cable.a}, row.env) + " gap " +
                     std::to_string(gap_us));
        pid_t pid = launch("p", row.prog, {"-d", cable.a}, row.env);
        ASSERT_TRUE(poll_until(30, [&] { return waits_on_port(pid, row.syscall, cable.a); }));
        kill_in_turn(pid, {SIGTERM, SIGINT, SIGHUP}, gap_us);
        EXPECT_EQ(wait_for(pid, 5), 0);
        std::string out = read_file("/tmp/p.out");
        Tally t = tally(out);
        EXPECT_EQ(t.rest.size(), 1u) << out.substr(out.size() > 200 ? out.size() - 200 : 0);
        EXPECT_TRUE(!t.rest.empty() && line_matches(t.rest[0], "!WARNING: killed <N>"));
        EXPECT_EQ(read_file("/tmp/p.err"), "");
    }
}

// Refused transfers and files that cannot be written end each program with
// its report and status 1. A write is refused when the port hangs up while
// the program sends. A read is refused when the port is the controlling
// terminal of the program's session and the program is in a background
// process group that ignores SIGTTIN. At the fixed names in /tmp, a planted
// link is not followed (the open fails, the link's target stays as it was),
// a file on a full file system takes no data, and anything there that is not
// a regular file is refused at once, left as it was: a FIFO (one that nobody
// reads would hold the program in its open or its writes for ever), a
// directory, /dev/null. The FIFO is the test's own, so fs.protected_fifos,
// which refuses only other users' FIFOs, lets the open through whatever its
// setting. lanerx opens its file write-only, which for a FIFO without a
// reader fails at once by itself.
TEST_F(Serial, RefusedTransfersAndFilesThatCannotBeWritten)
{
    enum Trouble { HANG_UP, BACKGROUND, LINK, FULL, FIFO, DIR, NODE };
    const std::string R = "RUNTIME=100", ACCES = ": Permission denied\n",
                      ISDIR = ": Is a directory\n", NXIO = ": No such device or address\n";
    // clang-format off
    struct Row {
        const char *prog;
        std::vector<std::string> args, env;
        Trouble trouble;
        const char *file; // the capture or device-name file it concerns
        std::string out, err;
    } rows[] = {
        {"txpace", {"-s"}, {R}, HANG_UP, "/tmp/txpace.tmp", "Software flow control\n!ERROR: Device write failed.\n", ""},
        {"porttalk", {}, {R}, HANG_UP, "/tmp/porttalk.tmp", "", "<A>" + EIO_ + "!ERROR: Device write failed.\n" + EIO_},
        {"lanerx", {}, {}, BACKGROUND, "/tmp/devnam", "", "<A>" + EIO_ + "!ERROR: Device read failed.\n" + EIO_},
        {"lineclose-rx", {}, {R}, BACKGROUND, "", "", "<A>" + EIO_ + "!ERROR: Device read failed.\n" + EIO_},
        {"rxpace", {"-n"}, {}, BACKGROUND, "", "", "!ERROR:Read error." + EIO_},
        {"rxpace", {"-s"}, {}, LINK, "/tmp/rxpace.tmp", "", "!ERROR: /tmp/rxpace.tmp open failed." + LOOP},
        {"txpace", {"-s"}, {R}, LINK, "/tmp/txpace.tmp", "Software flow control\n!ERROR: /tmp/txpace.tmp open failed. \n", ""},
        {"porttalk", {}, {R}, LINK, "/tmp/porttalk.tmp", "", "!ERROR: /tmp/porttalk.tmp open failed.\n" + LOOP},
        {"portlisten", {}, {}, LINK, "/tmp/portlisten.tmp", "", "!ERROR: /tmp/portlisten.tmp open failed.\n" + LOOP},
        {"lanerx", {}, {}, LINK, "/tmp/devnam", "", "!ERROR: /tmp/devnam open failed.\n" + LOOP},
        {"rxpace", {"-s"}, {}, FULL, "/tmp/rxpace.tmp", "", "!ERROR: Write /tmp/rxpace.tmp failed." + FULL_},
        {"txpace", {"-s"}, {R}, FULL, "/tmp/txpace.tmp", "Software flow control\n!ERROR: Write /tmp/txpace.tmp failed.\n", ""},
        {"portlisten", {}, {}, FULL, "/tmp/portlisten.tmp", "", "!ERROR: Write /tmp/portlisten.tmp failed.\n" + FULL_},
        {"lanerx", {}, {}, FULL, "/tmp/devnam", "", "!ERROR: Write /tmp/devnam failed.\n" + FULL_},
        {"rxpace", {"-s"}, {}, FIFO, "/tmp/rxpace.tmp", "", "!ERROR: /tmp/rxpace.tmp open failed." + ACCES},
        {"txpace", {"-s"}, {R}, FIFO, "/tmp/txpace.tmp", "Software flow control\n!ERROR: /tmp/txpace.tmp open failed. \n", ""},
        {"porttalk", {}, {R}, FIFO, "/tmp/porttalk.tmp", "", "!ERROR: /tmp/porttalk.tmp open failed.\n" + ACCES},
        {"portlisten", {}, {}, FIFO, "/tmp/portlisten.tmp", "", "!ERROR: /tmp/portlisten.tmp open failed.\n" + ACCES},
        {"lanerx", {}, {}, FIFO, "/tmp/devnam", "", "!ERROR: /tmp/devnam open failed.\n" + NXIO},
        {"rxpace", {"-n"}, {}, DIR, "/tmp/rxpace.tmp", "", "!ERROR: /tmp/rxpace.tmp open failed." + ISDIR},
        {"txpace", {"-s"}, {R}, DIR, "/tmp/txpace.tmp", "Software flow control\n!ERROR: /tmp/txpace.tmp open failed. \n", ""},
        {"porttalk", {}, {R}, DIR, "/tmp/porttalk.tmp", "", "!ERROR: /tmp/porttalk.tmp open failed.\n" + ISDIR},
        {"portlisten", {}, {}, DIR, "/tmp/portlisten.tmp", "", "!ERROR: /tmp/portlisten.tmp open failed.\n" + ISDIR},
        {"lanerx", {}, {}, DIR, "/tmp/devnam", "", "!ERROR: /tmp/devnam open failed.\n" + ISDIR},
        {"rxpace", {"-n"}, {}, NODE, "/tmp/rxpace.tmp", "", "!ERROR: /tmp/rxpace.tmp open failed." + ACCES},
        {"txpace", {"-s"}, {R}, NODE, "/tmp/txpace.tmp", "Software flow control\n!ERROR: /tmp/txpace.tmp open failed. \n", ""},
        {"porttalk", {}, {R}, NODE, "/tmp/porttalk.tmp", "", "!ERROR: /tmp/porttalk.tmp open failed.\n" + ACCES},
        {"portlisten", {}, {}, NODE, "/tmp/portlisten.tmp", "", "!ERROR: /tmp/portlisten.tmp open failed.\n" + ACCES},
        {"lanerx", {}, {}, NODE, "/tmp/devnam", "", "!ERROR: /tmp/devnam open failed.\n" + ACCES},
    };
    // clang-format on
    // A file system with no room left: one page, taken by the filler.
    ASSERT_TRUE(ns.tmpfs("/tmp/small", "tmpfs", "size=4k"));
    write_file("/tmp/small/full", "");
    write_file("/tmp/small/filler", std::string(4096, 'x'));
    for (const Row &row : rows) {
        Cable cable(Cable::DATA);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        std::vector<std::string> argv = {bin_path(row.prog), "-d", cable.a};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(describe(row.prog, argv, row.env) + " trouble " + std::to_string(row.trouble));
        write_file("/tmp/target", "kept");
        unlink(row.file);
        ASSERT_TRUE(row.trouble != LINK || symlink("/tmp/target", row.file) == 0);
        ASSERT_TRUE(row.trouble != FIFO || mkfifo(row.file, 0666) == 0);
        ASSERT_TRUE(row.trouble != DIR || mkdir(row.file, 0777) == 0);
        if (row.trouble == FULL || row.trouble == NODE) {
            write_file(row.file, "");
            ASSERT_TRUE(ns.bind(row.trouble == FULL ? "/tmp/small/full" : "/dev/null", row.file));
        }
        struct stat planted = {};
        lstat(row.file, &planted);
        pid_t pid = spawn(argv, "", "/tmp/p.out", "/tmp/p.err", [&] {
            unsetenv("RUNTIME");
            for (auto &e : row.env) putenv(strdup(e.c_str()));
            if (row.trouble != BACKGROUND) return;
            setsid();
            int ctty = open(argv[2].c_str(), O_RDWR); // the session's terminal now
            pid_t child = fork();
            if (child > 0) {
                int st;
                waitpid(child, &st, 0);
                _exit(status_of(st));
            }
            setpgid(0, 0);
            signal(SIGTTIN, SIG_IGN);
            signal(SIGTTOU, SIG_IGN);
            close(ctty);
        });
        std::string prog = row.prog;
        if (row.trouble == HANG_UP) {
            ASSERT_TRUE(poll_until(20, [&] { return read_file(row.file).size() > 31; }));
            EXPECT_TRUE(cable.hang_up(cable.a));
        } else if (row.trouble != BACKGROUND && prog != "txpace" && prog != "porttalk") {
            // A receiver gets a block once it is ready for it.
            ASSERT_TRUE(poll_until(20, [&] { return has_opened(pid, cable.a); }));
            usleep(300000);
            ASSERT_TRUE(cable.put(cable.fd_b, P));
        }
        // What is planted is refused at once, before any wait on the port.
        EXPECT_EQ(wait_for(pid, row.trouble >= FIFO ? 5 : 20), 1);
        EXPECT_EQ(read_file("/tmp/p.out"), row.out);
        EXPECT_EQ(read_file("/tmp/p.err"), ends(row.err, cable));
        EXPECT_EQ(read_file("/tmp/target"), "kept");
        EXPECT_FALSE(row.trouble == BACKGROUND && file_exists(row.file));
        struct stat after = {};
        EXPECT_TRUE(row.trouble < FIFO ||
                    (lstat(row.file, &after) == 0 && after.st_mode == planted.st_mode &&
                     after.st_rdev == planted.st_rdev));
        EXPECT_TRUE(row.trouble != FULL || read_file(row.file).empty());
        EXPECT_TRUE((row.trouble != FULL && row.trouble != NODE) || ns.umount(row.file));
        EXPECT_TRUE(row.trouble != DIR || rmdir(row.file) == 0);
        if (row.trouble == HANG_UP) {
            // What the port took, nothing more: whole pattern lines, then part of one.
            std::string kept = read_file(row.file);
            EXPECT_EQ(kept, repeat(P + "\n", kept.size() / 31) + P.substr(0, kept.size() % 31));
        }
    }
}

} // namespace
