// Paths and file systems: the last component of a path, directories, the
// mount-table entry that holds a path, free space and disk usage.
#include "libsupport/support.h"

#include "platform/fstype.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <vector>

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

// The walk follows symbolic links and stays on the tree's own file system.
// An entry that cannot be examined adds nothing and the walk goes on; glibc's
// nftw would instead end the whole walk on a link it cannot follow (a loop
// gives ELOOP). A directory reached again through a link is walked once, a
// file once per name. Only one directory is open at a time.
static void du_walk(const std::string &path, dev_t dev, std::set<std::pair<dev_t, ino_t>> &seen)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || st.st_dev != dev) return;
    if (!S_ISDIR(st.st_mode)) {
        total_blocks += st.st_blocks;
        return;
    }
    if (!seen.insert({st.st_dev, st.st_ino}).second) return;
    DIR *d = opendir(path.c_str());
    if (!d) return; // a directory that cannot be read adds nothing
    total_blocks += st.st_blocks;
    std::vector<std::string> names;
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    for (const std::string &n : names) du_walk(path + "/" + n, dev, seen);
}

long du(const char *path)
{
    total_blocks = 0;
    struct stat st;
    if (stat(path, &st) != 0) {
        trace("%s::du: ftw('%s') returned %d\n", program_name, path, -1);
        exit(1);
    }
    std::set<std::pair<dev_t, ino_t>> seen;
    du_walk(path, st.st_dev, seen);
    return (long)((total_blocks + 1) / 2);
}
