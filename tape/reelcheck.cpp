// reelcheck: rewinds a tape, reads it back block by block and checks every
// block against the pattern reelflood wrote, up to the end of the recorded
// data, the requested length or the first block that differs.
#include "platform/tape.h"
#include "tape/blocks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

[[noreturn]] static void usage()
{
    fprintf(stderr, "!ERROR: Usage:  reelcheck [-b blocksize] [-d device] [-n]\n");
    exit(1);
}

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

int main(int argc, char **argv)
{
    int blocksize = 32, megabytes = 0, norewind = 0;
    const char *device = TAPE_DEVICE;
    int c;
    while ((c = getopt(argc, argv, "b:d:ns:")) != -1) {
        switch (c) {
        case 'b': blocksize = atoi(optarg); break;
        case 'd': device = optarg; break;
        case 'n': norewind = 1; break;
        case 's': megabytes = atoi(optarg); break;
        default: usage();
        }
    }
    if (optind < argc) usage();
    // 0 or less would divide by zero and size the buffers from nothing.
    if (!block_size_ok(blocksize)) usage();

    int fd = open(device, O_RDWR);
    if (fd < 0) {
        perror(device);
        exit(1);
    }
    if (!norewind && tape_rewind(fd) < 0) {
        perror(device);
        exit(1);
    }

    long long limit = block_limit(blocksize, megabytes);
    long long bsize = (long long)blocksize * 1024;
    auto *buf = static_cast<unsigned char *>(malloc(bsize));
    unsigned char *pattern = buf ? pattern_alloc(bsize) : nullptr;
    if (!pattern) {
        fprintf(stderr, "!ERROR: out of memory\n");
        exit(1);
    }

    for (long long n = 1;; n++) {
        const unsigned char *expect = pattern_block(pattern, n);
        ssize_t got = read(fd, buf, bsize);
        if (got == bsize) {
            if (memcmp(buf, expect, bsize) != 0) verify_error(n, buf, expect, bsize);
            if (limit > 0 && n >= limit) {
                fprintf(stderr, "As instructed, read ");
                printf("%lld blocks\n", n);
                printf("%.2fMb total\n", megabytes_of(n * bsize));
                exit(0);
            }
            continue;
        }
        if (got < 0) {
            perror("!ERROR: read");
            printf("%lld blocks\n", n);
            printf("%.2fMb total\n", megabytes_of((n - 1) * bsize));
            exit(2);
        }
        // The end of the recorded data: a partial block is not compared.
        fprintf(stderr, "After %lld blocks, read %d more bytes\n", n, (int)got);
        printf("%.2fMb total\n", megabytes_of((n - 1) * bsize + got));
        exit(0);
    }
}
