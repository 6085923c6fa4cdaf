// plainsink: the benchmark's reference receiver. Binds ::1 (or the given
// address), accepts the connections and, like netsink, reads each in its own
// process in 66560-byte blocks, but only discards what it reads: no
// comparison, no signal holding, no clock.
//
//   plainsink port connections [address]
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: plainsink port connections [address]\n");
        return 2;
    }
    int connections = atoi(argv[2]);
    sockaddr_in6 sin6 = {};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons(atoi(argv[1]));
    int sock = socket(AF_INET6, SOCK_STREAM, 0);
    if (inet_pton(AF_INET6, argc > 3 ? argv[3] : "::1", &sin6.sin6_addr) != 1 || sock < 0 ||
        bind(sock, (sockaddr *)&sin6, sizeof sin6) != 0 || listen(sock, connections) != 0) {
        perror("plainsink");
        return 1;
    }
    for (int i = 0; i < connections; i++) {
        int conn = accept(sock, nullptr, nullptr);
        if (conn < 0) {
            perror("plainsink: accept");
            return 1;
        }
        if (fork() == 0) {
            close(sock);
            std::vector<char> buf(66560);
            long long total = 0;
            for (ssize_t n; (n = read(conn, buf.data(), buf.size())) > 0;) total += n;
            _exit(total > 0 ? 0 : 1);
        }
        close(conn);
    }
    int st, failed = 0;
    while (wait(&st) > 0) failed += st != 0;
    return failed ? 1 : 0;
}
