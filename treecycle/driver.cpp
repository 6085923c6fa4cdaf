// The iteration driver: start and end of the run, the doubles of each
// iteration and their statuses, the file-system checks between iterations,
// and the event lines that time-stamp the run.
#include "fscheck/fscheck.h"
#include "libsupport/support.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

int iteration;
int instance;
time_t start_time;
time_t now;

static const char *show_elapsed_time(long s)
{
    static char buf[64];
    snprintf(buf, sizeof buf, "%4ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

void trace_event(const char *text)
{
    now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    trace("%ld %04d%02d%02d%02d%02d%02d %s: %s\n", (long)now, tm.tm_year + 1900, tm.tm_mon + 1,
          tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, show_elapsed_time(now - start_time), text);
    trace_flush();
}

// A control file counts as present when stat succeeds with a non-zero inode.
static bool control_file_present(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && st.st_ino != 0;
}

void TRC7_start()
{
    if (opt_verbose) eprintf("TRC7 %s %d %d\n", start_cwd, max_iterations, instances);
    start_time = time(nullptr);
    close_inherited(3);
    close(init_logfile(log_tmp_path));
    trace2_fname = log_tmp_path;
    guard_mkdir(strprintf("%s/log", dst_directory).c_str(), 0777);
    guard_chdir(start_cwd, "..");
    trace("Source      directory: %s\n", src_directory);
    trace("Destination directory: %s\n", dst_directory);
    if (max_iterations >= 0)
        trace("Iterations           : %d\n", max_iterations);
    else
        trace("Time limit           : %s (%d sec)\n", show_elapsed_time(time_limit), time_limit);
    trace("Concurrent  instances: %d\n", instances);
    trace_flush();
    trace_event("Start.");
    std::string failed = strprintf("%s/../TRC7.failed", start_cwd);
    if (unlink(failed.c_str()) != 0 && errno != ENOENT) {
        trace_errno("!ERROR: unlink('%s') failed", failed.c_str());
        exit(1);
    }
    write_string_to_file(strprintf("%d\n", pid).c_str(),
                         strprintf("%s/../TRC7.pid", dst_directory).c_str());
    write_string_to_file(strprintf("kill -s TERM -- -%d\n", pid).c_str(),
                         strprintf("%s/../TRC7.term", dst_directory).c_str());
    guard_chdir(nullptr, start_cwd);
}

// The file-system checks between iterations, in the order they run.
struct fs_check {
    const char *device;
    const char *mount_point;
    const char *output;
};

// A raw device that is not set differs from every other.
static bool same_device(const char *a, const char *b)
{
    return a && b && !strcmp(a, b);
}

static std::vector<fs_check> TRC7_check_list()
{
    std::vector<fs_check> list;
    if (!opt_fsck_any) return list;
    if (root_raw_device && opt_fsck_root) list.push_back({root_raw_device, "/", tmp_fsck_1});
    if (src_raw_device && !same_device(src_raw_device, root_raw_device))
        list.push_back({src_raw_device, src_mount_point, tmp_fsck_2});
    if (dst_raw_device && !same_device(dst_raw_device, root_raw_device) &&
        !same_device(dst_raw_device, src_raw_device))
        list.push_back({dst_raw_device, dst_mount_point, tmp_fsck_3});
    return list;
}

// Runs every check of the list; the position of the first that failed, or -1.
static int TRC7_run_checks(const std::vector<fs_check> &list)
{
    std::vector<int> result;
    for (auto &c : list) result.push_back(check_fs(c.device, c.mount_point, c.output));
    for (size_t i = 0; i < result.size(); i++)
        if (result[i] == 0) return (int)i;
    return -1;
}

static void TRC7_double_fail(int status)
{
    if (is_resource_status(status)) {
        if (status == TRC7_NOFORK)
            trace("%s::TRC7_double(): fork ran out of resources.\n", program_name);
        else
            trace("%s::TRC7_double(): exec ran out of resources.\n", program_name);
        if (instance < instances)
            instances = instance;
        else
            instances = instances - 1;
        return;
    }
    trace_p("!ERROR: TRC7_double() got error %s",
            status == TRC7_SIGNAL ? "TRC7_SIGNAL" : "TRC7_ERROR");
    exit(1);
}

static void TRC7_double_start()
{
    for (instance = 1; instance <= instances; instance++) {
        trace_flush();
        pid_t p = ft_fork();
        if (p < 0) {
            TRC7_double_fail(fail_fork());
            continue;
        }
        if (p == 0) {
            close_inherited(4);
            TRC7_double();
        }
    }
    for (;;) {
        int st;
        if (wait_child(-1, &st) < 0) {
            if (errno == ECHILD) break;
            trace_errno("!ERROR: wait() failed");
            exit(1);
        }
        int s = map_status(st);
        if (s) TRC7_double_fail(s);
    }
}

static void TRC7_concur()
{
    int before = instances;
    TRC7_double_start();
    if (instances != before)
        trace_event(strprintf("Instances adjusted from %d to %d\n", before, instances).c_str());
    // With none left the iterations would copy and compare nothing and pass.
    if (instances == 0 && before > 0) {
        trace_p("!ERROR: %s: no instance can run any more.\n", program_name);
        exit(1);
    }
}

void TRC7_repeat()
{
    iteration = 0;
    for (;;) {
        iteration++;
        time_t t0 = time(nullptr);
        if (control_file_present("../TRC7.failed")) return;
        TRC7_concur();
        int bad = TRC7_run_checks(TRC7_check_list());
        if (bad >= 0) {
            eprintf("!ERROR: 'false' status on fs %d.", bad);
            exit(1);
        }
        if (control_file_present("../stop")) return;
        trace_event(strprintf("Iteration %03d complete.", iteration).c_str());
        now = time(nullptr);
        if (now - t0 > 240) trace("LOOPTIME: %ld\n", (long)(now - t0));
        if (max_iterations >= 0 && iteration >= max_iterations) return;
        if (time_limit >= 0 && now - start_time >= time_limit) return;
    }
}

void TRC7_done()
{
    trace_event("!PASS: Done.");
}
