// portlisten: the receiver of the receive/transmit pair. Empties its port,
// then receives pattern blocks into /tmp/portlisten.tmp until the end marker.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static const char usage[] = "!ERROR: portlisten : Insufficient or improper argument.\n"
                            "Usage : portlisten  -d <devicename> \n"
                            "\t [ -b <baudrate> ] \n";

int main(int argc, char **argv)
{
    check_output_at_exit("portlisten");
    Options o = read_options(argc, argv, "d:b:", usage);
    const Speed &speed = convert_speed(o.baud, ALL_SPEEDS, "!ERROR: Invalid baud rate.\n",
                                       "See termio(7I) man page for supported baud rate!\n");
    install_sighup(SIG_CLOSE);

    setup(o.device,
          {O_RDWR,
           T_IXON | T_IXOFF,
           0,
           T_CS8 | T_CREAD,
           0,
           {"!ERROR: Device open failed.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR},
           {"!ERROR: ioctl failed to set terminal parameters.\n", PATH_PERROR}},
          speed, 0);
    drain_input();
    set_blocking({"!ERROR: ioctl failed to get terminal parameters.\n", PERROR},
                 {"!ERROR: ioctl failed to set terminal parameters.\n", PATH_PERROR});
    int capture = open_capture("/tmp/portlisten.tmp");
    if (capture < 0) fail({"!ERROR: /tmp/portlisten.tmp open failed.\n", PERROR});

    receive_blocks({capture,
                    {"!ERROR:Read error.\n", ERR},
                    {"!ERROR: Write /tmp/portlisten.tmp failed.\n", PERROR},
                    false});
    if (term_flush(fd) != 0) fail({"!ERROR: tcflush failed.", ERR});
    close(fd);
    close(capture);
    return 0;
}
