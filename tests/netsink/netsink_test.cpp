// netsink run as a program over ::1, fed by the pattern client: whole
// outputs, exit statuses, signals, and the command-line and address cases.
#include "platform/hostname.h"
#include "tests/support/blockpeer.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

const std::string kPass = "!PASS: No failures detected in netsink on IPv6.";
const std::string kFail = "!ERROR: Failure detected in netsink on IPv6.";
const std::string kUsage = "!ERROR: (server) Usage: netsink [-p port] [-c connections ] hostname\n";

// A socket on ::1 at port (0: a free one below the range the kernel gives
// clients); listening when asked. -1 when the port is taken.
int bound_socket(int port, bool listening)
{
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    if (bind(fd, (sockaddr *)&a, sizeof a) == 0 && (!listening || listen(fd, 1) == 0)) return fd;
    close(fd);
    return -1;
}

int free_port()
{
    static int next = 20000 + getpid() % 1000 * 10;
    for (;; next++) {
        int fd = bound_socket(next, false);
        if (fd < 0) continue;
        close(fd);
        return next++;
    }
}

// netsink on ::1 and a free port, running in the background with its
// output in files; the test plays the clients.
struct Sink {
    TempDir dir{"netsink"};
    int port = free_port();
    pid_t pid;

    explicit Sink(const std::string &connections)
    {
        pid = spawn({bin_path("netsink"), "-c", connections, "-p", std::to_string(port), "::1"}, "",
                    dir / "out", dir / "err");
    }
    ~Sink()
    {
        if (pid > 0) wait_for(pid, 1);
    }
    int connect() const { return peer_connect("::1", port); }
    // The receivers, in the order they were forked, once there are n.
    std::vector<pid_t> receivers(size_t n) const
    {
        std::vector<pid_t> v;
        poll_until(30, [&] {
            std::ifstream f("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                            "/children");
            v.clear();
            for (pid_t p; f >> p;) v.push_back(p);
            return v.size() == n;
        });
        return v;
    }
    RunResult finish()
    {
        RunResult r;
        int st = wait_for(pid, 60);
        pid = -1;
        r.exited = st != -1 && WIFEXITED(st);
        r.status = r.exited ? WEXITSTATUS(st) : -1;
        r.out = read_file(dir / "out");
        r.err = read_file(dir / "err");
        return r;
    }
    std::vector<std::string> bound() const
    {
        return {"Server ::1 port " + std::to_string(port) + " is bound."};
    }
};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> times(int n, const std::string &line)
{
    return std::vector<std::string>(n, line);
}

// Asleep in a read with the termination signals held, everything sent so
// far consumed (the kernel puts a reader to sleep only on an empty queue).
bool idle_in_read(pid_t pid)
{
    auto idle = [pid] {
        std::string st = read_file("/proc/" + std::to_string(pid) + "/stat");
        std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
        size_t blk = status.find("SigBlk:\t");
        return contains(st, ") S ") && blk != std::string::npos &&
               (std::stoull(status.substr(blk + 8), nullptr, 16) & (1ull << (SIGTERM - 1)));
    };
    return poll_until(30, [&] { return idle() && (usleep(100000), idle()); });
}

} // namespace

