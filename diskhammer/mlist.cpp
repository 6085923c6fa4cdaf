// Sizes, the target list from the mount table, and the banner.
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

[[noreturn]] static void fail_errno(const char *label)
{
    printf("%s%s\n", label, strerror(errno));
    exit(1);
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

int mlist_select(const Settings &set, const mount_entry &e, const char *type, const char *opt)
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
    if (set.device_only && e.mnt_special != set.device_only) return 0;
    return get_fssize(e.mnt_mountp.c_str()) >= set.max_filesz;
}

int mlist_select_rw(const Settings &set, const mount_entry &e)
{
    return mlist_select(set, e, nullptr, "rw");
}

// The typed selectors honour -1: once one entry is chosen, no other is.
static int select_once(int *chosen, const Settings &set, const mount_entry &e, const char *type)
{
    if (set.one_partition_only && *chosen) return 0;
    *chosen = mlist_select(set, e, type, "rw");
    return *chosen;
}

int mlist_select_ufs_rw(const Settings &set, const mount_entry &e)
{
    static int chosen;
    return select_once(&chosen, set, e, "ufs");
}

int mlist_select_nfs_rw(const Settings &set, const mount_entry &e)
{
    static int chosen;
    return select_once(&chosen, set, e, "nfs");
}

int mlist_select_tmpfs_rw(const Settings &set, const mount_entry &e)
{
    static int chosen;
    return select_once(&chosen, set, e, "tmpfs");
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

mlist_entry *mlist_get(const Settings &set)
{
    FILE *table = mnt_open();
    if (!table) fail_errno("\n!ERROR: /etc/mtab");
    struct stat slice_st;
    bool have_slice =
        set.d_option && stat(set.device_only, &slice_st) == 0 && S_ISBLK(slice_st.st_mode);
    mlist_entry *first = nullptr;
    mount_entry e;
    while (mnt_next(table, &e)) {
        if (set.d_option) {
            if (slice_in_use(e, set.device_only, have_slice ? &slice_st : nullptr))
                refuse_slice(e.mnt_mountp.c_str());
            continue;
        }
        if (!set.select(set, e)) continue;
        mlist_entry *mp = new mlist_entry{};
        mp->device = e.mnt_special;
        mp->mountp = e.mnt_mountp;
        mp->fstype = e.mnt_fstype;
        mp->mntopts = e.mnt_mntopts;
        mp->next = first;
        first = mp;
    }
    if (set.d_option) {
        // Held by something the table does not show (swap, a volume, an
        // array, another program's exclusive open).
        int fd = raw_open(set.device_only, O_RDONLY);
        if (fd < 0 && errno == EBUSY) refuse_slice(set.device_only);
        if (fd >= 0) close(fd);
        mlist_entry *mp = new mlist_entry{};
        mp->device = set.device_only;
        mp->next = first;
        first = mp;
    }
    mnt_close(table);
    return first;
}

void print_mlist(const Settings &set, const mlist_entry *first)
{
    if (!set.silent) {
        printf("\t\t\t%s Stress Test\n\n", set.io_target);
        printf("\t\t\tArchitecture : ");
        fflush(stdout);
        if (system("uname -a")) { /* its output is what matters */
        }
        fflush(stdout);
        printf("\t\t\t%ss Under Test\n", set.io_target);
        if (set.d_option) {
            printf("device\n");
            for (const mlist_entry *mp = first; mp; mp = mp->next)
                printf("%s\n", mp->device.c_str());
        } else {
            printf("fstype\tdevice\t\tmount\n");
            for (const mlist_entry *mp = first; mp; mp = mp->next)
                printf("%s\t%s\t%s\n", mp->fstype.c_str(), mp->device.c_str(), mp->mountp.c_str());
        }
    }
    if (set.m_option) printf("\nFiles Written/Read will be Memory Mapped as Well\n");
    if (set.d_option) printf("\nRaw Disk will be pre-Read First, and then Written Back\n");
}
