// Paths and file systems: the last component of a path, directories, the
// mount-table entry that holds a path, free space and disk usage.
#include "libsupport/support.h"

#include "platform/fstype.h"

#include <cerrno>
#include <cstdlib>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

const char *sname(const char *path)
{
    const char *last = path;
    for (const char *p = path; *p;) {
        if (*p == '/') {
            while (*p == '/') p++;
            if (*p) last = p;
        } else {
            p++;
        }
    }
    return last;
}

int is_valid_directory(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0) {
        if (errno == ENOENT)
            trace_p("%s does not exist.\n", path);
        else
            trace_errno("stat('%s') failed", path);
        return 0;
    }
    if (!S_ISDIR(st.st_mode)) {
        trace_p("%s is not a directory.\n", path);
        return 0;
    }
    return 1;
}

const mount_entry *filesystem_of(const char *path)
{
    static mount_entry entry;
    struct stat st;
    if (stat(path, &st) != 0) {
        trace_errno("stat('%s') failed", path);
        return nullptr;
    }
    if (st.st_ino == 0) {
        trace_p("stat('%s') => st_ino == 0\n", path);
        return nullptr;
    }
    int found = mnt_holding(st.st_dev, &entry);
    if (found < 0) trace_errno("open('/etc/mnttab',O_RDONLY,0666) failed");
    return found > 0 ? &entry : nullptr;
}

unsigned gcd(unsigned a, unsigned b)
{
    while (b) {
        unsigned r = a % b;
        a = b;
        b = r;
    }
    return a;
}

long df_kbytes(uint64_t bavail, uint64_t frsize, uint64_t *grain_out)
{
    uint64_t unit = 1024;
    uint64_t grain = gcd((unsigned)frsize, 1024);
    if (grain > 1) {
        frsize /= grain;
        unit /= grain;
    }
    if (grain_out) *grain_out = grain;
    return (long)((bavail * frsize) / unit);
}

long df(const char *path)
{
    struct statvfs v;
    if (statvfs(path, &v) != 0) return -1;
    uint64_t grain;
    long k = df_kbytes(v.f_bavail, v.f_frsize, &grain);
    if (opt_verbose)
        eprintf("df_special: f_bfree=%lu, f_bavail=%lu, f_frsize=%lu, grain=%lu\n",
                (unsigned long)v.f_bfree, (unsigned long)v.f_bavail, (unsigned long)v.f_frsize,
                (unsigned long)grain);
    return k;
}

// 512-byte blocks, summed in 64 bits: a tree of a terabyte overflows an int.
int64_t total_blocks = 0;

static int du_visit(const char *, const struct stat *st, int flag, FTW *)
{
    if (flag == FTW_F || flag == FTW_D) total_blocks += st->st_blocks;
    return 0;
}

long du(const char *path)
{
    total_blocks = 0;
    int r = nftw(path, du_visit, 16, FTW_MOUNT);
    if (r != 0) {
        trace("%s::du: ftw('%s') returned %d\n", program_name, path, r);
        exit(1);
    }
    return (long)((total_blocks + 1) / 2);
}