TEST(Netsink, CommandLineAndAddresses)
{
    char host[256];
    host_name(host, sizeof host);
    bool host_resolves = shell(std::string("getent ahostsv6 '") + host + "' >/dev/null") == 0;
    int busy_port = free_port(), busy = bound_socket(busy_port, true);
    ASSERT_GE(busy, 0);
    const std::string bound = "Server <H> port <P> is bound.\nWaiting for child processes...\n";
    const std::string long_name(300, 'h');
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
        int status;
    } cases[] = {
        {{"-c", "0", "-p", "P", "::1"}, bound, kPass + "\n", 0},
        {{"-p", "P", "-c", "0", "localhost"}, bound, kPass + "\n", 0},
        {{"-c", "0", "-p", "P"},
         host_resolves ? bound : "",
         host_resolves ? kPass + "\n" : "!ERROR: Bad hostname.\n",
         host_resolves ? 0 : 1},
        {{"-p", "P", "2001:db8::1"},
         "",
         "!ERROR: (server) Bind.: Cannot assign requested address\n",
         1},
        {{"-p", "P", "1abc"}, "", "!ERROR: inet_pton.\n", 1},
        {{"-p", "P", "no-such-host.invalid"}, "", "!ERROR: Bad hostname.\n", 1},
        {{"-p", "P", long_name}, "", "!ERROR: Bad hostname.\n", 1},
        {{"-p", std::to_string(busy_port), "::1"},
         "",
         "!ERROR: (server) Bind.: Address already in use\n",
         1},
        {{"-p", "65536", "::1"}, "", kUsage, 1},
        {{"-p", "0", "::1"}, "", kUsage, 1},
        {{"-p", "-1", "::1"}, "", kUsage, 1},
        {{"-p", "4294967376", "::1"}, "", kUsage, 1},
        {{"-c", "-1", "::1"}, "", kUsage, 1},
        {{"-x", "::1"}, "", "netsink: invalid option -- 'x'\n" + kUsage, 1},
        {{"::1", "-p"}, "", "netsink: option requires an argument -- 'p'\n" + kUsage, 1},
    };
    for (const Case &c : cases) {
        std::string port = std::to_string(free_port()), shown = c.args.back();
        std::vector<std::string> args = c.args;
        for (auto &a : args) a = a == "P" ? port : a;
        if (shown == "P") shown = host;
        RunOptions opt;
        opt.argv0 = "netsink";
        opt.timeout_s = 30;
        RunResult r = run_program(bin_path("netsink"), args, opt);
        std::string out = c.out;
        if (!out.empty()) out.replace(out.find("<H>"), 3, shown).replace(out.find("<P>"), 3, port);
        std::string what = args[0] + " " + args[1] + " " + args.back();
        EXPECT_TRUE(r.exited) << what;
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.out, out) << what;
        EXPECT_EQ(r.err, c.err) << what;
    }
    close(busy);
}

TEST(Netsink, ConcurrentClientsOfTenBlocksEach)
{
    for (int n : {3, 20}) {
        Sink s(std::to_string(n));
        std::vector<int> fds;
        for (int i = 0; i < n; i++) fds.push_back(s.connect());
        // All accepted before any ends, so no receiver ends in the background.
        ASSERT_EQ(s.receivers(n).size(), size_t(n));
        std::vector<std::thread> clients;
        for (int fd : fds)
            clients.emplace_back([fd] {
                EXPECT_TRUE(peer_send(fd, {}));
                close(fd);
            });
        for (auto &t : clients) t.join();
        RunResult r = s.finish();
        EXPECT_EQ(r.status, 0);
        // Captured in a file: the bound line only once, not again from each receiver.
        EXPECT_EQ(count_of(r.out, "is bound"), 1);
        EXPECT_EQ(
            match_output(r.out, s.bound() + times(n, "EOF <N> secs, 10 blocks.") +
                                    std::vector<std::string>{"Waiting for child processes..."} +
                                    times(n, "Process <N> terminated, status 0.")),
            "");
        EXPECT_EQ(r.err, kPass + "\n");
    }
}

TEST(Netsink, ClientPausesThenClosesInsideTheSixthBlock)
{
    // A pause of more than 2 seconds between reads gives the warning, which
    // has no line end of its own; the partial sixth block is not checked.
    Sink s("1");
    PeerPlan plan;
    plan.blocks = 5;
    plan.pause_after = 1;
    plan.pause_s = 3.5;
    plan.tail = peer_block_size / 2;
    EXPECT_TRUE(peer_run("::1", s.port, plan));
    RunResult r = s.finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(match_output(
                  r.out, s.bound() + std::vector<std::string>{"EOF <N> secs, 5 blocks.",
                                                              "Waiting for child processes...",
                                                              "Process <N> terminated, status 0."}),
              "");
    EXPECT_EQ(match_output(r.err, {"!WARNING: waited <N> seconds: " + kPass}), "");
}

