// The server: binds, accepts, forks one receiver per connection, waits.
#include "netsink/netsink.h"

#include "platform/ipnode.h"
#include "platform/sighold.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// At file scope because sig_chld and the receivers' sighup reach it.
RunState run;

// Reaps receivers that end while connections are still being accepted.
static void sig_chld(int)
{
    int saved = errno;
    int st;
    pid_t pid;
    while ((pid = waitpid(-1, &st, WNOHANG)) > 0) {
        printf("Process %ld terminated in background, status %d.\n", (long)pid, st);
        if (st != 0) {
            fprintf(stderr, "!ERROR: Child %ld terminated with error.\n", (long)pid);
            run.status = run.status | st;
        }
    }
    errno = saved;
}

static void address_of(const char *host, in6_addr *addr)
{
    if (atoi(host) > 0) {
        if (inet_pton(AF_INET6, host, addr) != 1) {
            fprintf(stderr, "!ERROR: inet_pton.\n");
            exit(1);
        }
    } else if (ipnode_by_name(host, addr->s6_addr) != 0) {
        fprintf(stderr, "!ERROR: Bad hostname.\n");
        exit(1);
    }
}

static void wait_for_receivers()
{
    for (;;) {
        int st;
        pid_t pid = waitpid(-1, &st, 0);
        if (pid < 0) {
            if (errno == ECHILD) return;
            perror("Waitpid returned -1:");
            continue;
        }
        printf("Process %ld terminated, status %d.\n", (long)pid, st);
        if (st != 0) {
            fprintf(stderr, "!ERROR: Child %ld terminated with error.\n", (long)pid);
            run.status = run.status | st;
        }
    }
}

void tcp_setup(const Settings &set)
{
    std::vector<char> pattern(set.buflen);
    for (int i = 0; i < set.buflen; i++) pattern[i] = (char)(0x20 + i % 95);

    sockaddr_in6 sin6 = {};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons(set.port);
    address_of(set.host.c_str(), &sin6.sin6_addr);
    int sock = socket(AF_INET6, SOCK_STREAM, 0);
    if (sock < 0) {
        perror("!ERROR: (server) Socket.");
        exit(1);
    }
    if (bind(sock, (sockaddr *)&sin6, sizeof sin6) != 0) {
        perror("!ERROR: (server) Bind.");
        exit(1);
    }
    printf("Server %s port %u is bound.\n", set.host.c_str(), (unsigned)set.port);
    if (listen(sock, set.connections) != 0) {
        perror("!ERROR: (server) Listen.");
        exit(1);
    }

    // The handler runs only while the server waits in accept, never in the
    // middle of its own output.
    sig_set(SIGCHLD, sig_chld);
    sig_hold({SIGCHLD});
    for (run.opened = 0; run.opened < set.connections; run.opened++) {
        int conn;
        sig_release({SIGCHLD});
        while ((conn = accept(sock, nullptr, nullptr)) < 0 && errno == EINTR) {
        }
        sig_hold({SIGCHLD});
        if (conn < 0) {
            perror("!ERROR: (server) Accept.");
            exit(1);
        }
        // Each receiver would otherwise write out what is buffered again.
        fflush(stdout);
        fflush(stderr);
        pid_t pid = fork();
        if (pid == 0) {
            close(sock);
            receive_from_client(conn, pattern.data(), set);
            close(conn);
            exit(0);
        }
        close(conn);
        if (pid < 0) {
            perror("!ERROR: Fork failed. (not attempting any more forks)");
            break;
        }
    }
    close(sock);
    sig_set(SIGCHLD, SIG_DFL);
    sig_release({SIGCHLD});
    printf("Waiting for child processes...\n");
    wait_for_receivers();
}
