// porttalk: the transmitter of the receive/transmit pair. Empties its port,
// then sends pattern blocks for RUNTIME - 34 seconds, capturing what the port
// accepted in /tmp/porttalk.tmp, then the end marker "!" and three NULs.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static const char usage[] = "!ERROR: porttalk : Insufficient or improper argument.\n"
                            "Usage : porttalk   -d <devicename> \n"
                            "\t [ -b <baudrate> ] \n";

int main(int argc, char **argv)
{
    check_output_at_exit("porttalk");
    Options o = read_options(argc, argv, "d:b:", usage);
    const Speed &speed = convert_speed(o.baud, ALL_SPEEDS, "!ERROR: Invalid baud rate.\n",
                                       "See termio(7I) man page for supported baud rate!\n");
    long runtime = budget("RUNTIME", {"!ERROR: Unable to get RUNTIME variable.", ERR});
    install_sighup(SIG_CLOSE);

    // Reads return at once while the port is emptied, then wait for data.
    setup(o.device,
          {O_RDWR,
           T_IXON | T_IXOFF,
           0,
           T_CS8 | T_CREAD,
           0,
           {"!ERROR: Device open failed.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to set terminal parameters.\n", PATH_PERROR}},
          speed, 0);
    drain_input();
    set_blocking({"!ERROR: ioctl failed to get terminal parameters.\n", PERROR},
                 {"!ERROR: ioctl failed to set terminal parameters.\n", PATH_PERROR});
    int capture = open_capture("/tmp/porttalk.tmp");
    if (capture < 0) fail({"!ERROR: /tmp/porttalk.tmp open failed.\n", PERROR});

    time_t deadline = deadline_after(deadline_after(time(nullptr), runtime), -34);
    send_blocks({capture,
                 {"!ERROR: Write /tmp/porttalk.tmp failed.\n", PERROR},
                 {"!ERROR: Device write failed.\n", PATH_PERROR},
                 "!\0\0\0",
                 4},
                deadline);
    // At low speeds what is queued outlasts the wait below, and the flush
    // after it would throw the marker away: let it go out first.
    term_drain(fd);
    sleep(10);
    if (term_flush(fd) != 0) fail({"!ERROR: tcflush failed.", PERROR});
    close(fd);
    close(capture);
    return 0;
}
