// What the treecycle tests share: a private mount namespace with its own
// /var/tmp and a tmpfs holding the source tree, the target and the working
// directory; running the program, reading its run log and event lines.
#pragma once
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct TcEnv {
    MountNs ns;
    TempDir tmp{"tc"};
    std::string top, src, dst, run;
    std::string error;
    // Mounts the tmpfs file systems and makes top/{src,dst,run}; src gets a
    // small tree unless make_source is false.
    bool init(const std::string &top_opts = "size=64m,mode=0777", bool make_source = true);
    // Runs treecycle in `run` (or cwd) with the arguments.
    RunResult tc(const std::vector<std::string> &args, int timeout_s = 60,
                 const std::string &cwd = "") const;
    // The only run log in /var/tmp ("" when there is none).
    std::string run_log_path() const;
    std::string run_log() const;
};

// Skips the test unless the environment is up.
#define TC_INIT(env, ...)                                                                          \
    do {                                                                                           \
        if (!(env).ns.ok()) GTEST_SKIP() << (env).ns.error;                                        \
        ASSERT_TRUE((env).init(__VA_ARGS__)) << (env).error;                                       \
    } while (0)

// Checks the format of every event line ("%ld %14d %4d:%02d:%02d: text", the
// date being the local time of the epoch seconds) and replaces its time stamp
// with "<EV>". Lines that are not events stay; format faults go to *bad.
std::string normalize_events(const std::string &log, std::string *bad);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> dir_entries(const std::string &dir);
// The text less a leading "N block(s)" line, the archiver's report.
std::string without_cpio_report(const std::string &log);

// Waits until the file holds the text; false after timeout_s.
bool wait_for_text(const std::string &path, const std::string &text, int timeout_s);
