// netsink run as a program over ::1, fed by the pattern client: whole
// outputs, exit statuses, signals, and the command-line and address cases.
#include "blockpeer/peer.h"
#include "platform/hostname.h"
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

using Lines = std::vector<std::string>;
const std::string kPass = "!PASS: No failures detected in netsink on IPv6.";
const std::string kFail = "!ERROR: Failure detected in netsink on IPv6.";

// A socket bound to ::1 at port (listening when asked), or -1.
int bound_socket(int port, bool listening)
{
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{AF_INET6, htons(port), 0, in6addr_loopback, 0};
    if (bind(fd, (sockaddr *)&a, sizeof a) == 0 && (!listening || listen(fd, 1) == 0)) return fd;
    close(fd);
    return -1;
}

// A free port below the range the kernel gives clients.
int free_port()
{
    static int next = 20000 + getpid() % 1000 * 10;
    for (int fd;; next++)
        if ((fd = bound_socket(next, false)) >= 0) return close(fd), next++;
}

Lines cat(Lines a, const Lines &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// netsink -c connections -p <free port> host in the background, its output
// in files; the test plays the clients.
struct Sink {
    TempDir dir{"netsink"};
    int port = free_port();
    std::string host;
    pid_t pid;

    explicit Sink(int connections, const std::string &host = "::1") : host(host)
    {
        pid = spawn({bin_path("netsink"), "-c", std::to_string(connections), "-p",
                     std::to_string(port), host},
                    "", dir / "out", dir / "err");
    }
    ~Sink() { wait_for(pid, 1, SIGKILL); }
    int connect() const { return peer_connect("::1", port); }
    // The receivers in the order of their fork, once there are n.
    std::vector<pid_t> receivers(size_t n) const
    {
        std::vector<pid_t> v;
        poll_until(30, [&] { return (v = children_of(pid)).size() == n; });
        return v;
    }
    // Waits for netsink; its stdout must be the bound line, `middle`, the
    // waiting line and one process line for each receiver status.
    void expect(int status, const Lines &middle, const std::vector<int> &statuses, const Lines &err)
    {
        EXPECT_EQ(wait_for(pid, 60, SIGKILL), status);
        Lines out =
            cat({"Server " + host + " port " + std::to_string(port) + " is bound."}, middle);
        out.push_back("Waiting for child processes...");
        for (int s : statuses)
            out.push_back("Process <N> terminated, status " + std::to_string(s) + ".");
        EXPECT_EQ(match_output(read_file(dir / "out"), out), "");
        EXPECT_EQ(match_output(read_file(dir / "err"), err), "");
    }
};

// Asleep in its read (the system call it waits in is recvfrom): everything
// sent so far is consumed (a reader sleeps only on an empty queue).
bool idle_in_read(pid_t pid)
{
    auto idle = [pid] {
        std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        std::string call = read_file("/proc/" + std::to_string(pid) + "/syscall");
        return contains(stat, ") S ") && call.rfind(std::to_string(SYS_recvfrom) + " ", 0) == 0;
    };
    return poll_until(30, [&] { return idle() && (usleep(100000), idle()); });
}

} // namespace

