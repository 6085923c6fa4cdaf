// treecycle [options] source-directory target-directory iterations [instances]
#include "libsupport/support.h"
#include "platform/outcheck.h"
#include "platform/proclimit.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unistd.h>

// A cardinal number that fits an int.
static bool int_cardinal(const char *s, int *value)
{
    if (!iscardinal(s)) return false;
    unsigned long long v = strtoull(s, nullptr, 10);
    if (v > INT_MAX) return false;
    *value = (int)v;
    return true;
}

// A run of no instance would copy and compare nothing and still pass: say
// why there is none and stop.
[[noreturn]] static void refuse_empty_run(const settings &s, bool given, int by_disk,
                                          long long need_k, long long free_k)
{
    if (given)
        eprintf("!ERROR: %s: 0 instances: the run would test nothing.\n", program_name);
    else if (by_disk == 0)
        eprintf("!ERROR: %s: no room for one instance in %s: one needs %lldK, %lldK is there.\n",
                program_name, s.dst_directory, need_k, free_k < 0 ? 0 : free_k);
    else
        eprintf(
            "!ERROR: %s: the process limit (%d) leaves no room for one instance of %d processes "
            "beside 100 others.\n",
            program_name, nprocs(), s.processes_per_instance);
    exit(1);
}

int main(int argc, char **argv)
{
    check_output_at_exit("treecycle");
    program_path = argv[0];
    program_name = sname(argv[0]);
    trace1 = stderr;
    trace2 = nullptr;
    trace1_fname = nullptr;
    trace2_fname = nullptr;

    settings s;
    run_state st;
    char cwd[1024];
    if (!getcwd(cwd, sizeof cwd)) {
        trace_errno("!ERROR: getcwd(...) failed");
        exit(1);
    }
    s.start_cwd = cwd;
    srandom(1);
    int unknown = 0;
    int first = parse_options(argc, argv, s, &unknown);
    int nargs = argc - first;
    if (nargs != 3 && nargs != 4) {
        fprintf(stderr, "!ERROR: %s: expecting 3 or 4 arguments; got %d.\n", program_name, nargs);
        fprintf(stderr,
                "!ERROR: Usage: %s  source-directory  target-directory  iterations  [instances]\n",
                program_name);
        exit(1);
    }
    char **arg = argv + first;
    s.src_directory = get_directory(s.start_cwd, arg[0]);
    s.dst_directory = get_directory(s.start_cwd, arg[1]);

    // Counts and times beyond an int are refused, not wrapped (parse_time
    // refuses them itself).
    if (!int_cardinal(arg[2], &s.max_iterations)) {
        if (!parse_time(arg[2], &s.time_limit)) {
            fprintf(stderr,
                    "!ERROR: %s: iterations (argument 3) must be a cardinal number or time "
                    "(0:00:00).\n",
                    program_name);
            exit(1);
        }
        s.max_iterations = -1;
    }
    if (opt_verbose)
        eprintf("max_iterations = %d, time_limit = %d\n", s.max_iterations, s.time_limit);
    if (nargs == 4 && !int_cardinal(arg[3], &s.instances)) {
        fprintf(stderr, "!ERROR: %s: Instances (argument 4) must be a cardinal number.\n",
                program_name);
        exit(1);
    }
    if (unknown) exit(1);

    long long need_k, free_k;
    int by_disk = autoconfig_instances_by_disk_space(s, &need_k, &free_k);
    int count = by_disk;
    // The kernel memory probe: may this process learn its process limit?
    if (proclimit_probe() == 0) {
        count = combine_instance_counts(count, autoconfig_instances_by_processes(s));
    } else {
        trace_errno("open('/dev/kmem',O_RDONLY) failed");
        eprintf("    Read permission for /dev/kmem is needed,\n");
        eprintf("    in order to find out how many processes this system can support.\n");
        if (s.instances < 1) {
            eprintf("!ERROR: read permission for /dev/kmem is needed");
            exit(1);
        }
        eprintf("!WARNING: The number of available processes supported by this system\n");
        eprintf("         cannot be used to limit the number of concurrent\n");
        eprintf("         instances of TRC7, because that information is not available.\n");
    }
    int asked = s.instances;
    if (s.instances < 0 || count < s.instances) s.instances = count;
    if (opt_verbose || !s.opt_commit) {
        printf("%d\n", s.instances);
        fflush(stdout);
    }
    int ok = is_valid_directory(s.src_directory);
    ok &= is_valid_directory(s.dst_directory);
    ok &= is_valid_directory(s.tmp_directory);
    if (!ok) exit(1);
    make_fs_pathnames(s);
    st.pid = getpid();
    st.instances = s.instances;
    make_tmp_filenames(s, st.pid);
    if (!s.opt_commit) exit(0);
    if (s.instances == 0) refuse_empty_run(s, asked == 0, by_disk, need_k, free_k);
    make_source_filename_list(s);
    TRC7_start(s, st);
    TRC7_repeat(s, st);
    TRC7_done();
    exit(0);
}
