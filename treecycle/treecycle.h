// treecycle: copies a source tree into many concurrent instance directories
// with the system's archiver, compares every copy with the system's recursive
// comparison tool, removes the copies and checks the file systems between
// iterations.
//
// Process tree: the driver forks one double per instance and iteration; each
// double forks five singles, each single runs one archiver and one comparison.
// They talk only through exit statuses and files (markers, reference links,
// the run log).
#pragma once
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/types.h>

// Exit statuses of doubles and singles.
enum {
    TRC7_OK = 0,
    TRC7_NOFORK = 121, // a process could not be created (or the fault limit)
    TRC7_NOEXEC = 122, // a tool could not be started: exec kept failing with EAGAIN
    TRC7_SIGNAL = 123, // a child was ended by a signal
    TRC7_ERROR = 124,  // any other failure
};
inline bool is_resource_status(int s)
{
    return s == TRC7_NOFORK || s == TRC7_NOEXEC;
}

// Settings from the command line (children inherit them through fork).
extern int opt_commit;
extern int opt_fsck_any;
extern int opt_fsck_root;
extern int disk_reserve;
extern int processes_per_instance;
extern int fault_max_instances;
extern int fault_cpio, fault_diff, fault_file_add, fault_file_drop;
extern const char *src_directory;
extern const char *dst_directory;
extern int max_iterations;
extern int time_limit;
extern int instances;
extern const char *tmp_directory;
extern char start_cwd[1024];
extern const char *root_raw_device, *src_raw_device, *dst_raw_device;
extern const char *src_mount_point, *dst_mount_point;
extern int pid;
extern const char *log_tmp_path, *fl_path, *tmp_fsck_1, *tmp_fsck_2, *tmp_fsck_3;
extern FILE *ftw_dst;

// Run state.
extern int iteration;
extern int instance;
extern time_t start_time;
extern time_t now;

// One copy job of a double, and the double's tables (index 1 to 5).
struct single_record {
    int number;
    pid_t child;
    int running;
    const char *src_dir;
    const char *dst_dir;
    const char *dcout;
};
extern char *tbase[6];
extern char *dcout[6];
extern int refcount[6];
extern single_record single_info[6];

// --- Command line, autoconfiguration and paths (config.cpp) ---
// Reads the options from argv[1] on; returns the index of the first
// positional word. *unknown counts the unknown options (each reported).
int parse_options(int argc, char **argv, int *unknown);
char *get_directory(const char *path);
// Instances that a given free space (K) and tree size (K) allow; never
// negative, at most INT_MAX.
int instances_for_space(long long avail_k, long long used_k);
// Instances that a process limit allows; -1 when it sets none (no limit
// reported, or no processes per instance).
int instances_for_processes(long long total, int per_instance);
// The count that both limits allow; a process count of -1 (no limit known)
// leaves it to the disk space.
int combine_instance_counts(int by_disk, int by_processes);
// The count the target's free space allows; with the space one instance
// needs and the space there is, in kilobytes, when asked.
int autoconfig_instances_by_disk_space(long long *need_k = nullptr, long long *free_k = nullptr);
int autoconfig_instances_by_processes();
void make_fs_pathnames();
// The raw device of a block device name, or the end of the program.
std::string blk_to_raw(const char *name);
void make_tmp_filenames();
void make_source_filename_list();

// --- Iteration driver (driver.cpp) ---
void TRC7_start();
void TRC7_repeat();
void TRC7_done();
void trace_event(const char *text);

// --- One instance (instance.cpp) and one copy job (single.cpp) ---
[[noreturn]] void TRC7_double();
int unlink_tbase_ref(const char *name, int k);
[[noreturn]] void TRC7_single(const single_record *job);

// --- Tool processes, guarded calls and status codes (tools.cpp) ---
// Seconds between the attempts of a tool start (10; tests lower it).
extern unsigned tool_retry_pause;
[[noreturn]] void exec_tool(const char *path, const char *const argv[]);
int run_rm(const char *path);
int run_mv(const char *from, const char *to);
int guard_wait(const char *tool);
int map_status(int wait_status);
int fail_fork();
void guard_mkdir(const char *path, int mode);
void guard_chdir(const char *from, const char *path);
int nuke_directory(const char *path);
