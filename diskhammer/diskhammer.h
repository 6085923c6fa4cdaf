// diskhammer: file-system and raw-disk I/O stress.
//
// Settings are program-wide and set once by the command line; the target
// list comes from the mount table; the test passes run one child per I/O
// engine and time it.
#pragma once
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

// Per-engine totals of one target, in clock ticks.
struct pass_times {
    int64_t real, user, sys;
};

struct mlist_entry {
    char skip;
    std::string device;
    std::string mountp;
    std::string fstype;
    std::string mntopts;
    pass_times regular, async, locked;
    mlist_entry *next;
};

// The target list; its records live until the program exits.
extern mlist_entry *mlist_first;

typedef int (*mlist_selector)(const mount_entry &);

// Options, sizes and the target list.
int is_mode(const char *path, mode_t type);
int num_multipler(char c);
void parse_min_max(const char *text, long long *min, long long *max);
long long get_rawsize(const char *device);
long long get_fssize(const char *path);
int mlist_select(const mount_entry &e, const char *type, const char *opt);
int mlist_select_rw(const mount_entry &e);
int mlist_select_ufs_rw(const mount_entry &e);
int mlist_select_nfs_rw(const mount_entry &e);
int mlist_select_tmpfs_rw(const mount_entry &e);
mlist_entry *mlist_get(mlist_selector select);
void print_mlist(mlist_entry *first);

// Test passes.
extern unsigned char *wbuf, *rbuf;
extern int test_fd;
extern int locked_io, async_io;
extern mlist_entry *master_mp;

// The size sequence of one child: current file size (-1 before the first
// cycle, 0 when exhausted), increment and transfer size.
struct size_seq {
    long long size = -1, incr = 0, transfer = -1;
};
extern size_seq seq;
extern int raw_block; // raw-disk mode: the slice's transfer unit

int test_execute(mlist_entry *first);
int test_setup(mlist_entry *mp);
void test_cleanup(mlist_entry *mp);
void time_setup();
void time_cleanup(mlist_entry *mp, int engine);
int fs_write(mlist_entry *mp, long long *size, long long *transfer);
void fs_read(mlist_entry *mp, long long size, long long transfer);
void compare(long long len, long long offset);
[[noreturn]] void report_error(const char *text);
void intr_handler(int sig);

// Pieces of the passes that the tests reach directly.
void next_sizes(size_seq *s);
long long round_raw(long long n);
std::string shell_quote(const std::string &s);
std::string cleanup_command(const mlist_entry *mp);
std::string test_dir(const mlist_entry *mp);
std::string test_file(const mlist_entry *mp);
