// The plan runner with the lab's machine: in the guest, a run that reads a
// device-mapper error device is judged by the kernel's I/O errors; on this
// machine, a run of a rig stopped at its timeout leaves no guest behind.
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

const std::string kSource = SUITE_SOURCE_DIR;

TEST(LabRunner, KernelErrorsOfAFailingDevice)
{
    TempDir t("labrun");
    // The plan needs the error device, which exists only in the guest.
    write_file(
        t / "guest.sh",
        "set -u\ndmsetup create qbad --table '0 16384 error' && dmsetup mknodes qbad || exit 9\n"
        "printf '[bad]\\nrun = dd if=/dev/mapper/qbad of=/dev/null bs=4k count=1\\n"
        "expect = any\\n\\n[ignored]\\nkernel = ignore\\nexpect = any\\n"
        "run = dd if=/dev/mapper/qbad of=/dev/null bs=4k count=1 skip=8\\n' >/tmp/k.plan\n"
        "cd /tmp && " +
            kSource +
            "/runner/qualrun /tmp/k.plan --results /tmp/r >/dev/null\n"
            "echo status $?\n/usr/bin/python3 " +
            kSource + "/tests/runner/check_reports.py " + kSource +
            "/runner/schemas /tmp/r | sed 's/; kernel: [0-9]* errors*/; kernel: N errors/'\n");
    RunOptions o;
    o.timeout_s = 400;
    RunResult r =
        run_program(kSource + "/tests/lab/vm-run",
                    {"--timeout", "360", "--module", "dm_mod", "--", "bash", t / "guest.sh"}, o);
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "status 1\njob k exit 1\n"
                     "bad: not as expected, exit 1, junit failure; kernel: N errors\n"
                     "ignored: as expected, exit 1, junit pass\n")
        << r.err;
}

TEST(LabRunner, RigStoppedAtItsTimeoutLeavesNoGuest)
{
    TempDir t("labrun");
    std::string console = t / "console.log";
    write_file(t / "rig.plan", "[rig]\ntimeout = 12\ngrace = 10\nkernel = ignore\nrun = " +
                                   kSource + "/tests/lab/scsi-rig --console " + console +
                                   " --timeout 300 -- bash -c 'sleep 300' rig\n");
    RunOptions o;
    // The rig keeps its disk images in a directory of TMPDIR, which only its
    // own clean-up removes: a SIGKILL at once would leave it.
    std::filesystem::create_directories(t / "tmp");
    o.env = {"QUALRUN_LOCK=" + t / "lock", "TMPDIR=" + t / "tmp"};
    o.cwd = t.path;
    RunResult r = run_program(kSource + "/runner/qualrun", {"rig.plan"}, o);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "rig  -       timeout  NO (timed out)")) << r.out;
    EXPECT_TRUE(file_exists(console)) << "the guest had started";
    std::string left;
    shell("pgrep -f '[p]ath=" + console + "' || true", &left);
    EXPECT_EQ(left, "");
    shell("ls " + t / "tmp", &left);
    EXPECT_EQ(left, "") << "the rig's clean-up ran";
    EXPECT_FALSE(contains(read_file(t / "qualrun-results/latest/runs/rig.log"),
                          "killed after 10s of grace"));
}

} // namespace
