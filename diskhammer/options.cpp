// The command line: the options into the settings, with their size ranges
// and the checks of the device they name.
#include "diskhammer/diskhammer.h"
#include "platform/disk_size.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

static const char raw_slice_msg[] =
    "!ERROR: When -d is specified, specify the -D option followed by a raw slice.\n";
static const char short_minmax_msg[] = "!ERROR: diskhammer: Invalid min:max for option -f or -t\n";
static const char long_minmax_msg[] =
    "!ERROR: diskhammer: Invalid min:max for option -f or -t. The min and max should be in the "
    "range of 512 bytes and 2 Gbytes, and max must be greater than min.\nThe default unit size is "
    "bytes. If followed by b, k, m, or g, the test uses a corresponding unit size of 1 byte, 1KB "
    "(1024 bytes), 1MB (1,048,576 bytes), or 1GB (1,048,576 bytes).\n";

[[noreturn]] static void fail(const char *msg)
{
    printf("%s", msg);
    exit(1);
}

[[noreturn]] static void usage()
{
    fail("!ERROR: Usage: diskhammer [ -F fstype ] [ -D device ] [ -f min:max ] [ -t min:max ] "
         "[ -n num ] [ -mRLAdrsN1 ]\nThe default unit size is bytes. If followed by b, k, m, or "
         "g, the test uses a corresponding unit size of 1 byte, 1KB (1024 bytes), 1MB "
         "(1,048,576 bytes), or 1GB (1,048,576 bytes).\n");
}

static int is_mode(const char *path, mode_t type)
{
    struct stat st;
    return stat(path, &st) == 0 && (st.st_mode & S_IFMT) == type;
}

static int num_multipler(char c)
{
    if (c >= '0' && c <= '9') return 1;
    switch (c) {
    case 'b':
    case 'B': return 1;
    case 'k':
    case 'K': return 1024;
    case 'm':
    case 'M': return 1048576;
    case 'g':
    case 'G': return 1073741824;
    }
    return 0;
}

// Leading decimal digits, as atoi reads them, but saturating instead of
// overflowing: any value that large is out of range anyway, and times the
// largest unit (2^30) it still fits in 64 bits.
static long long leading_value(const std::string &s)
{
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        v = v * 10 + (c - '0');
        if (v > (1LL << 32)) v = 1LL << 32;
    }
    return v;
}

static long long side_value(const std::string &s)
{
    for (size_t i = 0; i + 1 < s.size(); i++)
        if (s[i] < '0' || s[i] > '9') fail(short_minmax_msg);
    int mult = s.empty() ? 0 : num_multipler(s.back());
    if (mult == 0) fail(short_minmax_msg);
    long long v = leading_value(s) * mult;
    if (v < 512 || v >= 2147483648LL) fail(long_minmax_msg);
    return v;
}

void parse_min_max(const char *text, long long *min, long long *max)
{
    std::string t = text;
    size_t colon = t.find(':');
    if (colon == std::string::npos) fail(short_minmax_msg);
    std::string lo = t.substr(0, colon), hi = t.substr(colon + 1);
    if (leading_value(lo) == 0 || leading_value(hi) == 0) fail(short_minmax_msg);
    *min = side_value(lo);
    *max = side_value(hi);
    if (*max < *min) fail(long_minmax_msg);
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

Settings parse_options(int argc, char **argv)
{
    Settings set;
    bool have_selector = false;
    int c;
    // '+': options end at the first operand, which is then refused.
    while ((c = getopt(argc, argv, "+AdD:f:F:Lmn:NrRst:1")) != -1) {
        switch (c) {
        case 'A': set.A_option = 1; break;
        case 'd':
            if (have_selector) printf("%s", raw_slice_msg);
            set.d_option = 1;
            set.io_target = "Raw Disk";
            break;
        case 'D': set.device_only = optarg; break;
        case 'f': parse_min_max(optarg, &set.min_filesz, &set.max_filesz); break;
        case 'F':
            if (set.d_option) {
                printf("%s", raw_slice_msg);
                break;
            }
            if (strcmp(optarg, "nfs") == 0)
                set.select = mlist_select_nfs_rw;
            else if (strcmp(optarg, "ufs") == 0)
                set.select = mlist_select_ufs_rw;
            else if (strcmp(optarg, "tmpfs") == 0)
                set.select = mlist_select_tmpfs_rw;
            else
                fail("!ERROR: diskhammer: Invalid filesystem type for option -F\n");
            have_selector = true;
            break;
        case 'L': set.L_option = 1; break;
        case 'm': set.m_option = 1; break;
        case 'n':
            set.num_tests = pass_count(optarg);
            if (set.num_tests == 0)
                fail("!ERROR: diskhammer: Invalid number of tests for option -n\n");
            break;
        case 'N': set.nobyte_compare = 1; break;
        case 'r':
            set.nrandom = 1;
            srand((unsigned)getpid());
            break;
        case 'R': set.R_option = 1; break;
        case 's': set.silent = 1; break;
        case 't': parse_min_max(optarg, &set.min_transz, &set.max_transz); break;
        case '1': set.one_partition_only = 1; break;
        default: usage();
        }
    }
    if (optind < argc) usage();

    if (set.d_option) {
        if (!set.device_only || !is_mode(set.device_only, RAW_SLICE_TYPE)) fail(raw_slice_msg);
    } else if (set.device_only && !is_mode(set.device_only, S_IFBLK)) {
        fail("!ERROR: diskhammer: please specify option -D followed by a block device which "
             "has a mount point, when -d is not specified.\n");
    }
    set.dir_id = (int)getpid();
    if (!set.R_option && !set.L_option && !set.A_option)
        set.R_option = set.L_option = set.A_option = 1;
    return set;
}
