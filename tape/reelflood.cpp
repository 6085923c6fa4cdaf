// reelflood: rewinds a tape and writes numbered pattern blocks until the end
// of the tape, or until the requested length.
#include "platform/tape.h"
#include "tape/blocks.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

[[noreturn]] static void usage()
{
    fprintf(stderr,
            "!ERROR: Usage:  reelflood [-b blocksize] [-d device] [-n] [-s length-in-MB]\n");
    exit(1);
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
    // 0 or less would divide by zero and size the buffer from nothing.
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
    unsigned char *pattern = pattern_alloc(bsize);
    if (!pattern) {
        fprintf(stderr, "!ERROR: out of memory\n");
        exit(1);
    }

    for (long long n = 1;; n++) {
        ssize_t got = write(fd, pattern_block(pattern, n), bsize);
        if (got == bsize) {
            if (limit > 0 && n >= limit) {
                fprintf(stderr, "As instructed, wrote ");
                printf("%lld blocks\n", n);
                printf("%.2fMb total\n", megabytes_of(n * bsize));
                exit(0);
            }
            continue;
        }
        if (got < 0 && errno == ENOSPC) {
            fprintf(stderr, "Got expected ENOSPC at EOT\n");
            printf("%lld blocks\n", n);
            printf("%.2fMb total\n", megabytes_of((n - 1) * bsize));
            exit(0);
        }
        if (got < 0) {
            perror("!ERROR: during writing");
            printf("%lld blocks\n", n);
            printf("%.2fMb total\n", megabytes_of((n - 1) * bsize));
            exit(2);
        }
        fprintf(stderr, "!ERROR: After %lld blocks, wrote %d more bytes\n", n, (int)got);
        printf("%.2fMb total\n", megabytes_of((n - 1) * bsize + got));
        exit(2);
    }
}
