#include "diskhammer/diskhammer.h"
#include "platform/async_io.h"

#include <cerrno>
#include <cstdio>

// One request in flight: each transfer is started and waited for at once.
static ssize_t finish(int started, aio_result_t *res)
{
    if (started != 0) return -1;
    if (aiowait(nullptr) == (aio_result_t *)-1) report_error("aiowait");
    if (res->aio_return < 0) errno = res->aio_errno;
    return res->aio_return;
}

static ssize_t async_write(int fd, const void *buf, size_t len, off_t offset)
{
    aio_result_t res;
    return finish(aiowrite(fd, buf, len, offset, SEEK_SET, &res), &res);
}

static ssize_t async_read(int fd, void *buf, size_t len, off_t offset)
{
    aio_result_t res;
    return finish(aioread(fd, buf, len, offset, SEEK_SET, &res), &res);
}

const io_engine async_engine = {"Async I/O",
                                "\tWrite Async I/O:", "\tRead  Async I/O: File Size %lld\n",
                                async_write, async_read};
