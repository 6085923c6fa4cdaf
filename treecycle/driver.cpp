// The iteration driver, the doubles and their bookkeeping: copy plan,
// marker files and reference links, event lines.
#include "fscheck/fscheck.h"
#include "libsupport/support.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

int iteration;
int instance;
time_t start_time;
time_t now;

char *tbase[6];
char *dcout[6];
int refcount[6];
single_record single_info[6];

const char *show_elapsed_time(long s)
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

bool control_file_present(const char *path)
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

// A raw device that is not set differs from every other.
static bool same_device(const char *a, const char *b)
{
    return a && b && !strcmp(a, b);
}

std::vector<fs_check> TRC7_check_list()
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

int TRC7_run_checks(const std::vector<fs_check> &list)
{
    std::vector<int> result;
    for (auto &c : list) result.push_back(check_fs(c.device, c.mount_point, c.output));
    for (size_t i = 0; i < result.size(); i++)
        if (result[i] == 0) return (int)i;
    return -1;
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

void TRC7_concur()
{
    int before = instances;
    TRC7_double_start();
    if (instances != before)
        trace_event(strprintf("Instances adjusted from %d to %d\n", before, instances).c_str());
}

void TRC7_double_start()
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
        if (wait(&st) < 0) {
            if (errno == EINTR) continue;
            if (errno == ECHILD) break;
            trace_errno("!ERROR: wait() failed");
            exit(1);
        }
        int s = map_status(st);
        if (s) TRC7_double_fail(s);
    }
}

void TRC7_double_fail(int status)
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

void TRC7_double()
{
    guard_mkdir(make_dcout_dir(instance).c_str(), 0777);
    init_single_paths();
    init_single_stats();
    init_single_refs();
    if (opt_verbose) {
        dump_single_paths();
        dump_single_stats();
    }
    TRC7_single_start(1);
    int status = wait_for_all_threads();
    if (status) {
        eprintf("wait_for_all_threads failed.");
        exit(status);
    }
    sync();
    sleep(1);
    sync();
    sync();
    for (int k = 2; k <= 5; k++) TRC7_single_start(k);
    if (opt_verbose) dump_single_stats();
    status = wait_for_all_threads();
    if (status) {
        eprintf("wait_for_all_threads failed.");
        exit(status);
    }
    status = TRC7_double_cleanup();
    if (status) {
        eprintf("TRC7_double_cleanup failed.");
        // Out of processes half way through the removal: leave nothing that
        // the next iteration's double of this number would stumble over.
        if (is_resource_status(status)) TRC7_double_destroy();
        exit(status);
    }
    exit(0);
}

void TRC7_single_start(int k)
{
    trace_flush();
    pid_t p = ft_fork();
    single_info[k].child = p;
    if (p < 0) {
        int e = errno;
        eprintf("!ERROR: fork() failed.");
        errno = e;
        int s = fail_fork();
        if (is_resource_status(s)) {
            // The singles already running would otherwise go on writing into
            // this instance's trees after the double has gone; wait for them,
            // and let a real failure among them win over the shortage.
            int r = wait_for_all_threads();
            if (r == TRC7_SIGNAL || r == TRC7_ERROR) exit(r);
            TRC7_double_destroy();
        }
        exit(s);
    }
    single_info[k].running = 1;
    if (p == 0) TRC7_single(&single_info[k]);
}

int wait_for_all_threads()
{
    int recorded = 0;
    bool resource = false, marked = false;
    for (;;) {
        int st;
        if (wait(&st) < 0) {
            if (errno == EINTR) continue;
            if (errno != ECHILD) {
                trace_errno("wait() failed");
                return TRC7_ERROR;
            }
            break;
        }
        if (st == 0) continue;
        int s = map_status(st);
        if (is_resource_status(s)) {
            resource = true;
            // A shortage never hides a real failure already recorded.
            if (recorded == 0 || is_resource_status(recorded)) recorded = s;
        } else if (!marked) {
            make_file("../TRC7.failed");
            trace_event("Failed.");
            marked = true;
            recorded = s;
        }
    }
    if (resource && is_resource_status(recorded)) TRC7_double_destroy();
    return recorded;
}

int TRC7_double_cleanup()
{
    std::string dir = make_dcout_dir(instance);
    for (int k = 1; k <= 5; k++) {
        std::string marker = tbase_ref_path("tbase", k);
        struct stat st;
        if (stat(marker.c_str(), &st) != 0) {
            trace_errno("stat('%s') failed", marker.c_str());
            return TRC7_ERROR;
        }
        if (st.st_nlink != 1) continue;
        int r = run_rm(tbase[k]);
        if (r) return r;
        r = unlink_tbase_ref("tbase", k);
        if (r) return r;
        std::string out = strprintf("%s/P%d", dir.c_str(), k);
        if (unlink(out.c_str()) != 0) {
            trace_errno("unlink('%s') failed", out.c_str());
            return TRC7_ERROR;
        }
    }
    if (rmdir(dir.c_str()) != 0) {
        trace_errno("rmdir('%s') failed", dir.c_str());
        return TRC7_ERROR;
    }
    return 0;
}

