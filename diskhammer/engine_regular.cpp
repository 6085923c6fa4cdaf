#include "diskhammer/diskhammer.h"

#include <unistd.h>

static ssize_t regular_write(int fd, const void *buf, size_t len, off_t)
{
    return write(fd, buf, len);
}

static ssize_t regular_read(int fd, void *buf, size_t len, off_t)
{
    return read(fd, buf, len);
}

const io_engine regular_engine = {"Regular I/O",
                                  "\tWrite Reg   I/O:", "\tRead  Reg   I/O: File Size %lld\n",
                                  regular_write, regular_read};
