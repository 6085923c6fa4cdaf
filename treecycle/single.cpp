// One copy job: empty the destination, copy with the archiver, inject the
// chosen fault, compare with the comparison tool, release the references.
#include "libsupport/support.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

[[noreturn]] static void exec_cpio(const char *fl_path, const char *dst)
{
    close(0);
    // The list lives in a world-writable directory: no planted link.
    int fd = open(fl_path, O_RDONLY | O_NOFOLLOW, 0666);
    if (fd < 0) {
        trace_errno("open('%s',O_RDONLY,0666) failed", fl_path);
        exit(1);
    }
    edup2(fd, 0);
    if (fd != 0) close(fd);
    close_inherited(4);
    const char *argv[] = {"cpio", "-pdu", dst, nullptr};
    exec_tool("/usr/bin/cpio", argv);
}

[[noreturn]] static void exec_diff(const char *src, const char *dst, const char *out)
{
    output_to_file(out, O_TRUNC, "open('%s',O_CREAT|O_TRUNC|O_WRONLY,0666) failed", 1, 4);
    const char *argv[] = {"diff", "-r", src, dst, nullptr};
    exec_tool("/usr/bin/diff", argv);
}

static void save_core_file(const std::string &start_cwd)
{
    struct stat st;
    if (stat("core", &st) == 0) {
        run_mv("core", strprintf("%s/../core.%d", start_cwd.c_str(), (int)getpid()).c_str());
    } else if (errno != ENOENT) {
        trace_errno("stat('core') failed");
    }
}

// Removes the first regular file at the top level of the copy.
static void drop_one_file(const char *dir)
{
    DIR *d = opendir(dir);
    if (!d) {
        trace_errno("opendir('%s') failed", dir);
        exit(1);
    }
    errno = 0;
    while (struct dirent *e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        std::string p = strprintf("%s/%s", dir, e->d_name);
        struct stat st;
        if (stat(p.c_str(), &st) != 0) {
            trace_errno("stat('%s') failed", p.c_str());
            exit(1);
        }
        if (st.st_ino != 0 && S_ISREG(st.st_mode)) {
            if (unlink(p.c_str()) != 0) {
                trace_errno("unlink('%s') failed", p.c_str());
                exit(1);
            }
            break;
        }
    }
    if (closedir(d) != 0) {
        trace_errno("closedir('%s') failed", dir);
        exit(1);
    }
}

void TRC7_single(const settings &s, const run_state &st, const single_record *job)
{
    int status = nuke_directory(job->dst_dir);
    if (status) {
        eprintf("nuke_directory in TRC7_single failed.");
        exit(status);
    }
    std::string log = strprintf("%s/log/TRC7.%03d.%03d.%d.log", s.dst_directory, st.iteration,
                                st.instance, job->number);
    int fd = init_logfile(log.c_str());
    edup2(fd, 1);
    edup2(fd, 2);
    if (fd > 2) close(fd);
    close_inherited(4);
    guard_mkdir(job->dst_dir, 0777);
    if (s.fault_max_instances && st.instance > s.fault_max_instances) {
        eprintf("Too many instances.");
        exit(TRC7_NOFORK);
    }
    // Nothing buffered may be written twice, by the single and by its child.
    trace_flush();
    pid_t p = ft_fork();
    if (p < 0) {
        int e = errno;
        eprintf("Fork failed.");
        errno = e;
        exit(fail_fork());
    }
    if (p == 0) {
        guard_chdir(nullptr, job->src_dir);
        exec_cpio(s.fl_path, job->dst_dir);
    }
    status = guard_wait("cpio");
    if (status == 0 && s.fault_cpio == job->number) {
        trace_p("cpio failed; fault-cpio\n");
        status = 1;
    }
    if (status) {
        save_core_file(s.start_cwd);
        eprintf("cpio failed.");
        exit(status);
    }
    if (s.fault_file_add == job->number) make_file(strprintf("%s/fault", job->dst_dir).c_str());
    if (s.fault_file_drop == job->number) drop_one_file(job->dst_dir);

    trace_flush();
    p = ft_fork();
    if (p < 0) exit(fail_fork());
    if (p == 0) exec_diff(job->src_dir, job->dst_dir, job->dcout);
    status = guard_wait("diff");
    if (status == 0 && s.fault_diff == job->number) {
        trace_p("diff failed; fault-diff\n");
        status = 1;
    }
    if (status) {
        eprintf("diff failed.");
        exit(status);
    }
    if (job->src_dir != s.src_directory) status = unlink_tbase_ref("ref.src.", job->number);
    // The destination is always a copy of this instance.
    if (status == 0) status = unlink_tbase_ref("ref.dst.", job->number);
    if (status) {
        eprintf("unlink_tbase_ref failed.");
        exit(status);
    }
    exit(0);
}
