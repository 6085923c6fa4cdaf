// lineclose-tx: the transmitter of the hang-up pair. Writes pattern blocks on
// a port that depends on the modem lines, reporting every write, until one
// fails: the far end has hung up, which is the pass (with status 1).
#include "platform/outcheck.h"
#include "platform/termio.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static const char usage[] = "!ERROR: lineclose-tx : Insufficient or improper argument.\n"
                            "Usage : lineclose-tx  -d <devicename> [-b <baud_rate>] \n";

int main(int argc, char **argv)
{
    check_output_at_exit("lineclose-tx");
    Options o = read_options(argc, argv, "d:b:m:", usage);
    const Speed &speed = convert_speed(o.baud, LINECLOSE_SPEEDS, "!ERROR: Invalid baud rate.\n",
                                       "See termio(7I) man page for supported baud rate\n");
    long runtime = budget("RUNTIME", {"!ERROR: Unable to get RUNTIME variable.", ERR});
    time_t deadline = deadline_after(time(nullptr), runtime);
    install_sighup(SIG_REPORT);
    setup(o.device,
          {O_WRONLY,
           T_IXON | T_IXOFF,
           T_OPOST,
           T_CS8,
           0,
           {"!ERROR: Device open failed.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to get terminal parameters.\n", PATH_PERROR},
           {"!ERROR: ioctl failed to set terminal parameters.\n", PATH_PERROR}},
          speed);

    while (time(nullptr) < deadline) {
        // A block the port took only in part is not resumed.
        ssize_t n = write(fd, obuf, BLOCK);
        if (n < 0) {
            printf("!PASS: Hang up on last close\n");
            close(fd);
            return 1;
        }
        cnt += n;
        printf("W%d %d/%lld\n", (int)getpid(), (int)n, cnt);
        if (o.limit > 0 && cnt >= o.limit) {
            printf("MAX\n");
            close(fd);
            return 0;
        }
    }
    close(fd);
    printf("!PASS: Test has been completed.\n");
    return 0;
}
