// lineclose-tx: the transmitter of the hang-up pair. Writes pattern blocks on
// a port that depends on the modem lines, reporting every write, until one
// fails: the far end has hung up, which is the pass (with status 1).
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

static const Program program = {.optstring = "d:b:m:",
                                .usage =
                                    "!ERROR: lineclose-tx : Insufficient or improper argument.\n"
                                    "Usage : lineclose-tx  -d <devicename> [-b <baud_rate>] \n",
                                .speeds = LINECLOSE_SPEEDS,
                                .bad_speed = "!ERROR: Invalid baud rate.\n"
                                             "See termio(7I) man page for supported baud rate\n",
                                .budget = "RUNTIME",
                                .no_budget = {"!ERROR: Unable to get RUNTIME variable.", ERR}};

int main(int argc, char **argv)
{
    check_output_at_exit("lineclose-tx");
    const Options o = read_options(argc, argv, program);
    const time_t deadline = deadline_after(o.budget);
    Run &run = install_sighup(SIG_REPORT);
    setup(run, o,
          {O_WRONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8,
           0,
           {"!ERROR: Device open failed.\n", PERROR, o.device},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PERROR, o.device},
           {"!ERROR: ioctl failed to set terminal parameters.\n", PERROR, o.device}});

    // A refused write is the far end's hang-up, the pass. A block the port
    // took only in part is not resumed.
    send_blocks(
        run,
        {.write_failed = {"!PASS: Hang up on last close\n", OUT}, .report = true, .limit = o.limit},
        deadline);
    close(run.fd);
    printf("!PASS: Test has been completed.\n");
    return 0;
}
