// The command line: the options into the program-wide settings.
#include "diskhammer/diskhammer.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

const char raw_slice_msg[] =
    "!ERROR: When -d is specified, specify the -D option followed by a raw slice.\n";

[[noreturn]] static void usage()
{
    printf("!ERROR: Usage: diskhammer [ -F fstype ] [ -D device ] [ -f min:max ] [ -t min:max ] "
           "[ -n num ] [ -mRLAdrsN1 ]\nThe default unit size is bytes. If followed by b, k, m, or "
           "g, the test uses a corresponding unit size of 1 byte, 1KB (1024 bytes), 1MB "
           "(1,048,576 bytes), or 1GB (1,048,576 bytes).\n");
    exit(1);
}

// The leading decimal digits of the -n argument, 0 when it does not begin
// with one. A count too large for an int runs as many passes as an int
// holds, where atoi would wrap it to a negative or small count.
static int pass_count(const char *text)
{
    long long v = 0;
    for (const char *p = text; *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (*p - '0');
        if (v > INT_MAX) return INT_MAX;
    }
    return (int)v;
}

mlist_selector parse_options(int argc, char **argv)
{
    mlist_selector select = mlist_select_rw;
    bool have_selector = false;
    int c;
    // '+': options end at the first operand, which is then refused.
    while ((c = getopt(argc, argv, "+AdD:f:F:Lmn:NrRst:1")) != -1) {
        switch (c) {
        case 'A': A_option = 1; break;
        case 'd':
            if (have_selector) printf("%s", raw_slice_msg);
            d_option = 1;
            io_target = "Raw Disk";
            break;
        case 'D': device_only = optarg; break;
        case 'f': parse_min_max(optarg, &min_filesz, &max_filesz); break;
        case 'F':
            if (d_option) {
                printf("%s", raw_slice_msg);
                break;
            }
            if (strcmp(optarg, "nfs") == 0)
                select = mlist_select_nfs_rw;
            else if (strcmp(optarg, "ufs") == 0)
                select = mlist_select_ufs_rw;
            else if (strcmp(optarg, "tmpfs") == 0)
                select = mlist_select_tmpfs_rw;
            else {
                printf("!ERROR: diskhammer: Invalid filesystem type for option -F\n");
                exit(1);
            }
            have_selector = true;
            break;
        case 'L': L_option = 1; break;
        case 'm': m_option = 1; break;
        case 'n':
            num_tests = pass_count(optarg);
            if (num_tests == 0) {
                printf("!ERROR: diskhammer: Invalid number of tests for option -n\n");
                exit(1);
            }
            break;
        case 'N': nobyte_compare = 1; break;
        case 'r':
            nrandom = 1;
            srand((unsigned)getpid());
            break;
        case 'R': R_option = 1; break;
        case 's': silent = 1; break;
        case 't': parse_min_max(optarg, &min_transz, &max_transz); break;
        case '1': one_partition_only = 1; break;
        default: usage();
        }
    }
    if (optind < argc) usage();
    return select;
}
