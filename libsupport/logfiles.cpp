// Log and marker files. They have fixed names in shared directories:
// O_NOFOLLOW keeps a planted symbolic link from redirecting a write.
#include "libsupport/support.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int append_to_logfile(const char *fname)
{
    int fd = open(fname, O_WRONLY | O_APPEND | O_SYNC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        trace_errno("open('%s',O_WRONLY|O_APPEND|O_SYNC,0666) failed", fname);
        exit(1);
    }
    return fd;
}

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
