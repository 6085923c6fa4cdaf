// Options' size ranges, the target list from the mount table, and the banner.
#include "diskhammer/diskhammer.h"
#include "platform/disk_size.h"
#include "platform/fstype.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

int R_option, L_option, A_option, d_option;
const char *device_only;
const char *io_target = "File System";
long long min_filesz = 1048576, max_filesz = 4194304, min_transz = 1024, max_transz = 65536,
          file_incr = 1024;
int num_tests = 2, m_option, nobyte_compare, nrandom, silent, one_partition_only;
int dir_id;
mlist_entry *mlist_first;

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

[[noreturn]] static void fail_errno(const char *label)
{
    printf("%s%s\n", label, strerror(errno));
    exit(1);
}

int is_mode(const char *path, mode_t type)
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

long long get_rawsize(const char *device)
{
    int fd = open(device, O_RDONLY);
    if (fd < 0) {
        printf("\n!ERROR!: Cannot open %s\n.", device);
        exit(1);
    }
    long long bytes = 0;
    if (disk_size(fd, &bytes) != 0) {
        printf("\n!ERROR: Cannot get VTOC of %s\n.", device);
        printf("%s\n", strerror(errno));
        exit(1);
    }
    close(fd);
    return bytes;
}

long long get_fssize(const char *path)
{
    struct statvfs sv;
    if (statvfs(path, &sv) != 0) fail_errno("\n!ERROR: statfs");
    return (long long)sv.f_bavail * (long long)sv.f_frsize;
}

// Read-only by the whole option "ro"; a list that is nothing but "ro" reads
// as read-write, as it always has.
static bool read_only(const mount_entry &e)
{
    return e.mnt_mntopts != "ro" && mnt_hasopt(e, "ro");
}

int mlist_select(const mount_entry &e, const char *type, const char *opt)
{
    if (type && fs_family(e.mnt_fstype) != type) return 0;
    if (strcmp(opt, "rw") == 0) {
        if (read_only(e)) return 0;
    } else if (!mnt_hasopt(e, opt)) {
        return 0;
    }
    // With -D only the entry that names the device is measured: another
    // mount that cannot be measured (hidden under a later mount, a FUSE mount
    // that refuses root) has nothing to do with the device asked for.
    if (device_only && e.mnt_special != device_only) return 0;
    return get_fssize(e.mnt_mountp.c_str()) >= max_filesz;
}

int mlist_select_rw(const mount_entry &e)
{
    return mlist_select(e, nullptr, "rw");
}

// The typed selectors honour -1: once one entry is chosen, no other is.
static int select_once(int *chosen, const mount_entry &e, const char *type)
{
    if (one_partition_only && *chosen) return 0;
    *chosen = mlist_select(e, type, "rw");
    return *chosen;
}

int mlist_select_ufs_rw(const mount_entry &e)
{
    static int chosen;
    return select_once(&chosen, e, "ufs");
}

int mlist_select_nfs_rw(const mount_entry &e)
{
    static int chosen;
    return select_once(&chosen, e, "nfs");
}

int mlist_select_tmpfs_rw(const mount_entry &e)
{
    static int chosen;
    return select_once(&chosen, e, "tmpfs");
}

// The slice is in use by this mount: the designed name test, and the same
// device under another name (a root shown as /dev/root, a link).
static bool slice_in_use(const mount_entry &e, const char *slice, const struct stat *slice_st)
{
    const char *base = strrchr(slice, '/');
    base = base ? base + 1 : slice;
    if (e.mnt_special.find(base) != std::string::npos) return true;
    if (!slice_st) return false;
    int saved = errno;
    struct stat st;
    bool same = (stat(e.mnt_special.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
                 st.st_rdev == slice_st->st_rdev) ||
                (stat(e.mnt_mountp.c_str(), &st) == 0 && st.st_dev == slice_st->st_rdev);
    errno = saved;
    return same;
}

static void refuse_slice(const char *where)
{
    printf("!ERROR: Raw test should be performed on the umount slice. The data on that slice will "
           "be damaged. Do not store critical data on %s and umount it.%s\n",
           where, strerror(errno));
    exit(1);
}

mlist_entry *mlist_get(mlist_selector select)
{
    FILE *table = mnt_open();
    if (!table) fail_errno("\n!ERROR: /etc/mtab");
    struct stat slice_st;
    bool have_slice = d_option && stat(device_only, &slice_st) == 0 && S_ISBLK(slice_st.st_mode);
    mlist_entry *first = nullptr;
    mount_entry e;
    while (mnt_next(table, &e)) {
        if (d_option) {
            if (slice_in_use(e, device_only, have_slice ? &slice_st : nullptr))
                refuse_slice(e.mnt_mountp.c_str());
            continue;
        }
        if (!select(e)) continue;
        mlist_entry *mp = new mlist_entry{};
        mp->device = e.mnt_special;
        mp->mountp = e.mnt_mountp;
        mp->fstype = e.mnt_fstype;
        mp->mntopts = e.mnt_mntopts;
        mp->next = first;
        first = mp;
    }
    if (d_option) {
        // Held by something the table does not show (swap, a volume, an
        // array, another program's exclusive open).
        int fd = raw_open(device_only, O_RDONLY);
        if (fd < 0 && errno == EBUSY) refuse_slice(device_only);
        if (fd >= 0) close(fd);
        mlist_entry *mp = new mlist_entry{};
        mp->device = device_only;
        mp->next = first;
        first = mp;
    }
    mnt_close(table);
    mlist_first = first;
    return first;
}

void print_mlist(mlist_entry *first)
{
    if (!silent) {
        printf("\t\t\t%s Stress Test\n\n", io_target);
        printf("\t\t\tArchitecture : ");
        fflush(stdout);
        if (system("uname -a")) { /* its output is what matters */
        }
        fflush(stdout);
        printf("\t\t\t%ss Under Test\n", io_target);
        if (d_option) {
            printf("device\n");
            for (mlist_entry *mp = first; mp; mp = mp->next) printf("%s\n", mp->device.c_str());
        } else {
            printf("fstype\tdevice\t\tmount\n");
            for (mlist_entry *mp = first; mp; mp = mp->next)
                printf("%s\t%s\t%s\n", mp->fstype.c_str(), mp->device.c_str(), mp->mountp.c_str());
        }
    }
    if (m_option) printf("\nFiles Written/Read will be Memory Mapped as Well\n");
    if (d_option) printf("\nRaw Disk will be pre-Read First, and then Written Back\n");
}
