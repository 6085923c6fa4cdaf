// txpace: the transmitter of the flow-control pair. Sends pattern blocks for
// RUNTIME - 30 seconds, with software flow control (-s, capturing what it
// sent in /tmp/txpace.tmp) or none (-n), then the end marker "!".
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static const Program program = {.optstring = "snd:b:",
                                .usage = "!ERROR: txpac : Insufficient or improper argument\n"
                                         "Usage : txpace ( -n | -s ) -d <devicename> \n"
                                         "\t [ -b <baudrate> ] \n",
                                .speeds = ALL_SPEEDS,
                                .bad_speed = "!ERROR: Invalid baud rate.\n"
                                             "See termio(7I) man page for supported baud rate\n",
                                .budget = "RUNTIME",
                                .no_budget = {"!ERROR: Unable to get RUNTIME variable.", OUT}};

// The end marker goes this many seconds before the budget ends.
constexpr long MARKER_LEAD = 30;

int main(int argc, char **argv)
{
    check_output_at_exit("txpace");
    const Options o = read_options(argc, argv, program);
    const time_t deadline = deadline_after(o.budget, MARKER_LEAD);
    Run &run = install_sighup(SIG_CLOSE);

    Port port = {O_WRONLY,
                 o.mode == 's' ? T_IXON | T_IXOFF : 0,
                 T_OPOST,
                 T_CS8 | T_CREAD | T_CLOCAL,
                 0,
                 {"!ERROR: Device open failed.\n", OUT},
                 {"!ERROR: ioctl failed to get terminal parameters .\n", OUT},
                 {"!ERROR: ioctl failed to set terminal parameters.\n", OUT}};
    printf(o.mode == 's' ? "Software flow control\n" : "No flow control\n");
    setup(run, o, port);
    int capture = -1;
    if (o.mode == 's') {
        capture = open_capture("/tmp/txpace.tmp");
        if (capture < 0) fail({"!ERROR: /tmp/txpace.tmp open failed. \n", OUT});
    }

    send_blocks(run,
                {.write_failed = {"!ERROR: Device write failed.\n", OUT},
                 .resume = true,
                 .capture = capture,
                 .capture_failed = {"!ERROR: Write /tmp/txpace.tmp failed.\n", OUT},
                 .marker = "!",
                 .marker_len = 1},
                deadline);
    if (capture >= 0) close(capture);
    if (term_drain(run.fd) != 0) fail({"!ERROR: TCSBRK failed.", OUT});
    if (term_flush(run.fd) != 0) fail({"!ERROR: tcflush failed.", OUT});
    close(run.fd);
    return 0;
}
