// Runs a built program as a child process and captures what it does.
#pragma once
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct RunOptions {
    std::string input;              // written to the program's standard input, then closed
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

RunResult run_program(const std::string &path, const std::vector<std::string> &args,
                      const RunOptions &opt = {});

// Runs "/bin/sh -c cmd"; returns the exit status (or 128+signal), output in *out.
int shell(const std::string &cmd, std::string *out = nullptr);

// Starts a program without waiting: standard input is /dev/null, standard
// output and error go to the files (created or emptied); in_child runs in the
// child just before exec.
pid_t spawn(const std::vector<std::string> &argv, const std::string &cwd, const std::string &out,
            const std::string &err, const std::function<void()> &in_child = {});
// Waits for pid up to timeout_s (killing it after); the wait status, or -1.
int wait_for(pid_t pid, int timeout_s);

// Runs f in a forked child, which ends with status 0 when f returns; its
// standard output and error go to *out and *err when they are given. Returns
// the exit status, or 128 + the signal that ended it.
int in_child(const std::function<void()> &f, std::string *out = nullptr, std::string *err = nullptr);
