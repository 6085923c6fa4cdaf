// Asynchronous reads and writes with one request outstanding.
//
// The programs rely on: `aioread` and `aiowrite` start one transfer at an
// offset from the start of the file (whence SEEK_SET, the only one offered)
// and return 0, or -1 with errno set when the request could not be started
// (a refusal by the kernel may instead show as the transfer's own failure in
// the result record); `aiowait` waits, with no time limit (the timeout must
// be nullptr), for the outstanding request and returns its result record,
// which then holds the transfer's return value (`aio_return`, -1 on failure)
// and error number (`aio_errno`); it returns (aio_result_t *)-1 with errno
// set when nothing can be waited for. Only one request may be outstanding.
// Each process sets up its own queue on first use, so a child may use it
// after fork; from then on that process keeps to the CPU it was on (the
// kernel's worker for a transfer runs beside it).
//
// On Linux the requests go through io_uring; when the kernel refuses
// io_uring, POSIX AIO serves instead. `aio_force_posix` makes the fallback the
// choice from now on (for tests); `aio_backend` names the one in use.
#pragma once
#include <sys/time.h>
#include <sys/types.h>

struct aio_result_t {
    ssize_t aio_return;
    int aio_errno;
};

int aioread(int fd, void *buf, size_t len, off_t offset, int whence, aio_result_t *result);
int aiowrite(int fd, const void *buf, size_t len, off_t offset, int whence, aio_result_t *result);
aio_result_t *aiowait(const struct timeval *timeout);

void aio_force_posix();
const char *aio_backend();
