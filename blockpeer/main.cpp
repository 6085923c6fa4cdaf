// blockpeer: sends netsink's pattern blocks over IPv6, netsink's far end.
//
//   blockpeer -p port [-h host] [-n blocks] [-c connections] [-f] [-r seconds]
//             [-b block:pos] [-w after:seconds] [-t tail-bytes]
//
// -r: how long each connection is tried again while the receiver does not
// listen yet or cannot be reached yet (default 30 s), so the client can be
// started first, on another machine.
// Each of the connections (default 1, each from its own process) sends the
// same plan: -n whole blocks (default 10), -b a wrong byte at pos of block,
// -w a pause after that many blocks, -t that many bytes of one more block,
// -f as fast as it can. Exit status 0 when every connection sent it all.
#include "blockpeer/peer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    std::string host = "::1";
    int port = 0, connections = 1;
    double retry_s = 30;
    PeerPlan plan;
    int c;
    while ((c = getopt(argc, argv, "p:h:n:c:fr:b:w:t:")) != -1) {
        switch (c) {
        case 'p': port = atoi(optarg); break;
        case 'h': host = optarg; break;
        case 'n': plan.blocks = atol(optarg); break;
        case 'c': connections = atoi(optarg); break;
        case 'f': plan.fast = true; break;
        case 'r': retry_s = atof(optarg); break;
        case 'b': sscanf(optarg, "%ld:%d", &plan.bad_block, &plan.bad_pos); break;
        case 'w': sscanf(optarg, "%ld:%lf", &plan.pause_after, &plan.pause_s); break;
        case 't': plan.tail = atol(optarg); break;
        default: port = 0;
        }
    }
    if (port <= 0 || port > 65535 || connections < 1 || retry_s < 0 || plan.bad_pos < 0 ||
        plan.bad_pos >= peer_block_size) {
        fprintf(
            stderr,
            "usage: blockpeer -p port [-h host] [-n blocks] [-c connections] [-f] [-r seconds]\n"
            "                 [-b block:pos] [-w after:seconds] [-t tail-bytes]\n");
        return 2;
    }
    for (int i = 0; i < connections; i++) {
        pid_t pid = fork();
        if (pid == 0) _exit(peer_run(host, port, plan, retry_s) ? 0 : 1);
        if (pid < 0) {
            perror("blockpeer: fork");
            return 1;
        }
    }
    int failed = 0, st;
    while (wait(&st) > 0) failed += !(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    if (failed) fprintf(stderr, "blockpeer: %d of %d connections failed\n", failed, connections);
    return failed ? 1 : 0;
}
