#include "platform/proclimit.h"

#include <fcntl.h>
#include <unistd.h>

int proclimit_probe()
{
    int fd = open("/proc/self/limits", O_RDONLY);
    if (fd < 0) return -1;
    close(fd);
    return 0;
}

long child_max()
{
    return sysconf(_SC_CHILD_MAX);
}
