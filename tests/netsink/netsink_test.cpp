// netsink run as a program over ::1, fed by the pattern client: whole
// outputs, exit statuses, signals, and the command-line and address cases.
#include "blockpeer/peer.h"
#include "platform/hostname.h"
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace
{

// n clients connected at once; returns once netsink has a receiver for each.
std::vector<int> connect_all(const Spawned &s, int port, int n)
{
    std::vector<int> fds;
    for (int i = 0; i < n; i++) fds.push_back(peer_connect("::1", port));
    EXPECT_EQ(s.children(n).size(), size_t(n));
    return fds;
}

// Each client, in a thread of its own, sends what send says and closes.
void send_each(const std::vector<int> &fds, const std::function<bool(int fd, int i)> &send)
{
    std::vector<std::thread> clients;
    for (int i = 0; i < (int)fds.size(); i++)
        clients.emplace_back([&, i] {
            EXPECT_TRUE(send(fds[i], i));
            close(fds[i]);
        });
    for (auto &t : clients) t.join();
}

// n clients of `blocks` fast blocks each, under strace: its count of
// rt_sigprocmask calls (on standard error) is small, not one per block.
void traced(Spawned &s, int port, int n, long blocks)
{
    std::vector<int> fds;
    for (int i = 0; i < n; i++) fds.push_back(peer_connect("::1", port));
    send_each(fds, [&](int fd, int) { return peer_send(fd, {.blocks = blocks, .fast = true}); });
    std::string err = (s.wait(), s.err());
    EXPECT_LE(atol(err.c_str() + err.rfind('\n', err.find(" rt_sigprocmask")) + 1), 10 * n) << err;
}

// The clients of each run of clients.txt, in its order: n clients that
// connect at once and send `plan` each, or what `play` does; `times` times
// over (i counts them).
struct Play {
    int times = 1, n = 1;
    PeerPlan plan = {};
    void (*play)(Spawned &s, int port, int i) = nullptr;
} plays[] = {
    // ten blocks each from 3 and from 20 clients; a pause, then half a block;
    // a wrong byte in block 2 and in block 0
    {.n = 3},
    {.n = 20},
    {.plan = {.blocks = 5, .pause_after = 1, .pause_s = 3.5, .tail = 33280}},
    {.plan = {.blocks = 3, .bad_block = 2, .bad_pos = 100}},
    {.plan = {.blocks = 1, .bad_block = 0, .bad_pos = 3}},
    // SIGHUP and SIGTERM while connection 1's client pauses
    {.play =
         [](Spawned &s, int port, int) {
             std::vector<int> fds = connect_all(s, port, 2);
             pid_t r1 = s.children(2).at(1);
             EXPECT_TRUE(peer_send(fds[1], {.blocks = 4}));
             ASSERT_TRUE(asleep_in(r1, SYS_recvfrom)); // all sent is read
             kill(r1, SIGHUP);
             kill(r1, SIGTERM);
             peer_send(fds[1], {.blocks = 1});
             close(fds[1]);
             close(fds[0]);
         }},
    // SIGKILL to a receiver
    {.play =
         [](Spawned &s, int port, int) {
             int fd = connect_all(s, port, 1)[0];
             EXPECT_TRUE(peer_send(fd, {}));
             kill(s.children(1).at(0), SIGKILL);
             close(fd);
         }},
    // three termination signals together
    {.times = 32,
     .play =
         [](Spawned &s, int port, int i) {
             int fd = connect_all(s, port, 1)[0];
             std::thread peer([fd] { peer_send(fd, {.blocks = 1L << 30, .fast = true}); });
             pid_t r = s.children(1).at(0);
             usleep(50000);
             kill_in_turn(r, {SIGTERM, SIGINT, SIGHUP}, i / 4 * 10); // gaps of 0 to 70 us
             if (!poll_until(10, [r] { return has_ended(r); })) kill(r, SIGKILL); // the send fails
             peer.join();
             close(fd);
         }},
    // 64 hostile clients
    {.play =
         [](Spawned &s, int port, int) {
             send_each(connect_all(s, port, 64), [](int fd, int i) {
                 return i % 4 == 1 ? write(fd, " ", 1) == 1
                                   : i % 2 == 1 || peer_send(fd, {.blocks = 3});
             });
             s.wait();
             EXPECT_EQ(count_of(s.out(), " 0 blocks."), 32);
             EXPECT_EQ(count_of(s.out(), " 3 blocks."), 32);
         }},
    // a reset beside a stall
    {.play =
         [](Spawned &s, int port, int) {
             std::vector<int> fds = connect_all(s, port, 2);
             linger reset{1, 0};
             setsockopt(fds[0], SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
             close(fds[0]);
             EXPECT_TRUE(peer_send(fds[1], {.blocks = 2, .pause_after = 1, .pause_s = 3.5}));
             close(fds[1]);
             EXPECT_TRUE(contains(s.err(), "err at 0: ") || contains(s.err(), "err at 1: "));
         }},
    // SIGTERM inside a block
    {.play =
         [](Spawned &s, int port, int) {
             int fd = connect_all(s, port, 1)[0];
             pid_t r = s.children(1).at(0);
             EXPECT_TRUE(peer_send(fd, {.blocks = 2, .tail = 1000}));
             ASSERT_TRUE(asleep_in(r, SYS_recvfrom));
             kill(r, SIGTERM);
             usleep(300000);
             EXPECT_FALSE(has_ended(r));
             EXPECT_EQ(write(fd, "R", 1), 1); // byte 1000 of the third block
             EXPECT_TRUE(poll_until(10, [r] { return has_ended(r); }));
             close(fd);
         }},
    // system calls counted
    {.play = [](Spawned &s, int port, int) { traced(s, port, 1, 1000); }},
    {.play = [](Spawned &s, int port, int) { traced(s, port, 4, 250); }},
};

// The lines of a bad block's listing from position `from` to 66558.
std::string rest_from(int from)
{
    std::string lines;
    for (int i = from; i < 66559; i++)
        lines += "\n2> !ERROR: (server) " + std::to_string(i) + ": <*>";
    return lines.substr(1);
}

} // namespace

TEST(Netsink, Clients)
{
    const Values fixed = {{"<REST FROM 102>", rest_from(102)},
                          {"<REST FROM 5>", rest_from(5)},
                          {"<NETSINK>", bin_path("netsink")}};
    for (size_t k = 0; k < std::size(plays); k++)
        for (int i = 0; i < plays[k].times; i++) {
            int port = free_port();
            Values values = fixed;
            values.push_back({"<P>", std::to_string(port)});
            std::vector<RunSpec> runs = runs_in("tests/netsink/transcripts/clients.txt", values);
            ASSERT_EQ(runs.size(), std::size(plays));
            SCOPED_TRACE("run " + std::to_string(k + 1) + ", time " + std::to_string(i + 1));
            Spawned s(runs[k]);
            const Play &p = plays[k];
            if (p.play)
                p.play(s, port, i);
            else
                send_each(connect_all(s, port, p.n),
                          [&](int fd, int) { return peer_send(fd, p.plan); });
            s.expect(runs[k]);
            EXPECT_EQ(count_of(s.err(), " !!"), count_of(runs[k].err, " !!"));
        }
}

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

    int port = free_port(), busy_port = free_port(), busy = bound_socket(busy_port, true);
    auto runs = runs_in("tests/netsink/transcripts/command_lines.txt",
                        {{"<P>", std::to_string(port)}, {"<BUSY>", std::to_string(busy_port)}});
    ASSERT_EQ(runs.size(), 19u);
    for (size_t i = 0; i + 1 < runs.size(); i++) expect_run(runs[i]);
    close(busy);
    Spawned v6(runs.back()); // the last takes a client over ::1
    EXPECT_TRUE(peer_run("::1", port, {.blocks = 3}));
    v6.expect(runs.back());
}
