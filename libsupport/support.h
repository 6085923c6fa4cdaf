// The test support library: tracing, error names, checked helpers, mount-table
// and free-space queries, arguments and time limits, log and marker files,
// disk usage and the process limit. Linked into volaudit and treecycle.
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

// Symbolic errno names, indexed by Linux's values.
extern const char *const *const ETable;
extern const int Emax;
extern const char *const Eundef;

void eprintf(const char *fmt, ...) PRINTF_LIKE(1, 2);
void trace(const char *fmt, ...) PRINTF_LIKE(1, 2);
void trace_p(const char *fmt, ...) PRINTF_LIKE(1, 2);
// The message has no newline: the errno suffix ends the line.
void trace_errno(const char *fmt, ...) PRINTF_LIKE(1, 2);
void trace_fresh_line();
void trace_set();
void trace_flush();
const char *errno_id(int value);

// A text formatted like printf, of whatever length it needs.
std::string strprintf(const char *fmt, ...) PRINTF_LIKE(1, 2);

int append_to_logfile(const char *fname);
pid_t ft_fork();
int close_all(int lowest);
void *emalloc(size_t n);
char *estrsave(const char *s);
void edup2(int oldfd, int newfd);
const char *sname(const char *path);
// The mount-table entry of the file system that holds path; the record is
// overwritten by the next call.
const mount_entry *filesystem_of(const char *path);
long df(const char *path);
// df's arithmetic: kilobytes in bavail blocks of frsize bytes; *grain gets the
// common divisor used to keep the product small.
long df_kbytes(uint64_t bavail, uint64_t frsize, uint64_t *grain);
unsigned gcd(unsigned a, unsigned b);

int iscardinal(const char *s);
int get_cardinal_argument(const char *option, const char *arg);
int parse_time(const char *s, int *seconds);
int is_valid_directory(const char *path);
int init_logfile(const char *path);
int make_file(const char *path);
int write_string_to_file(const char *s, const char *path);
extern int64_t total_blocks;
long du(const char *path);
int nprocs();
