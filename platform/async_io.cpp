#include "platform/async_io.h"

#include <aio.h>
#include <cerrno>
#include <cstring>
#include <liburing.h>
#include <sched.h>
#include <unistd.h>

namespace
{

enum Backend { NONE, URING, POSIX };

Backend backend = NONE;
pid_t backend_pid = -1; // the queue belongs to the process that made it
bool posix_forced = false;
struct io_uring ring;
struct aiocb posix_cb;
aio_result_t *pending = nullptr;

// A buffered write that the file system cannot do without blocking (ext4)
// goes to a kernel worker thread, which inherits this process's CPU set.
// With one request in flight the process only sleeps while the worker runs,
// and the hand-off costs far less on one CPU than across two (about 40% of
// such a write's time here), so the process keeps to the CPU it is on.
void stay_on_this_cpu()
{
    int cpu = sched_getcpu();
    if (cpu < 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set); // a refusal only costs speed
}

void choose_backend()
{
    if (backend != NONE && backend_pid == getpid()) return;
    // A ring inherited across fork is the parent's; leave it to the parent.
    pending = nullptr;
    backend_pid = getpid();
    if (!posix_forced && io_uring_queue_init(2, &ring, 0) == 0) {
        backend = URING;
        stay_on_this_cpu();
        return;
    }
    backend = POSIX;
}

int start(bool write, int fd, void *buf, size_t len, off_t offset, int whence, aio_result_t *result)
{
    if (!result || pending) {
        errno = pending ? EBUSY : EINVAL;
        return -1;
    }
    if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    choose_backend();
    result->aio_return = -1;
    result->aio_errno = EINPROGRESS;
    if (backend == URING) {
        struct io_uring_sqe *sqe = io_uring_get_sqe(&ring);
        if (!sqe) {
            errno = EAGAIN;
            return -1;
        }
        if (write)
            io_uring_prep_write(sqe, fd, buf, (unsigned)len, (unsigned long long)offset);
        else
            io_uring_prep_read(sqe, fd, buf, (unsigned)len, (unsigned long long)offset);
        io_uring_sqe_set_data(sqe, result);
        // Submitted by the wait that always follows: one system call per
        // transfer instead of two.

    } else {
        memset(&posix_cb, 0, sizeof posix_cb);
        posix_cb.aio_fildes = fd;
        posix_cb.aio_buf = buf;
        posix_cb.aio_nbytes = len;
        posix_cb.aio_offset = offset;
        if ((write ? aio_write(&posix_cb) : aio_read(&posix_cb)) != 0) return -1;
    }
    pending = result;
    return 0;
}

} // namespace

int aioread(int fd, void *buf, size_t len, off_t offset, int whence, aio_result_t *result)
{
    return start(false, fd, buf, len, offset, whence, result);
}

int aiowrite(int fd, const void *buf, size_t len, off_t offset, int whence, aio_result_t *result)
{
    return start(true, fd, const_cast<void *>(buf), len, offset, whence, result);
}

aio_result_t *aiowait(const struct timeval *timeout)
{
    if (!pending || backend_pid != getpid() || timeout) {
        errno = EINVAL;
        return (aio_result_t *)-1;
    }
    aio_result_t *r = pending;
    if (backend == URING) {
        struct io_uring_cqe *cqe = nullptr;
        int rc;
        do rc = io_uring_submit_and_wait(&ring, 1);
        while (rc == -EINTR);
        if (rc >= 0) rc = io_uring_peek_cqe(&ring, &cqe);
        while (rc == -EAGAIN || rc == -EINTR) rc = io_uring_wait_cqe(&ring, &cqe);
        if (rc < 0) {
            errno = -rc;
            return (aio_result_t *)-1;
        }
        if (cqe->res < 0) {
            r->aio_return = -1;
            r->aio_errno = -cqe->res;
        } else {
            r->aio_return = cqe->res;
            r->aio_errno = 0;
        }
        io_uring_cqe_seen(&ring, cqe);
    } else {
        const struct aiocb *list[1] = {&posix_cb};
        while (aio_error(&posix_cb) == EINPROGRESS) {
            if (aio_suspend(list, 1, nullptr) != 0 && errno != EINTR) return (aio_result_t *)-1;
        }
        int err = aio_error(&posix_cb);
        ssize_t n = aio_return(&posix_cb);
        r->aio_return = n < 0 ? -1 : n;
        r->aio_errno = n < 0 ? err : 0;
    }
    pending = nullptr;
    return r;
}

void aio_force_posix()
{
    posix_forced = true;
    if (backend == URING && backend_pid == getpid() && !pending) io_uring_queue_exit(&ring);
    backend = NONE;
}

const char *aio_backend()
{
    choose_backend();
    return backend == URING ? "io_uring" : "posix";
}
