// A program started but held before exec until release(): the test learns
// its process id first (and so the names the program derives from it) and
// can prepare for the run. Standard output and error go together to memory,
// so a test whose namespace has no writable file system can still read them.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

struct HeldRun {
    explicit HeldRun(const std::vector<std::string> &argv);
    ~HeldRun(); // kills what is left of the program's process group
    HeldRun(const HeldRun &) = delete;
    HeldRun &operator=(const HeldRun &) = delete;

    pid_t pid = -1;
    void release();
    // The wait status, or -1 when the program has not ended in timeout_s.
    int wait(int timeout_s = 60);
    std::string output() const;
    // A child of the program (waits up to timeout_s for one), or -1.
    pid_t child(double timeout_s = 10) const;

  private:
    int out_fd = -1, gate = -1;
};

// Waits until some process waits for a lock on the file at path.
bool wait_lock_waiter(const std::string &path, double timeout_s = 10);
