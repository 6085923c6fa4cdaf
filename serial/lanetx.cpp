// lanetx: device output. Writes pattern blocks for RUNPRD seconds, then
// discards whatever is still queued.
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

[[noreturn]] static void usage()
{
    printf("!ERROR: lanetx : Insufficient or improper argument.\n");
    printf("Usage : lanetx  -d <devicename> [-b <baud_rate>] \n");
    exit(1);
}

int main(int argc, char **argv)
{
    const char *device = nullptr, *baud = "9600";
    int c;
    while ((c = getopt(argc, argv, "d:b:m:")) != -1) {
        switch (c) {
        case 'd': device = optarg; break;
        case 'b': baud = optarg; break;
        case 'm': break; // accepted, no effect
        default: usage();
        }
    }
    if (!device) usage();
    const Speed &speed = convert_speed(baud, ALL_SPEEDS, "!ERROR: Invalid baud rate\n",
                                       "See the termio(7I) man page for supported baud rates.\n");
    long period = budget("RUNPRD", {"!ERROR: Unable to get RUNPRD variable.", ERR});
    time_t deadline = deadline_after(time(nullptr), period);
    install_sighup(SIG_REPORT_FLUSH);
    setup(device,
          {O_WRONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8,
           0,
           {"!ERROR: Device open failed.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to set terminal parameters. \n", PATH_PERROR}},
          speed);

    while (time(nullptr) < deadline) {
        // A block the port took only in part is not resumed.
        ssize_t n = write(fd, obuf, BLOCK);
        if (n < 0) {
            perror("!ERROR: write failed\n");
            close(fd);
            return 1;
        }
        cnt += n;
    }
    if (term_flush(fd) != 0) {
        printf("!ERROR: Failed to flush both the input and output queues.");
        return 1;
    }
    close(fd);
    return 0;
}
