// lanetx: device output. Writes pattern blocks for RUNPRD seconds, then
// discards whatever is still queued.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static const char usage[] = "!ERROR: lanetx : Insufficient or improper argument.\n"
                            "Usage : lanetx  -d <devicename> [-b <baud_rate>] \n";

int main(int argc, char **argv)
{
    check_output_at_exit("lanetx");
    Options o = read_options(argc, argv, "d:b:m:", usage);
    const Speed &speed = convert_speed(o.baud, ALL_SPEEDS, "!ERROR: Invalid baud rate\n",
                                       "See the termio(7I) man page for supported baud rates.\n");
    long period = budget("RUNPRD", {"!ERROR: Unable to get RUNPRD variable.", ERR});
    time_t deadline = deadline_after(time(nullptr), period);
    install_sighup(SIG_REPORT_FLUSH);
    setup(o.device,
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
