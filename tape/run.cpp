// How a run of either program starts and ends: the command line, the drive,
// the closing totals.
#include "platform/tape.h"
#include "tape/reel.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// Block sizes in kilobytes that one read or write moves whole: Linux moves at
// most 2147479552 bytes (2 GiB less a page), and a larger block's first read
// comes back short, taken for the end of the data.
constexpr int MAX_BLOCK_KB = 2097148;

[[noreturn]] static void usage(const char *text)
{
    fputs(text, stderr);
    exit(1);
}

Tape open_tape(int argc, char **argv, const char *usage_text)
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
        default: usage(usage_text);
        }
    }
    // 0 or less would divide by zero and size the buffers from nothing.
    if (optind < argc || blocksize <= 0 || blocksize > MAX_BLOCK_KB) usage(usage_text);
    int fd = open(device, O_RDWR);
    if (fd < 0 || (!norewind && tape_rewind(fd) < 0)) {
        perror(device);
        exit(1);
    }
    // (1024 / blocksize) x megabytes, the division first, in 64 bits: an int
    // wraps for -b 1 -s 3000000 and would lift the limit.
    return {fd, (long long)(1024 / blocksize) * megabytes, (long long)blocksize * 1024};
}

void report_end(long long n, long long bytes, int status)
{
    if (n >= 0) printf("%lld blocks\n", n);
    printf("%.2fMb total\n", (double)bytes / 1048576);
    exit(status);
}
