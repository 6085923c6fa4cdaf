#include "platform/disk_size.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

const mode_t RAW_SLICE_TYPE = S_IFBLK;

int disk_size(int fd, long long *bytes)
{
    unsigned long long n = 0;
    if (ioctl(fd, BLKGETSIZE64, &n) != 0) return -1;
    *bytes = (long long)n;
    return 0;
}

int disk_block_size(int fd)
{
    int n = 0;
    if (ioctl(fd, BLKSSZGET, &n) != 0 || n < 512) return 512;
    return n;
}

// O_EXCL on a block device claims it: the kernel refuses with EBUSY while a
// file system, swap, device mapper or md holds it, whatever name it has.
int raw_open(const char *path, int flags)
{
    return open(path, flags | O_DIRECT | O_EXCL);
}

void *raw_alloc(size_t bytes)
{
    // 4096 covers every logical block size a disk reports for direct I/O.
    size_t n = (bytes + 4095) / 4096 * 4096;
    if (n == 0) n = 4096;
    void *p = aligned_alloc(4096, n);
    if (p) memset(p, 0, n);
    return p;
}
