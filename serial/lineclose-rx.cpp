// lineclose-rx: the receiver of the hang-up pair. Reads pattern blocks,
// reporting every read, until its RUNTIME budget or its byte o.limit (-m, cut
// to a multiple of 95) runs out; its port hangs up the line on that close.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static const char usage[] = "!ERROR: lineclose-rx: Insufficient or improper argument.\n"
                            "Usage : lineclose-rx  -d <devicename> [ -b <baudrate> ]\n";

int main(int argc, char **argv)
{
    check_output_at_exit("lineclose-rx");
    Options o = read_options(argc, argv, "d:b:m:", usage);
    const Speed &speed = convert_speed(o.baud, LINECLOSE_SPEEDS, "!ERROR: Invalid baud rate.\n",
                                       "See termio(7I) man page for supported baud rate!\n");
    long runtime = budget("RUNTIME", {"!ERROR: Unable to get RUNTIME variable.\n", ERR});
    time_t deadline = deadline_after(time(nullptr), runtime);
    install_sighup(SIG_REPORT);
    setup(o.device,
          {O_RDONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8 | T_CREAD | T_HUPCL,
           0,
           {"!ERROR: device open failed !\n", PATH_PERROR},
           {"!ERROR: ioctl failed to get terminal parameters !\n", PATH_PERROR},
           {"!ERROR: ioctl failed to set terminal parameters !\n", PATH_PERROR}},
          speed);
    cnt = 0;

    while (time(nullptr) < deadline) {
        read_block(true, {"!ERROR: Device read failed.\n", PATH_PERROR});
        if (o.limit > 0 && cnt >= o.limit) {
            printf("MAX\n");
            close(fd);
            return 0;
        }
        memset(ibuf, 0, BLOCK);
    }
    close(fd);
    printf("!PASS: Test has been completed.\n");
    return 0;
}
