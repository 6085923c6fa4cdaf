// rxpace: the receiver of the flow-control pair. Receives pattern blocks until
// the end marker. With software flow control (-s) it captures them in
// /tmp/rxpace.tmp, pauses a second after every 110700 bytes so that the line
// must hold the sender back, and fails when the average rate still reaches
// the line speed; without (-n) it writes "PASS" there at the end.
#include "platform/hrtime.h"
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static const Program program = {.optstring = "snd:b:",
                                .usage = "!ERROR: rxpac : Insufficient or improper argument.\n"
                                         "Usage : rxpace ( -n | -s ) -d <devicename> \n"
                                         "\t [ -b <baudrate> ] \n",
                                .speeds = ALL_SPEEDS,
                                .bad_speed = "!ERROR: Invalid baud rate.\n"
                                             "See termio(7I) man page for supported baud rate!\n"};

int main(int argc, char **argv)
{
    check_output_at_exit("rxpace");
    const Options o = read_options(argc, argv, program);
    Run &run = install_sighup(SIG_CLOSE);
    setup(run, o,
          {O_RDONLY,
           o.mode == 's' ? T_IXON | T_IXOFF : 0,
           T_OPOST,
           T_CS8 | T_CREAD | T_CLOCAL,
           0,
           {"!ERROR: Device open failed.", PERROR},
           {"!ERROR: ioctl failed to get terminal parameters.", PERROR},
           {"!ERROR: ioctl failed to set terminal parameters !", PERROR}});
    int capture = open_capture("/tmp/rxpace.tmp");
    if (capture < 0) fail({"!ERROR: /tmp/rxpace.tmp open failed.", PERROR});

    long long t0 = gethrtime();
    Ending end =
        receive_blocks(run, {.capture = o.mode == 's' ? capture : -1,
                             .read_failed = {"!ERROR:Read error.", PERROR},
                             .capture_failed = {"!ERROR: Write /tmp/rxpace.tmp failed.", PERROR},
                             .pace = o.mode == 's'});
    if (end == AT_MARKER) {
        close(run.fd);
        long long t1 = gethrtime();
        if (o.mode == 's' && flow_rate(run.cnt, t1 - t0) >= o.speed->rate)
            fail({"!ERROR: Flow control does not happen at all.", PERROR});
    }
    if (o.mode == 'n') (void)!write(capture, "PASS", 4);
    close(capture);
    return 0;
}
