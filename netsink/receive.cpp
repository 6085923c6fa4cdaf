// The receiver: one per connection, in its own process.
#include "netsink/netsink.h"

#include "platform/sighold.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

long cnt = 0;

static void sighup(int sig)
{
    fprintf(stderr, "!ERROR: Server %d killed (signal %d) receiving block %ld.\n", opened, sig,
            cnt);
    exit(0);
}

// Lists the block from ten bytes before the first bad one to its end, and
// ends the receiver.
[[noreturn]] static void report_mismatch(const char *buf, const char *pattern)
{
    // A termination signal now would end the receiver with status 0 and hide
    // the mismatch from the verdict.
    sig_hold({SIGHUP, SIGINT, SIGTERM});
    int p = 0;
    while (buf[p] == pattern[p]) p++;
    fprintf(stderr, "!ERROR: (server) Data mismatch in block %ld.\n", cnt);
    fprintf(stderr, "!ERROR: (server) Bad data starts at %d.\n", p);
    for (int i = p > 10 ? p - 10 : 0; i < buflen; i++)
        fprintf(stderr, "!ERROR: (server) %d: %c %c%s\n", i, pattern[i], buf[i],
                pattern[i] != buf[i] ? " !!" : "");
    exit(1);
}

int receive_from_client(int sock, const char *pattern)
{
    sig_set_group({SIGHUP, SIGINT, SIGTERM}, sighup);
    // Termination is acted on only between reads, never inside one: the
    // signals stay held for the whole stream, and one that came is released
    // after the read. A read waits for a whole block (or the end of the
    // stream), so a block costs one read and one look at the pending signals
    // instead of two mask changes around each partial read.
    sig_hold({SIGHUP, SIGINT, SIGTERM});
    time_t start = time(nullptr), last = start;
    std::vector<char> buf(buflen);
    for (;;) {
        for (int got = 0; got < buflen;) {
            ssize_t n = recv(sock, buf.data() + got, buflen - got, MSG_WAITALL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                perror("!ERROR: (server) Read.");
                fprintf(stderr, "!ERROR: (server) err at %ld: block %ld.\n",
                        (long)(time(nullptr) - last), cnt);
                exit(1);
            }
            if (n == 0) {
                // A partial last block is not checked.
                printf("EOF %ld secs, %ld blocks.\n", (long)(time(nullptr) - start), cnt);
                return 0;
            }
            // Pending ones are acted on now, SIGTERM first, then SIGINT, SIGHUP.
            if (sig_pending({SIGHUP, SIGINT, SIGTERM})) sig_release({SIGTERM, SIGINT, SIGHUP});
            time_t t = time(nullptr);
            if (t > last + 2) {
                fprintf(stderr, "!WARNING: waited %d seconds: ", (int)(t - last));
                fflush(stdout);
            }
            last = t;
            got += n;
        }
        // One comparison per block; the byte scan only after a mismatch.
        if (memcmp(buf.data(), pattern, buflen) != 0) report_mismatch(buf.data(), pattern);
        cnt++;
    }
}
