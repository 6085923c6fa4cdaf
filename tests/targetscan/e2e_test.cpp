// targetscan run as a program on nodes that are not SCSI devices (the lab's
// virtual machine has real ones): whole standard output and error. Each run
// has its own host name, in a private UTS namespace, and at most 16 open
// descriptors, so every device must be closed again after its failure.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

TEST(Program, WholeOutputsOnNodesThatAreNotScsi)
{
    MountNs ns; // for the loop device
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    TempDir dir;
    write_file(dir / "dev.x1", "not a disk\n");
    std::string loop = ns.loop(dir / "disk.img", 4);
    ASSERT_FALSE(loop.empty());
    ASSERT_EQ(symlink(loop.c_str(), (dir / "loop.x").c_str()), 0);
    const std::string pass = "!PASS: no errors found in targetscan",
                      notty = "!ERROR: ioctl(READ_CAPACITY): Inappropriate ioctl for device\n",
                      rule12 = "============\n", h64(64, 'h'), rule71 = std::string(71, '=') + "\n";
    std::string many_out, many_err;
    std::vector<std::string> many;
    for (int i = 0; i < 200; i++) {
        many.push_back("dev.x1");
        many_out += rule12 + "hostA dev.x1\n" + rule12;
        many_err += notty;
    }
    const struct {
        std::string host;
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {"hostA", {}, 1, "", "!ERROR: Usage: targetscan raw-disk-device [raw-disk-device ...]\n"},
        {"hostA",
         {"/nonexistent/rdsk/c0t0d0s2", "dev.x1"},
         0,
         rule12 + "hostA dev.x1\n" + rule12,
         "!ERROR: /nonexistent/rdsk/c0t0d0s2: No such file or directory\n" + notty + pass},
        {"lab",
         {"/dev/null", "/dev/zero"},
         0,
         "=============\nlab /dev/null\n=============\n=============\nlab "
         "/dev/zero\n=============\n",
         notty + notty + pass},
        // The kernel's reason differs between block drivers and versions.
        {"lab",
         {"loop.x"},
         0,
         "==========\nlab loop.x\n==========\n",
         "!ERROR: ioctl(READ_CAPACITY): <*>\n" + pass},
        {h64, {"dev.x1"}, 0, rule71 + h64 + " dev.x1\n" + rule71, notty + pass}, // the longest name
        {"hostA", many, 0, many_out, many_err + pass},
    };
    for (auto &c : cases) {
        std::vector<std::string> args = {"--uts",
                                         "--",
                                         "/bin/sh",
                                         "-c",
                                         "hostname \"$1\" && shift && ulimit -n 16 && PATH=" +
                                             bin_path("") + " exec targetscan \"$@\"",
                                         "sh",
                                         c.host};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunOptions o;
        o.cwd = dir.path;
        RunResult r = run_program("/usr/bin/unshare", args, o);
        EXPECT_TRUE(r.exited && r.status == c.status) << c.host << " " << c.args.size();
        EXPECT_EQ(r.out, c.out) << c.host << " " << c.args.size();
        EXPECT_TRUE(line_matches(r.err, c.err)) << c.host << " " << c.args.size() << ": " << r.err;
    }
}
