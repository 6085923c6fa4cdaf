// One instance: the double that lays out the five copy jobs of the fixed
// plan, runs them as singles, and removes what nothing refers to any more;
// its paths, marker files and reference links.
#include "libsupport/support.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

// FIRST_JOB runs alone before the others; its copy is the source of
// RECOPY_JOB; the others copy the source tree.
constexpr int FIRST_JOB = 1;
constexpr int RECOPY_JOB = 3;

namespace
{
// The double's tables by job (1 to SINGLES), laid out by TRC7_double; its
// singles inherit them.
char *tbase[SINGLES + 1];
char *dcout[SINGLES + 1];
int refcount[SINGLES + 1];
single_record single_info[SINGLES + 1];
} // namespace

static std::string make_tbase_dir(const settings &s, int i)
{
    return strprintf("%s/tbase.%03d", s.dst_directory, i);
}
static std::string make_dcout_dir(const settings &s, int i)
{
    return strprintf("%s/dcout.%03d", s.dst_directory, i);
}
static std::string tbase_dir(const settings &s, int i, int k)
{
    return make_tbase_dir(s, i) + strprintf(".%d", k);
}
static std::string dcout_dir(const settings &s, int i, int k)
{
    return make_dcout_dir(s, i) + strprintf("/P%d", k);
}

static std::string tbase_ref_path(const char *name, int k)
{
    const char *d = dcout[k];
    const char *slash = d ? strrchr(d, '/') : nullptr;
    if (!slash) {
        trace("!ERROR: %s::tbase_ref_path(): INTERNAL ERROR: p1==NULL\n", program_name);
        exit(1);
    }
    return std::string(d, slash + 1 - d) + strprintf("%s%d", name, k);
}

static void make_tbase_marker_file(const char *name, int k)
{
    make_file(tbase_ref_path(name, k).c_str());
}

static void make_tbase_ref(const char *marker, const char *ref, int k, int j)
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

static void init_single_paths(const settings &s, int instance)
{
    for (int k = 1; k <= SINGLES; k++) {
        free(tbase[k]);
        free(dcout[k]);
        tbase[k] = estrsave(tbase_dir(s, instance, k).c_str());
        dcout[k] = estrsave(dcout_dir(s, instance, k).c_str());
    }
    for (int k = 1; k <= SINGLES; k++) {
        single_record &j = single_info[k];
        j.number = k;
        j.src_dir = k == RECOPY_JOB ? tbase[FIRST_JOB] : s.src_directory;
        j.dst_dir = tbase[k];
        j.dcout = dcout[k];
    }
}

static void init_single_stats()
{
    for (int k = 1; k <= SINGLES; k++) {
        refcount[k] = 0;
        for (int j = 1; j <= SINGLES; j++) {
            if (single_info[j].src_dir == tbase[k]) refcount[k]++;
            if (single_info[j].dst_dir == tbase[k]) refcount[k]++;
        }
    }
    for (int k = 1; k <= SINGLES; k++) {
        single_info[k].child = 0;
        single_info[k].running = 0;
    }
}

static void init_single_refs()
{
    for (int k = 1; k <= SINGLES; k++) {
        make_tbase_marker_file("tbase", k);
        for (int j = 1; j <= SINGLES; j++) {
            if (single_info[j].src_dir == tbase[k]) make_tbase_ref("tbase", "ref.src.", k, j);
            if (single_info[j].dst_dir == tbase[k]) make_tbase_ref("tbase", "ref.dst.", k, j);
        }
    }
}

static void dump_single_paths()
{
    trace("single_info:\n");
    for (int k = 1; k <= SINGLES; k++) {
        trace("  %d src_dir=%s\n", k, single_info[k].src_dir);
        trace("    dst_dir=%s\n", single_info[k].dst_dir);
        trace("    dcout  =%s\n", single_info[k].dcout);
    }
    trace("tbase:\n");
    for (int k = 1; k <= SINGLES; k++) {
        trace(" %3d tbase=%s\n", k, tbase[k]);
        trace("     dcout=%s\n", dcout[k]);
    }
}

