// reelcheck: rewinds a tape, reads it back block by block and checks every
// block against the pattern reelflood wrote, up to the end of the recorded
// data, the requested length or the first block that differs.
#include "platform/outcheck.h"
#include "tape/reel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// The whole block, equal bytes included, so the damage can be seen in place.
[[noreturn]] static void verify_error(long long n, const unsigned char *got,
                                      const unsigned char *expect, long long bsize)
{
    printf("!ERROR: Verify error block %lld\n", n);
    printf("!ERROR: Read/Expected\n");
    for (long long i = 0; i < bsize; i++)
        printf("!ERROR: %lld: %d/%d%s\n", i, got[i], expect[i], got[i] != expect[i] ? " !!" : "");
    exit(3);
}

// Held program-wide: the runs end in exit, and a leak checker must still see
// the buffers then.
static unsigned char *buf, *pattern;

int main(int argc, char **argv)
{
    check_output_at_exit("reelcheck");
    Tape t = open_tape(argc, argv, "!ERROR: Usage:  reelcheck [-b blocksize] [-d device] [-n]\n");
    buf = static_cast<unsigned char *>(malloc(t.bsize));
    pattern = buf ? pattern_alloc(t.bsize) : nullptr;
    if (!pattern) {
        fprintf(stderr, "!ERROR: out of memory\n");
        exit(1);
    }

    for (long long n = 1;; n++) {
        const unsigned char *expect = pattern_block(pattern, n);
        ssize_t got = read(t.fd, buf, t.bsize);
        if (got == t.bsize) {
            if (memcmp(buf, expect, t.bsize) != 0) verify_error(n, buf, expect, t.bsize);
            if (t.limit > 0 && n >= t.limit) {
                fprintf(stderr, "As instructed, read ");
                report_end(n, n * t.bsize, 0);
            }
            continue;
        }
        if (got < 0) {
            perror("!ERROR: read");
            report_end(n, (n - 1) * t.bsize, 2);
        }
        // The end of the recorded data: a partial block is not compared.
        fprintf(stderr, "After %lld blocks, read %d more bytes\n", n, (int)got);
        report_end(-1, (n - 1) * t.bsize + got, 0);
    }
}
