// reelflood: rewinds a tape and writes numbered pattern blocks until the end
// of the tape, or until the requested length.
#include "platform/outcheck.h"
#include "tape/reel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Held program-wide: the runs end in exit, and a leak checker must still see
// the table then.
static unsigned char *pattern;

int main(int argc, char **argv)
{
    check_output_at_exit("reelflood");
    Tape t =
        open_tape(argc, argv,
                  "!ERROR: Usage:  reelflood [-b blocksize] [-d device] [-n] [-s length-in-MB]\n");
    pattern = pattern_alloc(t.bsize);
    if (!pattern) {
        fprintf(stderr, "!ERROR: out of memory\n");
        exit(1);
    }

    for (long long n = 1;; n++) {
        ssize_t got = write(t.fd, pattern_block(pattern, n), t.bsize);
        if (got == t.bsize) {
            if (t.limit > 0 && n >= t.limit) {
                fprintf(stderr, "As instructed, wrote ");
                report_end(n, n * t.bsize, 0);
            }
            continue;
        }
        if (got < 0 && errno == ENOSPC) {
            fprintf(stderr, "Got expected ENOSPC at EOT\n");
            report_end(n, (n - 1) * t.bsize, 0);
        }
        if (got < 0) {
            perror("!ERROR: during writing");
            report_end(n, (n - 1) * t.bsize, 2);
        }
        fprintf(stderr, "!ERROR: After %lld blocks, wrote %d more bytes\n", n, (int)got);
        report_end(-1, (n - 1) * t.bsize + got, 2);
    }
}
