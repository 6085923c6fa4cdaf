// diskhammer: file-system and raw-disk I/O stress.
//
// Settings are program-wide and set once by the command line; the target
// list comes from the mount table; the test passes run one child per I/O
// engine and time it.
#pragma once
#include "diskhammer/engine.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

struct mount_entry;

// Settings.
extern int R_option, L_option, A_option, d_option;
extern const char *device_only;
extern const char *io_target;
extern long long min_filesz, max_filesz, min_transz, max_transz, file_incr;
extern int num_tests, m_option, nobyte_compare, nrandom, silent, one_partition_only;
extern int dir_id;

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

typedef int (*mlist_selector)(const mount_entry &);

// The command line (options.cpp): reads the options into the settings and
// gives the target selector; an option error prints the usage and exits 1.
mlist_selector parse_options(int argc, char **argv);
extern const char raw_slice_msg[];

// Options, sizes and the target list (mlist.cpp).
int is_mode(const char *path, mode_t type);
void parse_min_max(const char *text, long long *min, long long *max);
long long get_rawsize(const char *device);
long long get_fssize(const char *path);
int mlist_select(const mount_entry &e, const char *type, const char *opt);
int mlist_select_rw(const mount_entry &e);
int mlist_select_ufs_rw(const mount_entry &e);
int mlist_select_nfs_rw(const mount_entry &e);
int mlist_select_tmpfs_rw(const mount_entry &e);
// The list's records live until the program exits: mlist_first holds them
// for the whole run, so that a leak checker sees them as held.
extern mlist_entry *mlist_first;
mlist_entry *mlist_get(mlist_selector select);
void print_mlist(mlist_entry *first);

// All passes over the list, then the final report (passes.cpp).
int test_execute(mlist_entry *first);
// "%s/fs_testdir.%d" of a target.
std::string test_dir(const mlist_entry *mp);

// The cycles of one child (cycles.cpp). wbuf holds the expected data, rbuf
// what was read back.
extern unsigned char *wbuf, *rbuf;
// The buffers on first use and, in raw-disk mode, the slice's pre-read.
void io_setup(const mlist_entry *mp);
// Writes the file of the next size through the engine; 0 when the sequence
// is exhausted (it then starts again).
int fs_write(const mlist_entry *mp, const io_engine *eng, long long *size, long long *transfer);
void fs_read(const mlist_entry *mp, const io_engine *eng, long long size, long long transfer);
void compare(long long len, long long offset);
void compare_fill(long long len, long long offset, unsigned char expect);
[[noreturn]] void report_error(const char *text);

// A child's size sequence: current file size (-1 before the first cycle, 0
// when exhausted), increment and transfer size; next_sizes makes one step.
struct size_seq {
    long long size = -1, incr = 0, transfer = -1;
};
void next_sizes(size_seq *s);

// Timing of the children and the final report (timing.cpp).
void time_setup();
void time_cleanup(mlist_entry *mp, int engine);
void timing_report(const mlist_entry *first);
