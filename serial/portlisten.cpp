// portlisten: the receiver of the receive/transmit pair. Empties its port,
// then receives pattern blocks into /tmp/portlisten.tmp until the end marker.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <unistd.h>

static const Program program = {.optstring = "d:b:",
                                .usage = "!ERROR: portlisten : Insufficient or improper argument.\n"
                                         "Usage : portlisten  -d <devicename> \n"
                                         "\t [ -b <baudrate> ] \n",
                                .speeds = ALL_SPEEDS,
                                .bad_speed = "!ERROR: Invalid baud rate.\n"
                                             "See termio(7I) man page for supported baud rate!\n"};

int main(int argc, char **argv)
{
    check_output_at_exit("portlisten");
    const Options o = read_options(argc, argv, program);
    Run &run = install_sighup(SIG_CLOSE);
    const char *d = o.device;
    int capture = setup_drained(
        run, o,
        {.open_failed = {"!ERROR: Device open failed.\n", PERROR, d},
         .get_failed = {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR},
         .set_failed = {"!ERROR: ioctl failed to set terminal parameters.\n", PERROR, d},
         .get_again_failed = {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR},
         .set_again_failed = {"!ERROR: ioctl failed to set terminal parameters.\n", PERROR, d},
         .capture = "/tmp/portlisten.tmp",
         .capture_failed = {"!ERROR: /tmp/portlisten.tmp open failed.\n", PERROR}});

    receive_blocks(run, {capture,
                         {"!ERROR:Read error.\n", ERR},
                         {"!ERROR: Write /tmp/portlisten.tmp failed.\n", PERROR}});
    if (term_flush(run.fd) != 0) fail({"!ERROR: tcflush failed.", ERR});
    close(run.fd);
    close(capture);
    return 0;
}
