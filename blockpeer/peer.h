// The far end of netsink, for a lab's machines, its tests and its benchmark: a
// client that connects over IPv6 and sends blocks of the pattern netsink
// verifies (66560 bytes, byte i the printable character 0x20 + i mod 95),
// optionally with one wrong byte, a pause, or a last block cut short.
#pragma once
#include <string>

constexpr int peer_block_size = 66560;

struct PeerPlan {
    long blocks = 10;    // whole blocks sent
    long bad_block = -1; // the block (from 0) that carries bad_byte ...
    int bad_pos = 0;     // ... at this position
    char bad_byte = '*';
    long pause_after = -1; // after this many blocks, pause pause_s seconds
    double pause_s = 0;
    long tail = 0;     // bytes of one more block, sent last
    bool fast = false; // as fast as it can: 16 blocks to a write
};

// A socket connected to host and port, retrying while nothing listens there
// yet or the host cannot be reached yet (its network still coming up); -1
// after timeout_s, or at once for any other failure.
int peer_connect(const std::string &host, int port, double timeout_s = 30);
// Sends what the plan says on fd; false when a write fails (the receiver
// has gone).
bool peer_send(int fd, const PeerPlan &plan);
// Connects (retrying for timeout_s), sends and closes.
bool peer_run(const std::string &host, int port, const PeerPlan &plan, double timeout_s = 30);
