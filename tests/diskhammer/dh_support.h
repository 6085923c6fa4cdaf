// Helpers for the diskhammer tests: line-by-line output templates, a held
// start (so a test knows the run's process id, hence its test directory,
// before the program looks at anything), and a view of the mount table that
// only holds the test's own writable file systems.
#pragma once
#include "tests/support/text.h"

#include <string>
#include <sys/types.h>
#include <vector>

// In a private mount namespace: makes every mount present now read-only for
// this namespace, so that only file systems mounted afterwards are
// candidates for a run without -D.
bool hide_host_mounts(std::string *why);

// diskhammer started and held before exec until release().
struct HeldRun {
    int pid = -1;
    int out_fd = -1;
    int gate = -1;
    HeldRun(const std::vector<std::string> &args, const std::vector<std::string> &env = {});
    ~HeldRun();
    void release();
    // Waits for the end; returns the raw wait status.
    int wait();
    std::string output() const;
};

// The pid of a child of parent, or -1 (waits up to timeout_s for one).
int child_of(int parent, double timeout_s = 10);
// Waits until a process is blocked on a lock of the file with this inode.
bool wait_lock_waiter(dev_t dev, unsigned long inode, double timeout_s = 10);
// A 64-bit FNV-1a hash of a file's or device's whole contents.
unsigned long long checksum(const std::string &path);
// The output of `uname -a` without its newline.
std::string uname_a();
