// lanetx: device output. Writes pattern blocks for RUNPRD seconds, then
// discards whatever is still queued.
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

static const Program program = {.optstring = "d:b:m:",
                                .usage = "!ERROR: lanetx : Insufficient or improper argument.\n"
                                         "Usage : lanetx  -d <devicename> [-b <baud_rate>] \n",
                                .speeds = ALL_SPEEDS,
                                .bad_speed =
                                    "!ERROR: Invalid baud rate\n"
                                    "See the termio(7I) man page for supported baud rates.\n",
                                .budget = "RUNPRD",
                                .no_budget = {"!ERROR: Unable to get RUNPRD variable.", ERR}};

int main(int argc, char **argv)
{
    check_output_at_exit("lanetx");
    const Options o = read_options(argc, argv, program);
    const time_t deadline = deadline_after(o.budget);
    Run &run = install_sighup(SIG_REPORT_FLUSH);
    setup(run, o,
          {O_WRONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8,
           0,
           {"!ERROR: Device open failed.\n", PERROR, o.device},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR, o.device},
           {"!ERROR: ioctl failed to set terminal parameters. \n", PERROR, o.device}});

    // A block the port took only in part is not resumed.
    send_blocks(run, {.write_failed = {"!ERROR: write failed\n", PERROR}}, deadline);
    if (term_flush(run.fd) != 0) {
        printf("!ERROR: Failed to flush both the input and output queues.");
        return 1;
    }
    close(run.fd);
    return 0;
}
