// The receiver: one per connection, in its own process.
#include "netsink/netsink.h"

#include "platform/sighold.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// Termination is acted on only between reads, never inside one. Instead of
// holding the signals around every read (two mask changes, system calls),
// the handler only notes a signal that comes while `deferring` is set: from
// just before a read until it returns, as the held set would. A noted signal
// is acted on when a read returns data that came after it. Between reads the
// handler acts at once. At file scope because sighup reaches them.
// noted is the signal that releasing them in the order SIGTERM, SIGINT,
// SIGHUP would act on first: the highest number of the three, or 0.
static volatile sig_atomic_t deferring, noted;

[[noreturn]] static void killed(int sig)
{
    // Held from here: the line is written once and whole.
    sig_hold({SIGHUP, SIGINT, SIGTERM});
    fprintf(stderr, "!ERROR: Server %d killed (signal %d) receiving block %ld.\n", run.opened, sig,
            run.cnt);
    exit(0);
}

// Installed with all three held while it runs, so one line is printed.
static void sighup(int sig)
{
    if (sig > noted) noted = sig;
    if (!deferring) killed(noted);
}

// Lists the block from ten bytes before the first bad one to its end, and
// ends the receiver.
[[noreturn]] static void report_mismatch(const char *buf, const char *pattern, int buflen)
{
    // A termination signal now would end the receiver with status 0 and hide
    // the mismatch from the verdict.
    sig_hold({SIGHUP, SIGINT, SIGTERM});
    int p = 0;
    while (buf[p] == pattern[p]) p++;
    fprintf(stderr, "!ERROR: (server) Data mismatch in block %ld.\n", run.cnt);
    fprintf(stderr, "!ERROR: (server) Bad data starts at %d.\n", p);
    for (int i = p > 10 ? p - 10 : 0; i < buflen; i++)
        fprintf(stderr, "!ERROR: (server) %d: %c %c%s\n", i, pattern[i], buf[i],
                pattern[i] != buf[i] ? " !!" : "");
    exit(1);
}

int receive_from_client(int sock, const char *pattern, const Settings &set)
{
    deferring = 1;
    // Not restarted: a read that the signal interrupts returns, and the next
    // one waits only for the next data, as a read with the signal held would.
    sig_set_group({SIGHUP, SIGINT, SIGTERM}, sighup, false);
    time_t start = time(nullptr), last = start;
    std::vector<char> buf(set.buflen);
    for (;;) {
        // A read waits for the rest of the block (or the end of the stream):
        // one system call per block.
        for (int got = 0; got < set.buflen;) {
            deferring = 1;
            bool after_signal = noted;
            ssize_t n =
                recv(sock, buf.data() + got, set.buflen - got, after_signal ? 0 : MSG_WAITALL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) sig_hold({SIGHUP, SIGINT, SIGTERM}); // left unheeded, as held
            if (n < 0) {
                perror("!ERROR: (server) Read.");
                fprintf(stderr, "!ERROR: (server) err at %ld: block %ld.\n",
                        (long)(time(nullptr) - last), run.cnt);
                exit(1);
            }
            if (n == 0) {
                // A partial last block is not checked.
                printf("EOF %ld secs, %ld blocks.\n", (long)(time(nullptr) - start), run.cnt);
                return 0;
            }
            // Data that came after a noted signal: the signals are acted on
            // now, SIGTERM first, then SIGINT, SIGHUP. A read cut short by the
            // signal returned only data from before it.
            if (after_signal || (noted && n == set.buflen - got)) killed(noted);
            if (!noted) {
                deferring = 0;
                if (noted) killed(noted); // came as the read returned
            }
            time_t t = time(nullptr);
            if (t > last + 2) {
                fprintf(stderr, "!WARNING: waited %d seconds: ", (int)(t - last));
                fflush(stdout);
            }
            last = t;
            got += n;
        }
        // One comparison per block; the byte scan only after a mismatch.
        if (memcmp(buf.data(), pattern, set.buflen) != 0)
            report_mismatch(buf.data(), pattern, set.buflen);
        run.cnt++;
    }
}
