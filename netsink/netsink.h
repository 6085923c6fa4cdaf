// netsink: accepts IPv6 TCP connections and verifies, in one receiver
// process per connection, the pattern blocks a client sends.
#pragma once
#include <csignal>
#include <string>

// What the command line sets: filled once by main, then only read.
struct Settings {
    std::string host;       // address or name to bind, at most 255 characters
    int port = 4004;        // TCP port to bind
    int connections = 1;    // connections to accept, and the listen backlog
    int buflen = 65 * 1024; // block size: every block received is compared as a whole
};

// What changes during a run.
struct RunState {
    // Server: OR of the non-zero wait statuses of the receivers.
    volatile sig_atomic_t status = 0;
    // Server: connections accepted so far; receiver: its own connection number.
    int opened = 0;
    // Receiver: complete blocks received and found correct.
    long cnt = 0;
};
// At file scope because the signal handlers (sig_chld, sighup) reach it.
extern RunState run;

// Binds set.host and set.port, accepts set.connections connections with one
// receiver each, and waits for all of them. Exits 1 on a set-up failure.
void tcp_setup(const Settings &set);
// Reads and verifies blocks of set.buflen bytes until the client closes
// (returns 0); exits 1 on a read error or a mismatch.
int receive_from_client(int sock, const char *pattern, const Settings &set);
