// diskhammer: file-system and raw-disk I/O stress.
//
// The command line fills the settings once; the target list comes from the
// mount table; the test passes run one child per I/O engine and time it.
#pragma once
#include "diskhammer/engine.h"

#include <cstdint>
#include <string>
#include <sys/times.h>

struct mount_entry;
struct Settings;

// Decides whether a mount-table entry becomes a target.
typedef int (*mlist_selector)(const Settings &set, const mount_entry &e);
int mlist_select_rw(const Settings &set, const mount_entry &e);
int mlist_select_ufs_rw(const Settings &set, const mount_entry &e);
int mlist_select_nfs_rw(const Settings &set, const mount_entry &e);
int mlist_select_tmpfs_rw(const Settings &set, const mount_entry &e);

// What the command line sets: filled once by parse_options, then only read.
struct Settings {
    int R_option = 0, L_option = 0, A_option = 0; // the engines to run (all when none is given)
    int d_option = 0;                             // raw-disk mode
    const char *device_only = nullptr;            // -D: the only file system, or the raw slice
    const char *io_target = "File System";        // the banners' word
    long long min_filesz = 1048576, max_filesz = 4194304;
    long long min_transz = 1024, max_transz = 65536;
    long long file_incr = 1024;
    int num_tests = 2, m_option = 0, nobyte_compare = 0, nrandom = 0, silent = 0;
    int one_partition_only = 0;
    int dir_id = 0;                          // the process id, in the test directory's name
    mlist_selector select = mlist_select_rw; // -F
};

// One engine's totals on one target, in clock ticks.
struct pass_times {
    int64_t real, user, sys;
};

struct mlist_entry {
    char skip;
    std::string device;
    std::string mountp;
    std::string fstype;
    std::string mntopts;
    pass_times totals[ENGINE_COUNT]; // by engine number
    mlist_entry *next;
};

// A child's size sequence: current file size (-1 before the first cycle, 0
// when exhausted), increment and transfer size; next_sizes makes one step.
struct size_seq {
    long long size = -1, incr = 0, transfer = -1;
};

// What changes during a run.
struct RunState {
    // The target list. Its records live until the program exits: held here
    // for the whole run, so that a leak checker sees them as held.
    mlist_entry *mlist_first = nullptr;
    // The cycles' buffers: wbuf holds the expected data, rbuf what was read back.
    unsigned char *wbuf = nullptr, *rbuf = nullptr;
    int raw_block = 512; // raw-disk mode: the slice's transfer unit
    size_seq seq;        // the child's sizes
    // The clock when the engine's child under way was started.
    struct tms start_time = {};
    clock_t start_real = 0;
};

// The command line (options.cpp): the settings, with the checks of -d and -D;
// an option error prints its message (or the usage) and exits 1.
Settings parse_options(int argc, char **argv);
// A min:max size range of -f or -t; exits 1 when it is not one.
void parse_min_max(const char *text, long long *min, long long *max);

// Sizes and the target list (mlist.cpp).
long long get_rawsize(const char *device);
long long get_fssize(const char *path);
int mlist_select(const Settings &set, const mount_entry &e, const char *type, const char *opt);
mlist_entry *mlist_get(const Settings &set);
void print_mlist(const Settings &set, const mlist_entry *first);

// All passes over run->mlist_first, then the final report (passes.cpp).
int test_execute(const Settings &set, RunState *run);
// "%s/fs_testdir.%d" of a target.
std::string test_dir(const Settings &set, const mlist_entry *mp);

// The cycles of one child (cycles.cpp).
// The buffers on first use and, in raw-disk mode, the slice's pre-read.
void io_setup(const Settings &set, RunState *run, const mlist_entry *mp);
// Writes the file of the next size through the engine; 0 when the sequence
// is exhausted (it then starts again).
int fs_write(const Settings &set, RunState *run, const mlist_entry *mp, const io_engine *eng,
             long long *size, long long *transfer);
void fs_read(const Settings &set, RunState *run, const mlist_entry *mp, const io_engine *eng,
             long long size, long long transfer);
void compare(const RunState &run, long long len, long long offset);
void compare_fill(const RunState &run, long long len, long long offset, unsigned char expect);
[[noreturn]] void report_error(const char *text);
void next_sizes(const Settings &set, RunState *run);

// Timing of the children and the final report (timing.cpp).
void time_setup(RunState *run);
void time_cleanup(const Settings &set, const RunState &run, mlist_entry *mp, int engine);
void timing_report(const Settings &set, const mlist_entry *first);
