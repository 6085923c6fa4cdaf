#include "blockpeer/peer.h"

#include <algorithm>
#include <cerrno>
#include <netdb.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static const char printable[] = " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

static_assert(sizeof printable == 96, "the 95 printable characters");

static void pause_for(double s)
{
    timespec ts{(time_t)s, (long)((s - (time_t)s) * 1e9)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int peer_connect(const std::string &host, int port, double timeout_s)
{
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_V4MAPPED;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return -1;
    // A connection attempt itself can take seconds (a host not answering yet):
    // the time is the clock's, not a count of pauses.
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int fd = -1;
    for (;;) {
        fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || connect(fd, res->ai_addr, res->ai_addrlen) == 0) break;
        int err = errno;
        close(fd);
        fd = -1;
        if (err != ECONNREFUSED && err != EHOSTUNREACH && err != ENETUNREACH && err != ETIMEDOUT &&
            err != EADDRNOTAVAIL)
            break;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9 >= timeout_s) break;
        pause_for(0.01);
    }
    freeaddrinfo(res);
    return fd;
}

static bool send_all(int fd, const char *p, size_t n)
{
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= w;
    }
    return true;
}

bool peer_send(int fd, const PeerPlan &plan)
{
    const long group = plan.fast ? 16 : 1;
    std::string blocks(group * peer_block_size, ' ');
    for (size_t i = 0; i < blocks.size(); i++) blocks[i] = printable[i % peer_block_size % 95];
    for (long sent = 0; sent < plan.blocks;) {
        long n = std::min(group, plan.blocks - sent);
        if (plan.pause_after > sent) n = std::min(n, plan.pause_after - sent);
        const char *data = blocks.data();
        std::string bad;
        if (plan.bad_block >= sent && plan.bad_block < sent + n) {
            bad = blocks.substr(0, n * peer_block_size);
            bad[(plan.bad_block - sent) * peer_block_size + plan.bad_pos] = plan.bad_byte;
            data = bad.data();
        }
        if (!send_all(fd, data, n * peer_block_size)) return false;
        sent += n;
        if (sent == plan.pause_after) pause_for(plan.pause_s);
    }
    return send_all(fd, blocks.data(), std::min<long>(plan.tail, peer_block_size));
}

bool peer_run(const std::string &host, int port, const PeerPlan &plan, double timeout_s)
{
    int fd = peer_connect(host, port, timeout_s);
    if (fd < 0) return false;
    bool ok = peer_send(fd, plan);
    close(fd);
    return ok;
}
