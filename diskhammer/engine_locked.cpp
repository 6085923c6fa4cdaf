#include "diskhammer/diskhammer.h"

#include <unistd.h>

// An exclusive lock from the current position to the end of the file around
// every transfer. Nobody else contends for it; the point is the cost of
// taking and releasing it.
static ssize_t locked_write(int fd, const void *buf, size_t len, off_t)
{
    if (lockf(fd, F_LOCK, 0) != 0) report_error("lockf");
    ssize_t n = write(fd, buf, len);
    int saved = errno;
    if (lockf(fd, F_ULOCK, 0) != 0) report_error("lockf");
    errno = saved;
    return n;
}

// The read-back descriptor is read-only, so the kernel refuses the lock
// (EBADF); the refusal is ignored.
static ssize_t locked_read(int fd, void *buf, size_t len, off_t)
{
    lockf(fd, F_LOCK, 0);
    ssize_t n = read(fd, buf, len);
    if (n < 0) return n;
    lockf(fd, F_ULOCK, 0);
    return n;
}

const io_engine locked_engine = {"Record Locked I/O",
                                 "\tWrite Lock  I/O:", "\tRead  Lock  I/O: File Size %lld\n",
                                 locked_write, locked_read};