// Names come from a private hosts file, and from nothing else: this
// machine's name and v4name have IPv4 addresses only, v6name has an IPv4
// address before its IPv6 one.
TEST(Netsink, CommandLineAndAddresses)
{
    TempDir dir("netsink");
    MountNs ns; // unmounted before dir goes
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    char host[256];
    host_name(host, sizeof host);
    write_file(dir / "hosts", "127.0.0.1 localhost\n127.0.1.1 " + std::string(host) +
                                  "\n127.0.0.2 v4name\n127.0.0.3 v6name\n::1 v6name\n");
    write_file(dir / "nsswitch.conf", "hosts: files\n");
    ASSERT_TRUE(ns.bind(dir / "hosts", "/etc/hosts"));
    ASSERT_TRUE(ns.bind(dir / "nsswitch.conf", "/etc/nsswitch.conf"));

    int busy_port = free_port(), busy = bound_socket(busy_port, true);
    const std::string port = std::to_string(free_port());
    auto runs = runs_in("tests/netsink/transcripts/command_lines.txt",
                        {{"<P>", port}, {"<BUSY>", std::to_string(busy_port)}});
    ASSERT_EQ(runs.size(), 18u);
    for (const RunSpec &c : runs) expect_run(c);
    close(busy);

    // An IPv4 client finds nothing listening for v4name; v6name takes one
    // over ::1.
    Sink v4(1, "v4name");
    int fd = peer_connect("127.0.0.2", v4.port, 2);
    EXPECT_LT(fd, 0) << "an IPv4 client was taken";
    if (fd >= 0) close(fd);
    EXPECT_EQ(wait_for(v4.pid, 10, SIGKILL), 1);
    EXPECT_EQ(read_file(v4.dir / "out"), "");
    EXPECT_EQ(read_file(v4.dir / "err"), "!ERROR: Bad hostname.\n");
    Sink v6(1, "v6name");
    EXPECT_TRUE(peer_run("::1", v6.port, {.blocks = 3}));
    v6.expect(0, {"EOF <N> secs, 3 blocks."}, {0}, {kPass});
}

TEST(Netsink, ConcurrentClientsOfTenBlocksEach)
{
    for (int n : {3, 20}) {
        Sink s(n);
        std::vector<int> fds;
        for (int i = 0; i < n; i++) fds.push_back(s.connect());
        // All accepted before any ends: no receiver ends in the background.
        ASSERT_EQ(s.receivers(n).size(), size_t(n));
        std::vector<std::thread> clients;
        for (int fd : fds)
            clients.emplace_back([fd] {
                EXPECT_TRUE(peer_send(fd, {}));
                close(fd);
            });
        for (auto &t : clients) t.join();
        // Captured in a file, yet the bound line only once.
        s.expect(0, Lines(n, "EOF <N> secs, 10 blocks."), std::vector<int>(n, 0), {kPass});
    }
}

TEST(Netsink, ClientPausesThenClosesInsideTheSixthBlock)
{
    // The partial block is not checked; the pause gives the warning, which
    // has no line end of its own.
    Sink s(1);
    EXPECT_TRUE(
        peer_run("::1", s.port, {.blocks = 5, .pause_after = 1, .pause_s = 3.5, .tail = 33280}));
    s.expect(0, {"EOF <N> secs, 5 blocks."}, {0}, {"!WARNING: waited <N> seconds: " + kPass});
}

TEST(Netsink, WrongByteListsTheBlockFromTenBytesBefore)
{
    struct {
        long block;
        int pos, first;
        Lines head; // the listing from `first`, worked out by hand
    } cases[] = {
        {2,
         100,
         90,
         {"90: z z", "91: { {", "92: | |", "93: } }", "94: ~ ~", "95:    ", "96: ! !", "97: \" \"",
          "98: # #", "99: $ $", "100: % * !!", "101: & &"}},
        {0, 3, 0, {"0:    ", "1: ! !", "2: \" \"", "3: # * !!", "4: $ $"}},
    };
    for (auto &c : cases) {
        Sink s(1);
        EXPECT_TRUE(peer_run("::1", s.port,
                             {.blocks = c.block + 1, .bad_block = c.block, .bad_pos = c.pos}));
        Lines err = {"!ERROR: (server) Data mismatch in block " + std::to_string(c.block) + ".",
                     "!ERROR: (server) Bad data starts at " + std::to_string(c.pos) + "."};
        for (int i = c.first; i < 66560; i++) {
            // Every position to the end of the block; the characters are
            // checked on the hand-worked lines and the last.
            size_t k = i - c.first;
            err.push_back("!ERROR: (server) " + (k < c.head.size() ? c.head[k]
                                                 : i == 66559      ? "66559: [ ["
                                                                   : std::to_string(i) + ": <*>"));
        }
        s.expect(1, {}, {256}, cat(err, {"!ERROR: Child <N> terminated with error.", kFail}));
        EXPECT_EQ(count_of(read_file(s.dir / "err"), "!!"), 1);
    }
}

