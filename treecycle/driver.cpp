// The iteration driver: start and end of the run, the doubles of each
// iteration and their statuses, the file-system checks between iterations,
// and the event lines that time-stamp the run.
#include "fscheck/fscheck.h"
#include "libsupport/support.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The run's start, for the elapsed time of the event lines (which the
// doubles write too).
static time_t start_time;

static const char *show_elapsed_time(long s)
{
    static char buf[64];
    snprintf(buf, sizeof buf, "%4ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

void trace_event(const char *text)
{
    time_t now = time(nullptr);
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

void TRC7_start(const settings &s, run_state &st)
{
    if (opt_verbose) eprintf("TRC7 %s %d %d\n", s.start_cwd.c_str(), s.max_iterations, s.instances);
    start_time = time(nullptr);
    close_inherited(3);
    close(init_logfile(s.log_tmp_path));
    trace2_fname = s.log_tmp_path;
    guard_mkdir(strprintf("%s/log", s.dst_directory).c_str(), 0777);
    guard_chdir(s.start_cwd.c_str(), "..");
    trace("Source      directory: %s\n", s.src_directory);
    trace("Destination directory: %s\n", s.dst_directory);
    if (s.max_iterations >= 0)
        trace("Iterations           : %d\n", s.max_iterations);
    else
        trace("Time limit           : %s (%d sec)\n", show_elapsed_time(s.time_limit),
              s.time_limit);
    trace("Concurrent  instances: %d\n", st.instances);
    trace_flush();
    trace_event("Start.");
    std::string failed = strprintf("%s/../TRC7.failed", s.start_cwd.c_str());
    if (unlink(failed.c_str()) != 0 && errno != ENOENT) {
        trace_errno("!ERROR: unlink('%s') failed", failed.c_str());
        exit(1);
    }
    write_string_to_file(strprintf("%d\n", st.pid).c_str(),
                         strprintf("%s/../TRC7.pid", s.dst_directory).c_str());
    write_string_to_file(strprintf("kill -s TERM -- -%d\n", st.pid).c_str(),
                         strprintf("%s/../TRC7.term", s.dst_directory).c_str());
    guard_chdir(nullptr, s.start_cwd.c_str());
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

static std::vector<fs_check> TRC7_check_list(const settings &s)
{
    std::vector<fs_check> list;
    if (!s.opt_fsck_any) return list;
    if (s.root_raw_device && s.opt_fsck_root)
        list.push_back({s.root_raw_device, "/", s.tmp_fsck_1});
    if (s.src_raw_device && !same_device(s.src_raw_device, s.root_raw_device))
        list.push_back({s.src_raw_device, s.src_mount_point.c_str(), s.tmp_fsck_2});
    if (s.dst_raw_device && !same_device(s.dst_raw_device, s.root_raw_device) &&
        !same_device(s.dst_raw_device, s.src_raw_device))
        list.push_back({s.dst_raw_device, s.dst_mount_point.c_str(), s.tmp_fsck_3});
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

static void TRC7_double_fail(run_state &st, int status)
{
    if (is_resource_status(status)) {
        if (status == TRC7_NOFORK)
            trace("%s::TRC7_double(): fork ran out of resources.\n", program_name);
        else
            trace("%s::TRC7_double(): exec ran out of resources.\n", program_name);
        if (st.instance < st.instances)
            st.instances = st.instance;
        else
            st.instances = st.instances - 1;
        return;
    }
    trace_p("!ERROR: TRC7_double() got error %s",
            status == TRC7_SIGNAL ? "TRC7_SIGNAL" : "TRC7_ERROR");
    exit(1);
}

static void TRC7_double_start(const settings &s, run_state &st)
{
    for (st.instance = 1; st.instance <= st.instances; st.instance++) {
        trace_flush();
        pid_t p = ft_fork();
        if (p < 0) {
            TRC7_double_fail(st, fail_fork());
            continue;
        }
        if (p == 0) {
            close_inherited(4);
            TRC7_double(s, st);
        }
    }
    for (;;) {
        int w;
        if (wait_child(-1, &w) < 0) {
            if (errno == ECHILD) break;
            trace_errno("!ERROR: wait() failed");
            exit(1);
        }
        int r = map_status(w);
        if (r) TRC7_double_fail(st, r);
    }
}

static void TRC7_concur(const settings &s, run_state &st)
{
    int before = st.instances;
    TRC7_double_start(s, st);
    if (st.instances != before)
        trace_event(strprintf("Instances adjusted from %d to %d\n", before, st.instances).c_str());
    // With none left the iterations would copy and compare nothing and pass.
    if (st.instances == 0 && before > 0) {
        trace_p("!ERROR: %s: no instance can run any more.\n", program_name);
        exit(1);
    }
}

void TRC7_repeat(const settings &s, run_state &st)
{
    st.iteration = 0;
    for (;;) {
        st.iteration++;
        time_t t0 = time(nullptr);
        if (control_file_present("../TRC7.failed")) return;
        TRC7_concur(s, st);
        int bad = TRC7_run_checks(TRC7_check_list(s));
        if (bad >= 0) {
            eprintf("!ERROR: 'false' status on fs %d.", bad);
            exit(1);
        }
        if (control_file_present("../stop")) return;
        trace_event(strprintf("Iteration %03d complete.", st.iteration).c_str());
        time_t now = time(nullptr);
        if (now - t0 > 240) trace("LOOPTIME: %ld\n", (long)(now - t0));
        if (s.max_iterations >= 0 && st.iteration >= s.max_iterations) return;
        if (s.time_limit >= 0 && now - start_time >= s.time_limit) return;
    }
}

void TRC7_done()
{
    trace_event("!PASS: Done.");
}
