// Devices that fail under the programs, in one boot of the lab's machine:
// device-mapper's error and flakey targets over loop devices, and scsi_debug
// made to fail its commands or to have a medium error (guest/device-faults).
// Every failure is reported with its own verdict and status, nothing
// hangs and nothing is left running.
#include "tests/support/process.h"
#include "tests/support/text.h"

#include <gtest/gtest.h>

namespace
{

TEST(DeviceFaults, ReportedNeverPassedNeverHung)
{
    const std::string lab = lab_path("");
    RunOptions o;
    o.timeout_s = 400;
    RunResult r = run_program(lab + "vm-run",
                              {"--timeout", "360", "--append", "scsi_mod.scan=sync", "--module",
                               "loop", "--module", "dm_mod", "--module", "dm_flakey", "--module",
                               "sd_mod", "--module", "sg", "--module", "scsi_debug dev_size_mb=8",
                               "--", lab + "guest/device-faults", SUITE_BIN_DIR},
                              o);
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(match_output(r.out,
                           {
                               "== diskhammer on ext4 whose device fails mid-run",
                               "status 1",
                               "!ERROR: Input/output error",
                               "left running: 0",
                               "== diskhammer raw over a failing region",
                               "status 1",
                               "!ERROR: readInput/output error",
                               "left running: 0",
                               "== diskhammer raw on a flakey device (up 1 s, down 1 s)",
                               "status 1",
                               // the first I/O of a down second: a write, or a read back
                               "!ERROR: <*>Input/output error",
                               "left running: 0",
                               "== reelflood and reelcheck over the failing region",
                               "reelflood -b 1: status 2",
                               "!ERROR: during writing: Input/output error",
                               "16385 blocks",
                               "16.00Mb total",
                               "reelcheck -b 1: status 2",
                               "!ERROR: read: Input/output error",
                               "16385 blocks",
                               "16.00Mb total",
                               "== treecycle whose target fails mid-run",
                               "status 1",
                               "!ERROR: TRC7_double() got error TRC7_ERROR",
                               "Failed.",
                               "left running: 0",
                               "== targetscan on a disk whose every command fails",
                               "status 0",
                               "!ERROR: ioctl(READ_CAPACITY): Input/output error",
                               "!PASS: no errors found in targetscan",
                               "== reelflood and reelcheck on a disk with a medium error",
                               "reelflood: status 0",
                               "2049 blocks",
                               "8.00Mb total",
                               "reelcheck: status 2",
                               "!ERROR: read: Input/output error",
                               "583 blocks",
                               "2.27Mb total",
                           }),
              "")
        << r.out << r.err;
}

} // namespace
