// porttalk: the transmitter of the receive/transmit pair. Empties its port,
// then sends pattern blocks for RUNTIME - 34 seconds, capturing what the port
// accepted in /tmp/porttalk.tmp, then the end marker "!" and three NULs.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <unistd.h>

static const Program program = {.optstring = "d:b:",
                                .usage = "!ERROR: porttalk : Insufficient or improper argument.\n"
                                         "Usage : porttalk   -d <devicename> \n"
                                         "\t [ -b <baudrate> ] \n",
                                .speeds = ALL_SPEEDS,
                                .bad_speed = "!ERROR: Invalid baud rate.\n"
                                             "See termio(7I) man page for supported baud rate!\n",
                                .budget = "RUNTIME",
                                .no_budget = {"!ERROR: Unable to get RUNTIME variable.", ERR}};

// The end marker goes this many seconds before the budget ends.
constexpr long MARKER_LEAD = 34;

int main(int argc, char **argv)
{
    check_output_at_exit("porttalk");
    const Options o = read_options(argc, argv, program);
    Run &run = install_sighup(SIG_CLOSE);
    const char *d = o.device;
    int capture = setup_drained(
        run, o,
        {.open_failed = {"!ERROR: Device open failed.\n", PERROR, d},
         .get_failed = {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR, d},
         .set_failed = {"!ERROR: ioctl failed to set terminal parameters.\n", PERROR, d},
         .get_again_failed = {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR},
         .set_again_failed = {"!ERROR: ioctl failed to set terminal parameters.\n", PERROR, d},
         .capture = "/tmp/porttalk.tmp",
         .capture_failed = {"!ERROR: /tmp/porttalk.tmp open failed.\n", PERROR}});

    send_blocks(run,
                {.write_failed = {"!ERROR: Device write failed.\n", PERROR, d},
                 .resume = true,
                 .capture = capture,
                 .capture_failed = {"!ERROR: Write /tmp/porttalk.tmp failed.\n", PERROR},
                 .marker = "!\0\0\0",
                 .marker_len = 4},
                deadline_after(o.budget, MARKER_LEAD));
    // At low speeds what is queued outlasts the wait below, and the flush
    // after it would throw the marker away: let it go out first.
    term_drain(run.fd);
    sleep(10);
    if (term_flush(run.fd) != 0) fail({"!ERROR: tcflush failed.", PERROR});
    close(run.fd);
    close(capture);
    return 0;
}
