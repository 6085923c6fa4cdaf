// lanerx: device input. Waits for one complete block on its port, then
// records the device's path in /tmp/devnam.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static const Program program = {.optstring = "d:b:m:v",
                                .usage = "!ERROR: lanerx: Insufficient or improper argument.\n"
                                         "Usage : lanerx -d <devicename> [ -b <baudrate> ]\n",
                                .speeds = ALL_SPEEDS,
                                .bad_speed =
                                    "!ERROR: Invalid baud rate\n"
                                    "See the termio(7I) man page for supported baud rates.\n"};

int main(int argc, char **argv)
{
    check_output_at_exit("lanerx");
    const Options o = read_options(argc, argv, program);
    Run &run = install_sighup(SIG_REPORT_DEVNAM);
    setup(run, o,
          {O_RDONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8 | T_CREAD,
           0,
           {"!ERROR: Device open failed .\n", PERROR, o.device},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR, o.device},
           {"!ERROR: ioctl failed to set terminal parameters.\n", PERROR, o.device}});
    run.cnt = 0;
    read_block(run, o.verbose, {"!ERROR: Device read failed.\n", PERROR, o.device});
    close(run.fd);

    run.fdf = open_fixed("/tmp/devnam", O_WRONLY | O_CREAT | O_TRUNC);
    if (run.fdf < 0) fail({"!ERROR: /tmp/devnam open failed.\n", PERROR});
    if (!append(run.fdf, o.device, strlen(o.device)) || close(run.fdf) != 0)
        fail({"!ERROR: Write /tmp/devnam failed.\n", PERROR});
    return 0;
}