TEST(Netsink, TerminationSignals)
{
    {
        // SIGHUP, then SIGTERM to connection 1's receiver while its client
        // pauses: held until the next read returns; SIGTERM is acted on
        // first, with the blocks verified so far.
        Sink s(2);
        int first = s.connect();
        pid_t r0 = s.receivers(1).at(0);
        int second = s.connect();
        std::vector<pid_t> both = s.receivers(2);
        ASSERT_EQ(both.size(), 2u);
        pid_t r1 = both[0] == r0 ? both[1] : both[0];
        EXPECT_TRUE(peer_send(second, {.blocks = 4}));
        ASSERT_TRUE(idle_in_read(r1));
        kill(r1, SIGHUP);
        kill(r1, SIGTERM);
        peer_send(second, {.blocks = 1});
        close(second);
        close(first);
        s.expect(0, {"EOF <N> secs, 0 blocks."}, {0, 0},
                 {"!ERROR: Server 1 killed (signal 15) receiving block 4.", kPass});
    }
    {
        Sink s(1);
        int fd = s.connect();
        EXPECT_TRUE(peer_send(fd, {}));
        kill(s.receivers(1).at(0), SIGKILL);
        s.expect(1, {}, {9}, {"!ERROR: Child <N> terminated with error.", kFail});
        close(fd);
    }
}

// SIGTERM, SIGINT and SIGHUP sent together, a few microseconds apart, to a
// receiver fed as fast as the client can: one "killed" line, for the first
// signal taken, whose handler holds the others. Taken inside that handler, a
// second one printed its own line too. Held in a read, SIGTERM is released
// first; pending at once between reads, Linux takes the lowest-numbered. The
// gaps grow from 0 to 70 microseconds.
TEST(Netsink, TerminationSignalsTogetherReportOnce)
{
    for (int i = 0; i < 32; i++) {
        int gap_us = i / 4 * 10;
        SCOPED_TRACE("gap " + std::to_string(gap_us));
        Sink s(1);
        int fd = s.connect();
        std::thread peer([fd] { peer_send(fd, {.blocks = 1L << 30, .fast = true}); });
        pid_t r = s.receivers(1).at(0);
        usleep(50000);
        kill_in_turn(r, {SIGTERM, SIGINT, SIGHUP}, gap_us);
        bool ended = poll_until(10, [r] { return has_ended(r); });
        EXPECT_TRUE(ended);
        if (!ended) kill(r, SIGKILL); // and the client's send fails
        peer.join();
        close(fd);
        s.expect(0, {}, {0}, {"!ERROR: Server 0 killed (signal <N>) receiving block <N>.", kPass});
    }
}

