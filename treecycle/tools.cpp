// Tool processes, guarded calls and the status codes of the process tree.
#include "libsupport/support.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

void exec_tool(const char *path, const char *const argv[], unsigned retry_pause)
{
    // A full process table makes exec fail with EAGAIN: wait for it to drain.
    for (int attempt = 0; attempt < 10; attempt++) {
        execv(path, const_cast<char *const *>(argv));
        if (errno != EAGAIN) _exit(TRC7_ERROR);
        sleep(retry_pause);
    }
    _exit(TRC7_NOEXEC);
}

[[noreturn]] static void exec_rm(const char *path)
{
    const char *argv[] = {"rm", "-rf", path, nullptr};
    exec_tool("/usr/bin/rm", argv);
}

[[noreturn]] static void exec_mv(const char *from, const char *to)
{
    close_inherited(4);
    const char *argv[] = {"mv", from, to, nullptr};
    exec_tool("/usr/bin/mv", argv);
}

int run_rm(const char *path)
{
    trace_flush();
    pid_t p = ft_fork();
    if (p < 0) return fail_fork();
    if (p == 0) exec_rm(path);
    return guard_wait("rm");
}

int run_mv(const char *from, const char *to)
{
    trace_flush();
    pid_t p = ft_fork();
    if (p < 0) return fail_fork();
    if (p == 0) exec_mv(from, to);
    return guard_wait("mv");
}

int guard_wait(const char *tool)
{
    int st = 0;
    if (wait_child(-1, &st) < 0) {
        trace_errno("wait() failed");
        return TRC7_ERROR;
    }
    int s = map_status(st);
    if (s == 0 || is_resource_status(s)) return s;
    wait_parts w = decode_status(st);
    trace_p("%s failed; status = {signal=%d, exit=%d}\n", tool, w.signal, w.exit);
    return s;
}

int map_status(int st)
{
    wait_parts w = decode_status(st);
    if (st == 0) return 0;
    if (is_resource_status(w.exit)) return w.exit;
    return w.signal ? TRC7_SIGNAL : TRC7_ERROR;
}

int fail_fork()
{
    int e = errno;
    trace_errno("fork() failed");
    return (e == EAGAIN || e == ENOMEM) ? TRC7_NOFORK : TRC7_ERROR;
}

void guard_mkdir(const char *path, int mode)
{
    if (mkdir(path, mode) == 0) return;
    trace_errno("!ERROR: mkdir('%s',%o) failed", path, mode);
    exit(TRC7_ERROR);
}

void guard_chdir(const char *from, const char *path)
{
    if (chdir(path) == 0) return;
    if (from)
        trace_errno("!ERROR: chdir('%s') [from %s] failed", path, from);
    else
        trace_errno("!ERROR: chdir('%s') failed", path);
    exit(1);
}

int nuke_directory(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0) return run_rm(path);
    if (errno == ENOENT) return 0;
    trace_errno("stat('%s') failed", path);
    return TRC7_ERROR;
}
