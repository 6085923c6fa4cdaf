// lineclose-rx: the receiver of the hang-up pair. Reads pattern blocks,
// reporting every read, until its RUNTIME budget or its byte limit (-m, cut
// to a multiple of 95) runs out; its port hangs up the line on that close.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static const Program program = {.optstring = "d:b:m:",
                                .usage =
                                    "!ERROR: lineclose-rx: Insufficient or improper argument.\n"
                                    "Usage : lineclose-rx  -d <devicename> [ -b <baudrate> ]\n",
                                .speeds = LINECLOSE_SPEEDS,
                                .bad_speed = "!ERROR: Invalid baud rate.\n"
                                             "See termio(7I) man page for supported baud rate!\n",
                                .budget = "RUNTIME",
                                .no_budget = {"!ERROR: Unable to get RUNTIME variable.\n", ERR}};

int main(int argc, char **argv)
{
    check_output_at_exit("lineclose-rx");
    const Options o = read_options(argc, argv, program);
    const time_t deadline = deadline_after(o.budget);
    Run &run = install_sighup(SIG_REPORT);
    setup(run, o,
          {O_RDONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8 | T_CREAD | T_HUPCL,
           0,
           {"!ERROR: device open failed !\n", PERROR, o.device},
           {"!ERROR: ioctl failed to get terminal parameters !\n", PERROR, o.device},
           {"!ERROR: ioctl failed to set terminal parameters !\n", PERROR, o.device}});
    run.cnt = 0;

    while (time(nullptr) < deadline) {
        read_block(run, true, {"!ERROR: Device read failed.\n", PERROR, o.device});
        if (o.limit > 0 && run.cnt >= o.limit) {
            printf("MAX\n");
            close(run.fd);
            return 0;
        }
        memset(run.ibuf, 0, BLOCK);
    }
    close(run.fd);
    printf("!PASS: Test has been completed.\n");
    return 0;
}
