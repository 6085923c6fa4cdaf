// netsink: accepts IPv6 TCP connections and verifies, in one receiver
// process per connection, the pattern blocks a client sends.
#pragma once
#include <csignal>

// Block size: every block received is compared as a whole (65 KiB).
extern int buflen;
// Server: OR of the non-zero wait statuses of the receivers.
extern volatile sig_atomic_t status;
// Server: connections accepted so far; receiver: its own connection number.
extern int opened;
// Receiver: complete blocks received and found correct.
extern long cnt;

// Binds host and port, accepts `connections` connections with one receiver
// each, and waits for all of them. Exits 1 on a set-up failure.
void tcp_setup(const char *host, int port, int connections);
// Reads and verifies blocks until the client closes (returns 0); exits 1 on
// a read error or a mismatch.
int receive_from_client(int sock, const char *pattern);
