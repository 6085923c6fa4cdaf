// Lost output is never a pass: each program run with its standard output on
// a full device says so on standard error, after what it says anyway, and
// ends with status 1; one that writes nothing there is not affected.
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>

namespace
{

TEST(Outcheck, EveryProgramReportsLostOutput)
{
    TempDir t("outcheck");
    make_tree(t / "src", {{"f", "x"}});
    make_dirs(t / "dst");
    write_file(t / "tape", "");
    write_file(t / "body", "a=1");
    const std::string T = t.path;
    // The command (programs by name, run in T) and its status when its output is kept.
    struct {
        const char *name;
        std::string cmd;
        int status;
    } cases[] = {
        {"epochnow", "epochnow", 0},
        {"mediaquery", "mediaquery /dev/null", 0},
        {"argpairs", "argpairs a=1", 0},
        {"bodypairs", "CONTENT_LENGTH=3 bodypairs <body", 0},
        {"volaudit", "volaudit", 1},
        {"treecycle", "treecycle -n src dst 1 1", 0},
        {"diskhammer", "diskhammer -D /dev/null", 1},
        {"targetscan", "targetscan /dev/null", 0},
        {"netsink", "netsink -c 0 -p 4099 ::1", 0},
        {"reelflood", "reelflood -n -s 1 -d tape", 0},
        {"reelcheck", "reelcheck -n -s 1 -d tape", 0},
        {"txpace", "txpace", 1},
        {"rxpace", "rxpace", 1},
        {"porttalk", "porttalk", 1},
        {"portlisten", "portlisten", 1},
        {"lineclose-tx", "RUNTIME=0 lineclose-tx -d /dev/ptmx", 0},
        {"lineclose-rx", "RUNTIME=0 lineclose-rx -d /dev/ptmx", 0},
        {"lanetx", "lanetx", 1},
        {"lanerx", "lanerx", 1},
    };
    for (auto &c : cases) {
        std::string run = "cd " + T + " && PATH=" SUITE_BIN_DIR ":$PATH " + c.cmd;
        std::string kept, lost;
        EXPECT_EQ(shell(run + " 2>&1 >/dev/null", &kept), c.status) << c.cmd << "\n" << kept;
        int status = shell(run + " 2>&1 >/dev/full", &lost);
        // What writes nothing on standard output loses nothing.
        std::string said;
        shell(run + " 2>/dev/null | wc -c", &said);
        bool writes = said != "0\n";
        EXPECT_EQ(status, writes ? 1 : c.status) << c.cmd;
        // The reason is the write's, or unknown when an earlier flush failed.
        EXPECT_TRUE(writes ? line_matches(lost, kept + c.name + ": standard output: <*>\n") &&
                                 (ends_with(lost, "No space left on device\n") ||
                                  ends_with(lost, "write error\n"))
                           : lost == kept)
            << c.cmd << "\n"
            << lost;
        EXPECT_EQ(writes, std::string(c.name) != "mediaquery" && std::string(c.name) != "volaudit")
            << c.cmd;
    }
}

} // namespace
