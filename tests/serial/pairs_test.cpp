// The four pairs end to end over a socat cable at 460800, each test in a
// private /tmp, and portlisten's drain phase. Waiting for queued output
// returns at once on a pseudo-terminal, so txpace's final flush may throw
// away the end of the transfer and the marker before the cable has carried
// them: its receiver gets a time limit and the capture files are compared up
// to what arrived (the lab compares them whole on real UARTs). porttalk waits
// 10 seconds before its flush, so its pair is compared whole here too.
#include "tests/support/cable.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace
{

using Pair = PrivateTmpTest;

TEST_F(Pair, FlowControl)
{
    struct Row {
        const char *mode, *runtime, *banner;
        bool some; // whether blocks are sent at all
    } rows[] = {
        {"-s", "RUNTIME=32", "Software flow control\n", true},
        {"-n", "RUNTIME=32", "No flow control\n", true},
        {"-s", "RUNTIME=30", "Software flow control\n", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + row.runtime);
        unlink("/tmp/rxpace.tmp");
        unlink("/tmp/txpace.tmp");
        Cable cable(Cable::DATA);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        pid_t rx = launch("rx", "rxpace", {row.mode, "-d", cable.a, "-b", "460800"});
        ASSERT_TRUE(poll_until(20, [&] { return file_exists("/tmp/rxpace.tmp"); }));
        pid_t tx = launch("tx", "txpace", {row.mode, "-d", cable.b, "-b", "460800"}, {row.runtime});
        EXPECT_EQ(wait_for(tx, 60), 0);
        bool stopped;
        EXPECT_EQ(wait_for(rx, 3, SIGTERM, &stopped), 0);
        EXPECT_EQ(read_file("/tmp/tx.out"), row.banner);
        EXPECT_EQ(read_file("/tmp/tx.err") + read_file("/tmp/rx.out") + read_file("/tmp/rx.err"),
                  "");
        std::string sent = read_file("/tmp/txpace.tmp"), got = read_file("/tmp/rxpace.tmp");
        if (row.mode == std::string("-n")) {
            EXPECT_FALSE(file_exists("/tmp/txpace.tmp"));
            EXPECT_EQ(got, stopped ? "" : "PASS");
        } else {
            long n = blocks_in(sent);
            EXPECT_TRUE(row.some ? n > 0 : n == 0) << n;
            EXPECT_TRUE(!row.some || got.size() > 31) << "nothing arrived";
            if (stopped)
                EXPECT_EQ(sent.compare(0, got.size(), got), 0) << "not a prefix of what was sent";
            else
                EXPECT_EQ(got, sent);
        }
        printf("%s %s: the marker %s\n", row.mode, row.runtime,
               stopped ? "was flushed away before the cable carried it" : "arrived");
    }
}

// porttalk sends for RUNTIME - 34 seconds, then waits 10.
void transfer(const char *runtime, bool some)
{
    unlink("/tmp/portlisten.tmp");
    unlink("/tmp/porttalk.tmp");
    Cable cable(Cable::DATA);
    if (!cable.ok()) GTEST_SKIP() << cable.error;
    pid_t rx = launch("rx", "portlisten", {"-d", cable.a, "-b", "460800"});
    // Past its drain phase once the capture file is there.
    ASSERT_TRUE(poll_until(20, [&] { return file_exists("/tmp/portlisten.tmp"); }));
    pid_t tx = launch("tx", "porttalk", {"-d", cable.b, "-b", "460800"}, {runtime});
    EXPECT_EQ(wait_for(rx, 60), 0);
    EXPECT_EQ(wait_for(tx, 60), 0);
    for (auto f : {"rx.out", "rx.err", "tx.out", "tx.err"})
        EXPECT_EQ(read_file(std::string("/tmp/") + f), "") << f;
    std::string sent = read_file("/tmp/porttalk.tmp");
    long n = blocks_in(sent);
    EXPECT_TRUE(some ? n > 0 : n == 0) << n;
    EXPECT_EQ(read_file("/tmp/portlisten.tmp"), sent);
}

TEST_F(Pair, ReceiveAndTransmit)
{
    transfer("RUNTIME=36", true);
}

TEST_F(Pair, ReceiveAndTransmitWithoutTime)
{
    transfer("RUNTIME=34", false);
}

// lanerx records the last -d given, -m changes nothing; its reads add up to
// one block. lanetx, once lanerx has gone, is read by a sink so that its
// budget can end it.
TEST_F(Pair, DeviceInputAndOutput)
{
    Cable cable(Cable::DATA);
    if (!cable.ok()) GTEST_SKIP() << cable.error;
    write_file("/tmp/devnam", "an earlier run's device\n");
    pid_t rx = launch("rx", "lanerx",
                      {"-v", "-d", "/nonexistent", "-m", "5", "-d", cable.a, "-b", "460800"});
    ASSERT_TRUE(poll_until(20, [&] { return has_opened(rx, cable.a); }));
    pid_t tx = launch("tx", "lanetx", {"-d", cable.b, "-b", "460800"}, {"RUNPRD=1"});
    EXPECT_EQ(wait_for(rx, 20), 0);
    cable.sink(cable.fd_a);
    EXPECT_EQ(wait_for(tx, 20), 0);
    EXPECT_EQ(read_file("/tmp/devnam"), cable.a);
    long sum = 0;
    for (const std::string &l : split_lines(read_file("/tmp/rx.out"))) {
        long pid, n;
        ASSERT_EQ(sscanf(l.c_str(), "R%ld %ld", &pid, &n), 2) << l;
        EXPECT_EQ(pid, rx);
        sum += n;
    }
    EXPECT_EQ(sum, 30);
    EXPECT_EQ(read_file("/tmp/rx.err") + read_file("/tmp/tx.out") + read_file("/tmp/tx.err"), "");
}

// portlisten first empties its port: nothing queued ends that at once; a
// peer that keeps the queue full holds it there for its 4 seconds, each read
// echoed after "portlisten:" up to its first NUL. The echo goes to a pipe
// read slowly, so that the reader cannot outrun the peer. The peer holds the
// pseudo-terminal's other side itself and tops it up every millisecond:
// through socat the queue ran dry now and then, socat waiting for room that
// had come without waking it.
TEST_F(Pair, DrainPhase)
{
    for (bool flood : {false, true}) {
        SCOPED_TRACE(flood ? "a peer that keeps sending" : "nothing queued");
        unlink("/tmp/portlisten.tmp");
        int side = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(side >= 0 && grantpt(side) == 0 && unlockpt(side) == 0);
        const std::string port = ptsname(side);
        termios raw;
        ASSERT_EQ(tcgetattr(side, &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(side, TCSANOW, &raw), 0);
        pid_t peer = -1;
        if (flood) {
            peer = fork();
            if (peer == 0) {
                std::string chunk;
                for (int i = 0; i < 512; i++) chunk += std::string("abcdefg\0", 8);
                for (;;)
                    if (write(side, chunk.data(), chunk.size()) < 0) usleep(1000);
            }
            usleep(300000);
        }
        unlink("/tmp/echo");
        ASSERT_EQ(mkfifo("/tmp/echo", 0600), 0);
        int echo = open("/tmp/echo", O_RDONLY | O_NONBLOCK);
        fcntl(echo, F_SETPIPE_SZ, 4096);
        auto started = std::chrono::steady_clock::now();
        pid_t rx = spawn({bin_path("portlisten"), "-d", port}, "", "/tmp/rx.out", "/tmp/echo");
        std::string err;
        auto take = [&] {
            char buf[64];
            ssize_t n = read(echo, buf, sizeof buf);
            if (n > 0) err.append(buf, n);
            return n;
        };
        ASSERT_TRUE(poll_until(30, [&] {
            take();
            usleep(2000);
            return file_exists("/tmp/portlisten.tmp");
        }));
        double drained =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        kill(rx, SIGTERM);
        EXPECT_EQ(wait_for(rx, 20), 0);
        while (take() > 0) {
        }
        close(echo);
        if (peer > 0) {
            kill(peer, SIGKILL);
            waitpid(peer, nullptr, 0);
        }
        close(side);
        if (!flood) {
            EXPECT_LT(drained, 2.5);
            EXPECT_EQ(err, "");
            continue;
        }
        // The budget is whole seconds from now: 3 to 4 seconds.
        EXPECT_GT(drained, 2.5);
        EXPECT_EQ(err.find('\0'), std::string::npos);
        int reads = 0;
        for (size_t at = 0; at < err.size(); reads++) {
            ASSERT_EQ(err.compare(at, 11, "portlisten:"), 0) << err.substr(at, 40);
            size_t next = err.find("portlisten:", at + 11);
            std::string piece =
                err.substr(at + 11, next == std::string::npos ? next : next - at - 11);
            EXPECT_NE(std::string("abcdefg").find(piece), std::string::npos) << piece;
            at = next == std::string::npos ? err.size() : next;
        }
        EXPECT_GT(reads, 100);
    }
}

} // namespace

// The cable pulled in the middle of a transfer: each program on end A, the
// test as the peer on end B (sending a few blocks, or reading what comes),
// then socat killed. Every program ends at once, long before its budget, with
// its designed verdict or failure: on a pseudo-terminal both the waiting
// reader and the writer get an I/O error.
TEST_F(Pair, CablePulledMidTransfer)
{
    const std::string EIO_ = ": Input/output error\n";
    struct Row {
        const char *prog;
        std::vector<std::string> args; // before -b and -d
        const char *env;
        bool receives;
        std::string out, err; // the end of standard output; all of standard error
    } rows[] = {
        {"rxpace", {"-s"}, "", true, "", "!ERROR:Read error." + EIO_},
        {"portlisten", {}, "", true, "", "!ERROR:Read error.\n"},
        {"lineclose-rx",
         {},
         "RUNTIME=60",
         true,
         "",
         "<A>" + EIO_ + "!ERROR: Device read failed.\n" + EIO_},
        {"lanerx", {}, "", true, "", "<A>" + EIO_ + "!ERROR: Device read failed.\n" + EIO_},
        {"txpace",
         {"-s"},
         "RUNTIME=90",
         false,
         "Software flow control\n!ERROR: Device write failed.\n",
         ""},
        {"porttalk",
         {},
         "RUNTIME=94",
         false,
         "",
         "<A>" + EIO_ + "!ERROR: Device write failed.\n" + EIO_},
        {"lineclose-tx", {}, "RUNTIME=60", false, "!PASS: Hang up on last close\n", ""},
        {"lanetx", {}, "RUNPRD=60", false, "", "!ERROR: write failed\n" + EIO_},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.prog);
        Cable cable(Cable::DATA);
        if (!cable.ok()) GTEST_SKIP() << cable.error;
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"-b", "153600", "-d", cable.a});
        pid_t p = launch("p", row.prog, args, {row.env});
        ASSERT_TRUE(poll_until(20, [&] { return has_opened(p, cable.a); }));
        // Less than a block for lanerx, which ends after one; portlisten
        // first drains what is queued.
        if (row.receives) {
            sleep(row.prog == std::string("portlisten") ? 2 : 0);
            ASSERT_TRUE(cable.put(
                cable.fd_b, row.prog == std::string("lanerx") ? "QwErH" : repeat(PATTERN, 3)));
        } else {
            cable.sink(cable.fd_b);
        }
        sleep(1);
        cable.pull();
        EXPECT_EQ(wait_for(p, 10), 1);
        const Values end_a = {{"<A>", cable.a}};
        std::string out = read_file("/tmp/p.out");
        EXPECT_TRUE(ends_with(out, row.out)) << out;
        EXPECT_EQ(read_file("/tmp/p.err"), fill(row.err, end_a));
    }
}
