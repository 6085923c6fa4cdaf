// The test support library: tracing, error names, checked helpers, processes,
// log and marker files, path and file-system queries, arguments and time
// limits. Linked into volaudit and treecycle.
#pragma once
#include "platform/mounts.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/types.h>

#define PRINTF_LIKE(a, b) __attribute__((format(printf, a, b)))

// Program identity, set first by every main.
extern const char *program_path;
extern const char *program_name;

// Trace destinations. A destination that is none but has a file name is
// opened on demand (append, synchronous) at the next trace call.
extern FILE *trace1;
extern FILE *trace2;
extern const char *trace1_fname;
extern const char *trace2_fname;
extern int opt_verbose;

// --- Reporting (trace.cpp, errnames.cpp) ---
void eprintf(const char *fmt, ...) PRINTF_LIKE(1, 2);
void trace(const char *fmt, ...) PRINTF_LIKE(1, 2);
void trace_p(const char *fmt, ...) PRINTF_LIKE(1, 2);
// The message has no newline: the errno suffix ends the line.
void trace_errno(const char *fmt, ...) PRINTF_LIKE(1, 2);
void trace_flush();
// The symbolic name of an errno value, or "<undef>".
const char *errno_id(int value);
// A text formatted like printf, of whatever length it needs.
std::string strprintf(const char *fmt, ...) PRINTF_LIKE(1, 2);

// --- Checked helpers: report and exit with status 1 on failure (checked.cpp) ---
char *estrsave(const char *s);
void edup2(int oldfd, int newfd);

// --- Processes (process.cpp) ---
pid_t ft_fork();
// In a child: closes every descriptor from lowest up (close_all), and first
// drops the trace destinations on them, so that the next trace reopens its
// log by name instead of writing through a descriptor that is gone.
void close_inherited(int lowest);
// In a child about to start a tool: standard output and error go to the file
// at path (opened write-only, created with mode 0666, with the extra flags,
// never through a symbolic link), then close_inherited(lowest). A file that
// cannot be opened is traced with the format open_failed and the path, and
// ends the child with status fail.
void output_to_file(const char *path, int flags, const char *open_failed, int fail, int lowest);
// waitpid (pid -1: any child), repeated while a signal interrupts it.
pid_t wait_child(pid_t pid, int *status);
// A wait status as the reports show it: its low eight bits (the signal that
// ended the child, 0 after an exit) and the exit code.
struct wait_parts {
    int signal;
    int exit;
};
wait_parts decode_status(int status);
// The per-user limit on processes; -1 when there is none.
int nprocs();

// --- Log and marker files: report and exit with status 1 on failure (logfiles.cpp) ---
int append_to_logfile(const char *fname);
int init_logfile(const char *path);
int make_file(const char *path);
int write_string_to_file(const char *s, const char *path);

// --- Paths and file systems (fsquery.cpp) ---
const char *sname(const char *path);
int is_valid_directory(const char *path);
// The mount-table entry of the file system that holds path; the record is
// overwritten by the next call.
const mount_entry *filesystem_of(const char *path);
long df(const char *path);
// df's arithmetic: kilobytes in bavail blocks of frsize bytes; *grain gets the
// common divisor used to keep the product small.
long df_kbytes(uint64_t bavail, uint64_t frsize, uint64_t *grain);
unsigned gcd(unsigned a, unsigned b);
// du's running sum of 512-byte blocks.
extern int64_t total_blocks;
long du(const char *path);

// --- Command-line words (args.cpp) ---
int iscardinal(const char *s);
int get_cardinal_argument(const char *option, const char *arg);
// Refuses a time whose total does not fit an int.
int parse_time(const char *s, int *seconds);