// Hostile clients: 64 at once that send nothing, one byte, or three good
// blocks, all passed; then one that resets the connection (a read error: the
// failure verdict) beside one that stalls and then finishes (the warning).
// Every wait ends and no receiver is left behind.
TEST(Netsink, HostilePeers)
{
    {
        Sink s(64);
        std::vector<int> fds;
        for (int i = 0; i < 64; i++) fds.push_back(s.connect());
        ASSERT_EQ(s.receivers(64).size(), 64u);
        std::vector<std::thread> clients;
        for (int i = 0; i < 64; i++)
            clients.emplace_back([fd = fds[i], i] {
                bool sent = i % 4 == 1   ? write(fd, " ", 1) == 1
                            : i % 2 == 0 ? peer_send(fd, {.blocks = 3})
                                         : true;
                EXPECT_TRUE(sent);
                close(fd);
            });
        for (auto &t : clients) t.join();
        s.expect(0, Lines(64, "EOF <N> secs, <N> blocks."), std::vector<int>(64, 0), {kPass});
        std::string out = read_file(s.dir / "out");
        EXPECT_EQ(count_of(out, " 0 blocks."), 32);
        EXPECT_EQ(count_of(out, " 3 blocks."), 32);
        EXPECT_TRUE(children_of(s.pid).empty());
    }
    {
        Sink s(2);
        int reset = s.connect(), stall = s.connect();
        ASSERT_EQ(s.receivers(2).size(), 2u);
        linger abort{1, 0};
        setsockopt(reset, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(reset);
        EXPECT_TRUE(peer_send(stall, {.blocks = 2, .pause_after = 1, .pause_s = 3.5}));
        close(stall);
        EXPECT_EQ(wait_for(s.pid, 60, SIGKILL), 1);
        std::string err = read_file(s.dir / "err");
        // "err at" counts whole seconds from the receiver's start: 0, or 1
        // when the clock ticks over before the reset comes.
        for (const char *line : {"!ERROR: (server) Read.: Connection reset by peer\n",
                                 "!ERROR: (server) err at ", ": block 0.\n", "!WARNING: waited "})
            EXPECT_EQ(count_of(err, line), 1) << err;
        EXPECT_TRUE(contains(err, "err at 0: block 0.\n") || contains(err, "err at 1: block 0.\n"))
            << err;
        EXPECT_EQ(count_of(err, " terminated with error.\n"), 1) << err;
        EXPECT_TRUE(ends_with(err, kFail + "\n")) << err; // the warning has no line end
        EXPECT_EQ(count_of(read_file(s.dir / "out"), " secs, 2 blocks.\n"), 1);
    }
}

// A receiver reads a whole block per call, yet a signal that comes while its
// client stops inside a block is acted on when the next data comes, as with
// the signal held in a read of whatever is there: not at once, and not only
// when the block is complete.
TEST(Netsink, SignalInsideABlockWaitsForTheNextData)
{
    Sink s(1);
    int fd = s.connect();
    pid_t r = s.receivers(1).at(0);
    EXPECT_TRUE(peer_send(fd, {.blocks = 2, .tail = 1000}));
    ASSERT_TRUE(idle_in_read(r));
    kill(r, SIGTERM);
    usleep(300000);
    EXPECT_FALSE(has_ended(r));
    EXPECT_EQ(write(fd, "R", 1), 1); // byte 1000 of the third block
    EXPECT_TRUE(poll_until(10, [r] { return has_ended(r); }));
    close(fd);
    s.expect(0, {}, {0}, {"!ERROR: Server 0 killed (signal 15) receiving block 2.", kPass});
}

// The receivers' system calls, counted by strace over all of netsink's
// processes: per block one read of the whole block, however the bytes
// arrive, and no signal mask changed or looked at per block. Expected counts
// worked out by hand: a read per block and one more for the end of each
// stream.
TEST(Netsink, OneReadPerBlock)
{
    struct {
        int connections;
        long blocks; // per connection
        std::string calls;
    } cases[] = {
        {1, 1000, "recvfrom 1001, rt_sigpending 0"},
        {4, 250, "recvfrom 1004, rt_sigpending 0"},
    };
    for (auto &c : cases) {
        TempDir dir("netsink");
        int port = free_port();
        pid_t pid = spawn({"/usr/bin/strace", "-f", "-qq", "-c", "-U", "calls,name", "-e",
                           "trace=recvfrom,rt_sigpending,rt_sigprocmask", "-o", dir / "calls",
                           bin_path("netsink"), "-c", std::to_string(c.connections), "-p",
                           std::to_string(port), "::1"},
                          "", dir / "out", dir / "err", [] {
                              // The sanitizer build's leak check cannot run under strace.
                              const char *a = getenv("ASAN_OPTIONS");
                              setenv("ASAN_OPTIONS",
                                     (std::string(a ? a : "") + ":detect_leaks=0").c_str(), 1);
                          });
        std::vector<std::thread> clients;
        for (int i = 0; i < c.connections; i++)
            clients.emplace_back(
                [&] { EXPECT_TRUE(peer_run("::1", port, {.blocks = c.blocks, .fast = true})); });
        for (auto &t : clients) t.join();
        EXPECT_EQ(wait_for(pid, 60, SIGKILL), 0);
        std::map<std::string, long> n;
        for (const std::string &line : split_lines(read_file(dir / "calls"))) {
            std::istringstream in(line);
            long count;
            std::string name;
            if (in >> count >> name) n[name] = count;
        }
        EXPECT_EQ("recvfrom " + std::to_string(n["recvfrom"]) + ", rt_sigpending " +
                      std::to_string(n["rt_sigpending"]),
                  c.calls);
        EXPECT_LE(n["rt_sigprocmask"], 10 * c.connections) << read_file(dir / "calls");
        EXPECT_EQ(read_file(dir / "err"), kPass + "\n");
    }
}
