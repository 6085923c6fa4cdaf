// Runs built programs as child processes and watches them: to their end
// with what they wrote (run_program, shell, in_child), or in the background
// (spawn, then wait_for).
#pragma once
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct RunOptions {
    std::string input;              // the program's standard input
    std::vector<std::string> env;   // extra or replaced "NAME=value" entries
    std::vector<std::string> unset; // names removed from the environment
    std::string cwd;                // working directory, when not empty
    std::string argv0;              // argument zero, when not the path
    int timeout_s = 120;            // the program's process group is killed after this
    bool new_group = true;          // start it as the leader of a process group
};

struct RunResult {
    std::string out, err;
    bool exited = false; // ended by exit: status is valid
    int status = -1;     // exit status
    int signal = 0;      // signal that ended it, when not exited
    bool timed_out = false;
};

// Path of a program built into build/bin.
std::string bin_path(const std::string &name);
// Path of a script of tests/lab, reached through a directory whose name has
// a blank, as from a checkout at such a path: the rigs quote their own.
std::string lab_path(const std::string &name);

RunResult run_program(const std::string &path, const std::vector<std::string> &args,
                      const RunOptions &opt = {});

// Runs the built program of a transcript's run, argument zero as written
// there, with o; expects the run's status, standard output and error.
void expect_run(const RunSpec &c, RunOptions o = {});

// Runs "/bin/sh -c cmd"; returns the exit status (or 128+signal), output in *out.
int shell(const std::string &cmd, std::string *out = nullptr);

// Runs f in a forked child, which ends with status 0 when f returns; its
// standard output and error go to *out and *err when they are given. Returns
// the exit status, or 128 + the signal that ended it.
int in_child(const std::function<void()> &f, std::string *out = nullptr,
             std::string *err = nullptr);

// Starts a program without waiting: standard input is /dev/null, standard
// output and error go to the files (created or emptied; one path for both
// puts them together); in_child runs in the child just before exec.
pid_t spawn(const std::vector<std::string> &argv, const std::string &cwd, const std::string &out,
            const std::string &err, const std::function<void()> &in_child = {});
// Waits up to timeout_s for pid. One still running then gets `stop` (and
// SIGKILL 10 seconds later); *stopped says whether it had to. Returns the
// exit status, or 128 + the signal that ended it (-1 when pid is no child).
int wait_for(pid_t pid, double timeout_s, int stop = SIGTERM, bool *stopped = nullptr);
// The exit status in a wait status, or 128 + the signal that ended it.
int status_of(int wait_status);
// The children of pid, in the order of their start.
std::vector<pid_t> children_of(pid_t pid);
// Waits until some process waits for a lock on the file at path.
bool wait_lock_waiter(const std::string &path, double timeout_s = 10);
// Sends the signals to pid in their order, gap_us microseconds apart (spun,
// not slept: a sleep takes longer than the gaps that matter).
void kill_in_turn(pid_t pid, const std::vector<int> &sigs, int gap_us);
// Whether pid is gone or a zombie (ended, not yet waited for by its parent).
bool has_ended(pid_t pid);
// Whether pid is asleep in the system call numbered nr (SYS_... of
// <sys/syscall.h>), on descriptor fd when fd >= 0, and still is a tenth of a
// second later; false when it is not so within timeout_s.
bool asleep_in(pid_t pid, long nr, double timeout_s = 30, int fd = -1);

// The signal of name, as in "TERM" (sigabbrev_np); 0, and a failure of the
// test, for a name of no signal.
int signal_named(const std::string &name);

// A TCP socket bound to ::1 at port (listening when asked), or -1.
int bound_socket(int port, bool listening);
// A port of ::1 that nothing holds, below the range the kernel gives
// clients; each call gives another.
int free_port();

// A program running in the background while the test plays its peers or
// signals it: a transcript's run, started with spawn in a directory of its
// own, its standard output and error in files there (out, err); killed if it
// still runs when the object goes.
struct Spawned {
    TempDir dir{"spawned"};
    pid_t pid;
    int status = -1; // once waited for: as wait_for gives it
    // run's argv (argv[0] a path, or the name of a program built into
    // build/bin) with run's env added, in dir.
    explicit Spawned(const RunSpec &run);
    ~Spawned() { wait(1); }
    // Waits for its end, killing it after timeout_s; returns status.
    int wait(double timeout_s = 60);
    std::string out() const { return read_file(dir / "out"); }
    std::string err() const { return read_file(dir / "err"); }
    // Its children in the order of their start, once there are n (as many
    // as there are after timeout_s).
    std::vector<pid_t> children(size_t n, double timeout_s = 30) const;
    // Waits for its end and expects the status of run, and its output and
    // error to match those of run as templates (match_text).
    void expect(const RunSpec &run, double timeout_s = 60);
};

// The page at html as a headless browser builds it (its DOM); expects the
// page to be whole in itself (nothing fetched by "http"). The browser's
// profile goes in t.
std::string browser_dom(const std::string &html, const TempDir &t);
// The rows of the table of id in dom, tags gone, one "a | b | c" line each:
// the first cols cells of the first rows rows (0: all).
std::string table_rows(const std::string &dom, const std::string &id, int cols = 0, int rows = 0);

// Forks a child that exits with status how, or (how < 0) is killed by the
// signal -how, for the code under test to wait for.
pid_t child_ending(int how);
// What f writes to standard error.
std::string stderr_of(const std::function<void()> &f);