void TRC7_double_destroy()
{
    for (int k = 1; k <= 5; k++) nuke_directory(tbase_dir(instance, k).c_str());
    nuke_directory(make_dcout_dir(instance).c_str());
}

void init_single_paths()
{
    for (int k = 1; k <= 5; k++) {
        free(tbase[k]);
        free(dcout[k]);
        tbase[k] = estrsave(tbase_dir(instance, k).c_str());
        dcout[k] = estrsave(dcout_dir(instance, k).c_str());
    }
    // The fixed copy plan: job 3 copies job 1's copy.
    static const int source_copy[6] = {0, 0, 0, 1, 0, 0};
    for (int k = 1; k <= 5; k++) {
        single_record &j = single_info[k];
        j.number = k;
        j.src_dir = source_copy[k] ? tbase[source_copy[k]] : src_directory;
        j.dst_dir = tbase[k];
        j.dcout = dcout[k];
    }
}

void init_single_stats()
{
    for (int k = 1; k <= 5; k++) {
        refcount[k] = 0;
        for (int j = 1; j <= 5; j++) {
            if (single_info[j].src_dir == tbase[k]) refcount[k]++;
            if (single_info[j].dst_dir == tbase[k]) refcount[k]++;
        }
    }
    for (int k = 1; k <= 5; k++) {
        single_info[k].child = 0;
        single_info[k].running = 0;
    }
}

void init_single_refs()
{
    for (int k = 1; k <= 5; k++) {
        make_tbase_marker_file("tbase", k);
        for (int j = 1; j <= 5; j++) {
            if (single_info[j].src_dir == tbase[k]) make_tbase_ref("tbase", "ref.src.", k, j);
            if (single_info[j].dst_dir == tbase[k]) make_tbase_ref("tbase", "ref.dst.", k, j);
        }
    }
}

void dump_single_paths()
{
    trace("single_info:\n");
    for (int k = 1; k <= 5; k++) {
        trace("  %d src_dir=%s\n", k, single_info[k].src_dir);
        trace("    dst_dir=%s\n", single_info[k].dst_dir);
        trace("    dcout  =%s\n", single_info[k].dcout);
    }
    trace("tbase:\n");
    for (int k = 1; k <= 5; k++) {
        trace(" %3d tbase=%s\n", k, tbase[k]);
        trace("     dcout=%s\n", dcout[k]);
    }
}

void dump_single_stats()
{
    trace("single_info:\n");
    for (int k = 1; k <= 5; k++)
        trace("  %d child=%d, running=%d\n", k, (int)single_info[k].child, single_info[k].running);
    trace("tbase:\n");
    for (int k = 1; k <= 5; k++) trace("  %d refcount=%d, tbase=%s\n", k, refcount[k], tbase[k]);
}

std::string make_tbase_dir(int i)
{
    return strprintf("%s/tbase.%03d", dst_directory, i);
}
std::string make_dcout_dir(int i)
{
    return strprintf("%s/dcout.%03d", dst_directory, i);
}
std::string tbase_dir(int i, int k)
{
    return make_tbase_dir(i) + strprintf(".%d", k);
}
std::string dcout_dir(int i, int k)
{
    return make_dcout_dir(i) + strprintf("/P%d", k);
}

std::string tbase_ref_path(const char *name, int k)
{
    const char *d = dcout[k];
    const char *slash = d ? strrchr(d, '/') : nullptr;
    if (!slash) {
        trace("!ERROR: %s::tbase_ref_path(): INTERNAL ERROR: p1==NULL\n", program_name);
        exit(1);
    }
    return std::string(d, slash + 1 - d) + strprintf("%s%d", name, k);
}

void make_tbase_marker_file(const char *name, int k)
{
    make_file(tbase_ref_path(name, k).c_str());
}

void make_tbase_ref(const char *marker, const char *ref, int k, int j)
{
    std::string from = tbase_ref_path(marker, k), to = tbase_ref_path(ref, j);
    if (link(from.c_str(), to.c_str()) != 0) {
        trace_errno("!ERROR: link('%s','%s') failed", from.c_str(), to.c_str());
        exit(1);
    }
}

int unlink_tbase_ref(const char *name, int k)
{
    std::string p = tbase_ref_path(name, k);
    if (unlink(p.c_str()) != 0) {
        trace_errno("unlink('%s') failed", p.c_str());
        return TRC7_ERROR;
    }
    return 0;
}
