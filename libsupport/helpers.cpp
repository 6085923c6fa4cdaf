// Checked helpers, process creation, and path and file-system queries.
#include "libsupport/support.h"

#include "platform/fstype.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

int append_to_logfile(const char *fname)
{
    // Work files live in shared directories: never write through a planted link.
    int fd = open(fname, O_WRONLY | O_APPEND | O_SYNC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        trace_errno("open('%s',O_WRONLY|O_APPEND|O_SYNC,0666) failed", fname);
        exit(1);
    }
    return fd;
}

pid_t ft_fork()
{
    static const unsigned pauses[] = {2, 0};
    pid_t pid = -1;
    for (const unsigned *p = pauses; *p; p++) {
        pid = fork();
        if (pid >= 0) break;
        if (errno == EAGAIN) {
            int err = errno;
            sleep(*p);
            errno = err;
        }
    }
    if (pid == 0) {
        // The child writes through streams of its own, reopened on demand.
        if (trace1 && fileno(trace1) > 2) trace1 = nullptr;
        if (trace2 && fileno(trace2) > 2) trace2 = nullptr;
    }
    return pid;
}

int close_all(int lowest)
{
    // The open-file limit may be near 10^9: close what is open, not every number.
#ifdef SYS_close_range
    if (syscall(SYS_close_range, (unsigned)lowest, ~0U, 0) == 0) return 0;
#endif
    std::vector<int> fds;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(d)) {
            int fd = atoi(e->d_name);
            if (e->d_name[0] != '.' && fd >= lowest && fd != dirfd(d)) fds.push_back(fd);
        }
        closedir(d);
        for (int fd : fds) close(fd);
        return 0;
    }
    long max = sysconf(_SC_OPEN_MAX);
    for (long fd = lowest; fd < max; fd++) close((int)fd);
    return 0;
}

void *emalloc(size_t n)
{
    void *p = malloc(n ? n : 1);
    if (!p) {
        trace_p("malloc() failed\n");
        exit(1);
    }
    return p;
}

char *estrsave(const char *s)
{
    size_t n = strlen(s) + 1;
    char *p = (char *)emalloc(n);
    memcpy(p, s, n);
    return p;
}

void edup2(int oldfd, int newfd)
{
    if (oldfd == newfd) return;
    if (dup2(oldfd, newfd) < 0) {
        trace_errno("dup2(%d,%d) failed", oldfd, newfd);
        exit(1);
    }
}

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
