// Directories, log and marker files, disk usage and the process limit.
#include "libsupport/support.h"

#include "platform/proclimit.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Log and marker files have fixed names in shared directories: O_NOFOLLOW
// keeps a planted symbolic link from redirecting a write.
int init_logfile(const char *path)
{
    int fd = open(path, O_CREAT | O_TRUNC | O_WRONLY | O_APPEND | O_SYNC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        trace_errno("!ERROR: open('%s',O_CREAT|O_TRUNC|O_WRONLY|O_APPEND|O_SYNC,0666) failed",
                    path);
        exit(1);
    }
    return fd;
}

int make_file(const char *path)
{
    int fd = open(path, O_CREAT | O_TRUNC | O_WRONLY | O_NOFOLLOW, 0666);
    if (fd < 0) {
        trace_errno("open('%s',O_CREAT|O_TRUNC|O_WRONLY,0666) failed", path);
        exit(1);
    }
    close(fd);
    return 0;
}

int write_string_to_file(const char *s, const char *path)
{
    int n = (int)strlen(s);
    int d = init_logfile(path);
    ssize_t w = write(d, s, n);
    if (w < 0) {
        trace_errno("!ERROR: write('%s','%-.20s',%d) failed", path, s, n);
        exit(1);
    }
    if (w != n) {
        trace_p("!ERROR: write('%s','%-.20s',%d) returned %d\n", path, s, n, (int)w);
        exit(1);
    }
    if (close(d) != 0) {
        trace_errno("!ERROR: close('%s') failed", path);
        exit(1);
    }
    return 0;
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

int nprocs()
{
    long n = child_max();
    return n > INT_MAX ? INT_MAX : (int)n;
}