static void dump_single_stats()
{
    trace("single_info:\n");
    for (int k = 1; k <= SINGLES; k++)
        trace("  %d child=%d, running=%d\n", k, (int)single_info[k].child, single_info[k].running);
    trace("tbase:\n");
    for (int k = 1; k <= SINGLES; k++)
        trace("  %d refcount=%d, tbase=%s\n", k, refcount[k], tbase[k]);
}

// The next iteration's double of this number makes these trees anew, so they
// must go even in a shortage of processes: each removal is tried again while
// it cannot start (ft_fork pauses 2 seconds after each failed attempt).
static void nuke_in_shortage(const std::string &path)
{
    for (int attempt = 0; attempt < 10; attempt++)
        if (!is_resource_status(nuke_directory(path.c_str()))) return;
}

static void TRC7_double_destroy(const settings &s, int instance)
{
    for (int k = 1; k <= SINGLES; k++) nuke_in_shortage(tbase_dir(s, instance, k));
    nuke_in_shortage(make_dcout_dir(s, instance));
}

static int wait_for_all_threads(const settings &s, int instance)
{
    int recorded = 0;
    bool resource = false, marked = false;
    for (;;) {
        int st;
        if (wait_child(-1, &st) < 0) {
            if (errno != ECHILD) {
                trace_errno("wait() failed");
                return TRC7_ERROR;
            }
            break;
        }
        if (st == 0) continue;
        int r = map_status(st);
        if (is_resource_status(r)) {
            resource = true;
            // A shortage never hides a real failure already recorded.
            if (recorded == 0 || is_resource_status(recorded)) recorded = r;
        } else if (!marked) {
            make_file("../TRC7.failed");
            trace_event("Failed.");
            marked = true;
            recorded = r;
        }
    }
    if (resource && is_resource_status(recorded)) TRC7_double_destroy(s, instance);
    return recorded;
}

static void TRC7_single_start(const settings &s, const run_state &st, int k)
{
    trace_flush();
    pid_t p = ft_fork();
    single_info[k].child = p;
    if (p < 0) {
        int e = errno;
        eprintf("!ERROR: fork() failed.");
        errno = e;
        int f = fail_fork();
        if (is_resource_status(f)) {
            // The singles already running would otherwise go on writing into
            // this instance's trees after the double has gone; wait for them,
            // and let a real failure among them win over the shortage.
            int r = wait_for_all_threads(s, st.instance);
            if (r == TRC7_SIGNAL || r == TRC7_ERROR) exit(r);
            TRC7_double_destroy(s, st.instance);
        }
        exit(f);
    }
    single_info[k].running = 1;
    if (p == 0) TRC7_single(s, st, &single_info[k]);
}

static int TRC7_double_cleanup(const settings &s, int instance)
{
    std::string dir = make_dcout_dir(s, instance);
    for (int k = 1; k <= SINGLES; k++) {
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
        std::string out = dcout_dir(s, instance, k);
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

// A job that failed or ran short of resources ends the double with its status.
static void wait_for_singles(const settings &s, int instance)
{
    int status = wait_for_all_threads(s, instance);
    if (status) {
        eprintf("wait_for_all_threads failed.");
        exit(status);
    }
}

void TRC7_double(const settings &s, const run_state &st)
{
    guard_mkdir(make_dcout_dir(s, st.instance).c_str(), 0777);
    init_single_paths(s, st.instance);
    init_single_stats();
    init_single_refs();
    if (opt_verbose) {
        dump_single_paths();
        dump_single_stats();
    }
    TRC7_single_start(s, st, FIRST_JOB);
    wait_for_singles(s, st.instance);
    sync();
    sleep(1);
    sync();
    sync();
    for (int k = 1; k <= SINGLES; k++)
        if (k != FIRST_JOB) TRC7_single_start(s, st, k);
    if (opt_verbose) dump_single_stats();
    wait_for_singles(s, st.instance);
    int status = TRC7_double_cleanup(s, st.instance);
    if (status) {
        eprintf("TRC7_double_cleanup failed.");
        // Out of processes half way through the removal: leave nothing that
        // the next iteration's double of this number would stumble over.
        if (is_resource_status(status)) TRC7_double_destroy(s, st.instance);
        exit(status);
    }
    exit(0);
}