TEST(Netsink, WrongByteListsTheBlockFromTenBytesBefore)
{
    struct Case {
        long block;
        int pos, first;
        std::vector<std::string> head; // the listing from `first`, worked out by hand
    } cases[] = {
        {2,
         100,
         90,
         {"90: z z", "91: { {", "92: | |", "93: } }", "94: ~ ~", "95:    ", "96: ! !", "97: \" \"",
          "98: # #", "99: $ $", "100: % * !!", "101: & &"}},
        {0, 3, 0, {"0:    ", "1: ! !", "2: \" \"", "3: # * !!", "4: $ $"}},
    };
    for (const Case &c : cases) {
        Sink s("1");
        PeerPlan plan;
        plan.blocks = c.block + 1;
        plan.bad_block = c.block;
        plan.bad_pos = c.pos;
        EXPECT_TRUE(peer_run("::1", s.port, plan));
        RunResult r = s.finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(match_output(r.out,
                               s.bound() +
                                   std::vector<std::string>{"Waiting for child processes...",
                                                            "Process <N> terminated, status 256."}),
                  "");
        std::vector<std::string> err = split_lines(r.err);
        const size_t listed = 66560 - c.first; // positions first..66559
        ASSERT_EQ(err.size(), listed + 4) << c.pos;
        EXPECT_EQ(err[0],
                  "!ERROR: (server) Data mismatch in block " + std::to_string(c.block) + ".");
        EXPECT_EQ(err[1], "!ERROR: (server) Bad data starts at " + std::to_string(c.pos) + ".");
        for (size_t i = 0; i < c.head.size(); i++)
            EXPECT_EQ(err[2 + i], "!ERROR: (server) " + c.head[i]);
        EXPECT_EQ(err[listed + 1], "!ERROR: (server) 66559: [ [");
        EXPECT_EQ(count_of(r.err, " !!"), 1);
        for (size_t i = 0; i < listed; i++) {
            // Every line: its position, then the expected and the received character.
            std::string prefix = "!ERROR: (server) " + std::to_string(c.first + i) + ": ";
            const std::string &l = err[2 + i];
            ASSERT_EQ(l.compare(0, prefix.size(), prefix), 0) << l;
            ASSERT_EQ(l.size(), prefix.size() + (c.first + i == size_t(c.pos) ? 6 : 3)) << l;
        }
        EXPECT_TRUE(
            match_output(err[listed + 2], {"!ERROR: Child <N> terminated with error."}).empty());
        EXPECT_EQ(err[listed + 3], kFail);
    }
}

TEST(Netsink, TerminationSignals)
{
    {
        // SIGHUP, then SIGTERM to connection 1's receiver while its client
        // pauses: held until the next read returns, then SIGTERM is acted on
        // first, with the blocks verified so far.
        Sink s("2");
        int first = s.connect();
        pid_t r0 = s.receivers(1).at(0);
        int second = s.connect();
        std::vector<pid_t> both = s.receivers(2);
        ASSERT_EQ(both.size(), 2u);
        pid_t r1 = both[0] == r0 ? both[1] : both[0];
        PeerPlan four;
        four.blocks = 4;
        EXPECT_TRUE(peer_send(second, four));
        ASSERT_TRUE(idle_in_read(r1));
        kill(r1, SIGHUP);
        kill(r1, SIGTERM);
        four.blocks = 1;
        peer_send(second, four);
        close(second);
        close(first);
        RunResult r = s.finish();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(
            match_output(r.out,
                         s.bound() + std::vector<std::string>{"EOF <N> secs, 0 blocks.",
                                                              "Waiting for child processes...",
                                                              "Process <N> terminated, status 0.",
                                                              "Process <N> terminated, status 0."}),
            "");
        EXPECT_EQ(r.err, "!ERROR: Server 1 killed (signal 15) receiving block 4.\n" + kPass + "\n");
    }
    {
        Sink s("1");
        int fd = s.connect();
        EXPECT_TRUE(peer_send(fd, {}));
        kill(s.receivers(1).at(0), SIGKILL);
        RunResult r = s.finish();
        close(fd);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(
            match_output(r.out,
                         s.bound() + std::vector<std::string>{"Waiting for child processes...",
                                                              "Process <N> terminated, status 9."}),
            "");
        EXPECT_EQ(match_output(r.err, {"!ERROR: Child <N> terminated with error.", kFail}), "");
    }
}
