// Processes: creating a child, what a child drops and closes before it starts
// a tool, output captured in a file, waiting and the parts of a wait status,
// and the process limit.
#include "libsupport/support.h"

#include "platform/proclimit.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

static int close_all(int lowest)
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

// A child's trace destinations on descriptors from lowest up become none:
// they belong to the parent's streams, or to descriptors the child closes.
static void drop_trace_streams(int lowest)
{
    if (trace1 && fileno(trace1) >= lowest) trace1 = nullptr;
    if (trace2 && fileno(trace2) >= lowest) trace2 = nullptr;
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
    if (pid == 0) drop_trace_streams(3);
    return pid;
}

void close_inherited(int lowest)
{
    drop_trace_streams(lowest);
    close_all(lowest);
}

void output_to_file(const char *path, int flags, const char *open_failed, int fail, int lowest)
{
    // Output files have guessable names in shared directories: a planted
    // symbolic link there must not redirect a tool's report.
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | flags, 0666);
    if (fd < 0) {
        trace_errno(open_failed, path);
        _exit(fail);
    }
    edup2(fd, 1);
    edup2(fd, 2);
    if (fd != 1 && fd != 2) close(fd);
    close_inherited(lowest);
}

pid_t wait_child(pid_t pid, int *status)
{
    pid_t r;
    while ((r = waitpid(pid, status, 0)) < 0 && errno == EINTR) {
    }
    return r;
}

wait_parts decode_status(int status)
{
    return {status & 255, (status >> 8) & 255};
}

int nprocs()
{
    long n = child_max();
    return n > INT_MAX ? INT_MAX : (int)n;
}
