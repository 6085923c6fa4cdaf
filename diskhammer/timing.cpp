// Timing: each child is timed with the process clock, and its times are
// added to its target's totals for the engine; the final report lists them.
#include "diskhammer/diskhammer.h"

#include <cstdio>
#include <sys/times.h>
#include <unistd.h>

static double secs(int64_t ticks)
{
    return (double)ticks / (double)sysconf(_SC_CLK_TCK);
}

static void print_times(const pass_times &t)
{
    printf("Elapsed Time : %.2f secs\n", secs(t.real));
    printf("User    Time : %.2f secs\n", secs(t.user));
    printf("System  Time : %.2f secs\n", secs(t.sys));
}

void time_setup(RunState *run)
{
    run->start_real = times(&run->start_time);
}

void time_cleanup(const Settings &set, const RunState &run, mlist_entry *mp, int engine)
{
    struct tms end_time;
    clock_t end_real = times(&end_time);
    // The work is the child's: its times are the terminated children's.
    pass_times d = {end_real - run.start_real,
                    (int64_t)(end_time.tms_cutime - run.start_time.tms_cutime),
                    (int64_t)(end_time.tms_cstime - run.start_time.tms_cstime)};
    if (!set.silent) {
        printf("\n\t\t\t\tTiming Info\n\n");
        print_times(d);
    }
    pass_times &t = mp->totals[engine];
    t.real += d.real;
    t.user += d.user;
    t.sys += d.sys;
    if (!set.silent) printf("\n");
}

void timing_report(const Settings &set, const mlist_entry *first)
{
    int64_t t_real = 0, t_utime = 0, t_stime = 0;
    printf("\nTest Execution Completed\n\n");
    printf("\n\t\t\t\tTiming Info\n\n");
    for (const mlist_entry *mp = first; mp; mp = mp->next) {
        if (mp->skip) continue;
        if (set.d_option)
            printf("\nRaw Disk I/O test: %s\n", mp->device.c_str());
        else
            printf("\nFile System: %s\n", mp->mountp.c_str());
        for (int e = 0; e < ENGINE_COUNT; e++) {
            if (!engine_selected(set, e)) continue;
            printf("%s\n", engines[e]->name);
            print_times(mp->totals[e]);
        }
        // The total holds every engine's, selected or not.
        for (const pass_times &t : mp->totals) {
            t_real += t.real;
            t_utime += t.user;
            t_stime += t.sys;
        }
    }
    printf("\nTotal\n");
    print_times({t_real, t_utime, t_stime});
}
