// targetscan run as a program on nodes that are not SCSI devices.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace
{

const char *const kPass = "!PASS: no errors found in targetscan";

std::string this_host()
{
    char name[256] = "";
    gethostname(name, sizeof name - 1);
    return name;
}

std::string title(const std::string &host, const std::string &path)
{
    std::string rule(host.size() + 1 + path.size(), '=');
    return rule + "\n" + host + " " + path + "\n" + rule + "\n";
}

std::string not_a_scsi_device(const char *why)
{
    return std::string("!ERROR: ioctl(READ_CAPACITY): ") + why + "\n";
}

} // namespace

TEST(Program, NoArgumentsGivesOnlyTheUsageLine)
{
    RunOptions opt;
    opt.argv0 = "targetscan";
    RunResult r = run_program(bin_path("targetscan"), {}, opt);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "!ERROR: Usage: targetscan raw-disk-device [raw-disk-device ...]\n");
}

TEST(Program, MissingDeviceThenAnother)
{
    TempDir dir;
    std::string file = dir.path + "/plain";
    write_file(file, "not a disk\n");
    RunResult r = run_program(bin_path("targetscan"), {"/nonexistent/rdsk/c0t0d0s2", file});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, title(this_host(), file));
    EXPECT_EQ(r.err, "!ERROR: /nonexistent/rdsk/c0t0d0s2: No such file or directory\n" +
                         not_a_scsi_device("Inappropriate ioctl for device") + kPass);
}

TEST(Program, CharacterDeviceThatIsNotScsi)
{
    RunResult r = run_program(bin_path("targetscan"), {"/dev/null", "/dev/zero"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, title(this_host(), "/dev/null") + title(this_host(), "/dev/zero"));
    EXPECT_EQ(r.err, not_a_scsi_device("Inappropriate ioctl for device") +
                         not_a_scsi_device("Inappropriate ioctl for device") + kPass);
}

TEST(Program, EachDeviceReleasesItsDescriptor)
{
    // 200 devices under a limit of 16 descriptors: every one must still be
    // opened, so each is closed again after its failure.
    TempDir dir;
    std::string file = dir.path + "/plain";
    write_file(file, "x");
    std::string cmd = "ulimit -n 16; exec " + bin_path("targetscan");
    for (int i = 0; i < 200; i++) cmd += " " + file;
    RunResult r = run_program("/bin/sh", {"-c", cmd});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    std::string want;
    for (int i = 0; i < 200; i++) want += not_a_scsi_device("Inappropriate ioctl for device");
    EXPECT_EQ(r.err, want + kPass);
}

TEST(ProgramPrivileged, BlockDeviceThatIsNotScsi)
{
    MountNs ns;
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    TempDir dir;
    std::string loop = ns.loop(dir.path + "/disk.img", 4);
    ASSERT_FALSE(loop.empty());
    RunResult r = run_program(bin_path("targetscan"), {loop});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, title(this_host(), loop));
    EXPECT_EQ(r.err.rfind("!ERROR: ioctl(READ_CAPACITY): ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - strlen(kPass) - 1), std::string("\n") + kPass);
    EXPECT_EQ(r.err.find("INQUIRY"), std::string::npos);
}

// The host name is set in a private UTS namespace, so the machine's own
// name never changes.
static RunResult run_with_host(const std::string &host, const std::string &cwd,
                               const std::string &device)
{
    RunOptions opt;
    opt.cwd = cwd;
    return run_program("/usr/bin/unshare",
                       {"--uts", "--", "/bin/sh", "-c", "hostname \"$0\" && exec \"$1\" \"$2\"",
                        host, bin_path("targetscan"), device},
                       opt);
}

TEST(ProgramPrivileged, SeparatorRuleIsAsWideAsTheTitle)
{
    std::string why;
    if (!have_root(&why)) GTEST_SKIP() << why;
    TempDir dir;
    write_file(dir.path + "/dev.x1", "");
    RunResult r = run_with_host("hostA", dir.path, "dev.x1");
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "============\nhostA dev.x1\n============\n");

    std::string longest(64, 'h'); // the longest name Linux allows
    r = run_with_host(longest, dir.path, "dev.x1");
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.out,
              std::string(71, '=') + "\n" + longest + " dev.x1\n" + std::string(71, '=') + "\n");
}
