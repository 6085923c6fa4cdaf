// diskhammer: writes, reads back and compares files of growing (or random)
// sizes on every suitable mounted file system, or reads and writes back one
// raw slice, with regular, record-locked and asynchronous I/O, and times it.
#include "diskhammer/diskhammer.h"
#include "platform/outcheck.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char **argv)
{
    check_output_at_exit("diskhammer");
    // Static: the stop handlers read the settings, and the run's target
    // records stay held, until the program has ended.
    static const Settings set = parse_options(argc, argv);
    static RunState run;
    run.mlist_first = mlist_get(set);
    if (!run.mlist_first) {
        printf("!Error: No devices are available for test.\n");
        exit(1);
    }
    print_mlist(set, run.mlist_first);
    time_t now = time(nullptr);
    printf("Diskhammer starts at %s", ctime(&now));
    test_execute(set, &run);
    return 0;
}
