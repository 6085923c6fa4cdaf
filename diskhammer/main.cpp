// diskhammer: writes, reads back and compares files of growing (or random)
// sizes on every suitable mounted file system, or reads and writes back one
// raw slice, with regular, record-locked and asynchronous I/O, and times it.
#include "diskhammer/diskhammer.h"
#include "platform/disk_size.h"
#include "platform/outcheck.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

int main(int argc, char **argv)
{
    check_output_at_exit("diskhammer");
    mlist_selector select = parse_options(argc, argv);

    if (d_option) {
        if (!device_only || !is_mode(device_only, RAW_SLICE_TYPE)) {
            printf("%s", raw_slice_msg);
            exit(1);
        }
    } else if (device_only && !is_mode(device_only, S_IFBLK)) {
        printf("!ERROR: diskhammer: please specify option -D followed by a block device which "
               "has a mount point, when -d is not specified.\n");
        exit(1);
    }
    dir_id = (int)getpid();
    if (!R_option && !L_option && !A_option) R_option = L_option = A_option = 1;

    mlist_entry *first = mlist_get(select);
    if (!first) {
        printf("!Error: No devices are available for test.\n");
        exit(1);
    }
    print_mlist(first);
    time_t now = time(nullptr);
    printf("Diskhammer starts at %s", ctime(&now));
    test_execute(first);
    return 0;
}
