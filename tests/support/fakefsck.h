// The stand-in file-system checker: inside a MountNs it is bind-mounted over
// "/usr/sbin/fsck". Each run records its arguments (one per line) and then
// prints the chosen report and exits with the chosen status, or kills itself
// with a signal.
#pragma once
#include "tests/support/mountns.h"
#include <string>
#include <vector>

struct FakeFsck {
    std::string dir; // holds the script, the report and the recorded arguments
    // Installs the script in dir and binds it over /usr/sbin/fsck in ns.
    bool install(MountNs &ns, const std::string &dir);
    void set(const std::string &report, int status, int signal = 0);
    // Arguments of the last run, argument zero first; empty if it never ran.
    std::vector<std::string> args() const;
    // One line per run since the last forget: the device, a blank and the
    // file that received the report.
    std::string runs() const;
    void forget();
};

// The report that the checker gives for a healthy mounted file system.
std::string healthy_report(const std::string &rawdev, const std::string &mountp,
                           bool superblock_line = false);
