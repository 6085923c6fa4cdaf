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

// The five copy jobs of an instance (its singles), numbered 1 to SINGLES as
// their trees (tbase.III.K), outputs (dcout.III/PK) and logs are. Tables by
// job have SINGLES + 1 entries.
constexpr int SINGLES = 5;

// What the command line, autoconfiguration and the derived paths set: filled
// by main before the run (options, then the instance count and the paths),
// read-only after (children inherit it by fork). -v sets the support
// library's opt_verbose, which its tracing reads.
struct settings {
    int opt_commit = 1;
    int opt_fsck_any = 1;
    int opt_fsck_root = 1;
    int disk_reserve = 0;
    int processes_per_instance = 25;
    int fault_max_instances = 0;
    // The job each fault option picked (0: none).
    int fault_cpio = 0, fault_diff = 0, fault_file_add = 0, fault_file_drop = 0;
    const char *src_directory = nullptr;
    const char *dst_directory = nullptr;
    int max_iterations = 0; // -1: a time limit instead
    int time_limit = -1;    // seconds; -1: a count of iterations instead
    int instances = -1;     // the concurrent instances the run starts with
    const char *tmp_directory = "/var/tmp";
    std::string start_cwd;
    const char *root_raw_device = nullptr, *src_raw_device = nullptr, *dst_raw_device = nullptr;
    std::string src_mount_point, dst_mount_point;
    const char *log_tmp_path = nullptr, *fl_path = nullptr;
    const char *tmp_fsck_1 = nullptr, *tmp_fsck_2 = nullptr, *tmp_fsck_3 = nullptr;
};

// What changes during the run.
struct run_state {
    int pid = 0;       // the driver's: names the work files and the process group
    int instances = 0; // concurrent instances now: a shortage of processes lowers it
    int iteration = 0;
    int instance = 0; // in a double and its singles: the double's number
};

// One copy job of a double.
struct single_record {
    int number;
    pid_t child;
    int running;
    const char *src_dir;
    const char *dst_dir;
    const char *dcout;
};

// --- Command line, autoconfiguration and paths (config.cpp) ---
// Reads the options from argv[1] on; returns the index of the first
// positional word. *unknown counts the unknown options (each reported).
int parse_options(int argc, char **argv, settings &s, int *unknown);
// path, made absolute from the directory cwd.
char *get_directory(const std::string &cwd, const char *path);
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
int autoconfig_instances_by_disk_space(const settings &s, long long *need_k = nullptr,
                                       long long *free_k = nullptr);
int autoconfig_instances_by_processes(const settings &s);
// The mount points and raw devices of root, source and target.
void make_fs_pathnames(settings &s);
// The raw device of a block device name, or the end of the program.
std::string blk_to_raw(const char *name);
// The work files in tmp_directory, named after the driver's pid.
void make_tmp_filenames(settings &s, int pid);
void make_source_filename_list(const settings &s);

// --- Iteration driver (driver.cpp) ---
void TRC7_start(const settings &s, run_state &st);
void TRC7_repeat(const settings &s, run_state &st);
void TRC7_done();
void trace_event(const char *text);

// --- One instance (instance.cpp) and one copy job (single.cpp) ---
[[noreturn]] void TRC7_double(const settings &s, const run_state &st);
int unlink_tbase_ref(const char *name, int k);
[[noreturn]] void TRC7_single(const settings &s, const run_state &st, const single_record *job);

// --- Tool processes, guarded calls and status codes (tools.cpp) ---
// Starts a tool, trying again after retry_pause seconds while exec meets a
// full process table (tests make the pause 0).
[[noreturn]] void exec_tool(const char *path, const char *const argv[], unsigned retry_pause = 10);
int run_rm(const char *path);
int run_mv(const char *from, const char *to);
int guard_wait(const char *tool);
int map_status(int wait_status);
int fail_fork();
void guard_mkdir(const char *path, int mode);
void guard_chdir(const char *from, const char *path);
int nuke_directory(const char *path);
