// lanerx: device input. Waits for one complete block on its port, then
// records the device's path in /tmp/devnam.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static const char usage[] = "!ERROR: lanerx: Insufficient or improper argument.\n"
                            "Usage : lanerx -d <devicename> [ -b <baudrate> ]\n";

int main(int argc, char **argv)
{
    check_output_at_exit("lanerx");
    Options o = read_options(argc, argv, "d:b:m:v", usage);
    const Speed &speed = convert_speed(o.baud, ALL_SPEEDS, "!ERROR: Invalid baud rate\n",
                                       "See the termio(7I) man page for supported baud rates.\n");
    install_sighup(SIG_REPORT_DEVNAM);
    setup(o.device,
          {O_RDONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8 | T_CREAD,
           0,
           {"!ERROR: Device open failed .\n", PATH_PERROR},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to set terminal parameters.\n", PATH_PERROR}},
          speed);
    cnt = 0;
    read_block(o.verbose, {"!ERROR: Device read failed.\n", PATH_PERROR});
    close(fd);

    fdf = open_fixed("/tmp/devnam", O_WRONLY | O_CREAT | O_TRUNC);
    if (fdf < 0) fail({"!ERROR: /tmp/devnam open failed.\n", PERROR});
    size_t len = strlen(o.device);
    if (!append(fdf, o.device, len) || close(fdf) != 0)
        fail({"!ERROR: Write /tmp/devnam failed.\n", PERROR});
    return 0;
}
