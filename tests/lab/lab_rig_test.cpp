// The virtual-machine rig itself: what a command finds in the guest and how
// its result comes back. Each boot costs seconds, so one boot checks a lot.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

namespace
{

const std::string kVmRun = std::string(SUITE_SOURCE_DIR) + "/tests/lab/vm-run";

RunResult vm_run(const std::vector<std::string> &args, int timeout_s = 240)
{
    RunOptions o;
    o.timeout_s = timeout_s;
    return run_program(kVmRun, args, o);
}

TEST(Rig, CanStartHere)
{
    RunResult r = vm_run({"--check"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("vm-run: can start a guest"), std::string::npos) << r.out;
}

TEST(Rig, NoCommandIsAUsageError)
{
    RunResult r = vm_run({});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.err, "vm-run: usage: vm-run [RIG-OPTION...] [QEMU-ARG...] -- COMMAND [ARG...]\n");
    EXPECT_EQ(r.out, "");
}

// One boot: the streams and the status come back separately; the root is
// this machine's, read-only; the scratch places are writable and private;
// module loading, explicit and automatic, goes through the root's modprobe;
// the output directory is shared back.
TEST(Rig, GuestEnvironment)
{
    TempDir out("labrig");
    const std::string probe = std::string("/etc/lab-rig-probe.") + std::to_string(getpid());
    const std::string script =
        "echo to-stdout; echo to-stderr >&2\n"
        "test -d " SUITE_BIN_DIR " && echo build-tree-visible\n"
        "touch /usr/lab-rig-probe 2>/dev/null && echo root-writable || echo root-read-only\n"
        "touch " +
        probe +
        " /var/lab-rig-probe /tmp/p /run/p /dev/shm/p && echo scratch-writable\n"
        "for m in / /tmp /run /dev/shm /etc /var; do printf '%s=%s\\n' $m $(findmnt -n -o FSTYPE "
        "$m); done\n"
        "hostname\n"
        "cat /proc/sys/kernel/modprobe\n"
        "/sbin/modprobe crc32c && grep -q '^name *: crc32c' /proc/crypto && echo crc32c-loaded\n"
        "grep -qw squashfs /proc/filesystems && echo squashfs-already\n"
        "mkdir /tmp/m; mount -t squashfs /dev/null /tmp/m 2>/dev/null\n"
        "grep -qw squashfs /proc/filesystems && echo squashfs-autoloaded\n"
        "ip -o link show lo | grep -q LOOPBACK,UP && echo lo-up\n"
        "pwd; echo left-behind >left\n"
        "exit 7\n";
    RunResult r = vm_run({"--out", out.path, "--", "bash", "-c", script});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 7) << r.err;
    EXPECT_EQ(r.err, "to-stderr\n");
    EXPECT_EQ(r.out, "to-stdout\n"
                     "build-tree-visible\n"
                     "root-read-only\n"
                     "scratch-writable\n"
                     "/=9p\n/tmp=overlay\n/run=tmpfs\n/dev/shm=tmpfs\n/etc=overlay\n/var=overlay\n"
                     "lab\n"
                     "/sbin/lab-modprobe\n"
                     "crc32c-loaded\n"
                     "squashfs-autoloaded\n"
                     "lo-up\n"
                     "/run/lab\n");
    EXPECT_EQ(read_file(out / "left"), "left-behind\n");
    struct stat st;
    EXPECT_NE(stat(probe.c_str(), &st), 0) << "the guest's write reached this machine's /etc";
    EXPECT_NE(stat("/var/lab-rig-probe", &st), 0);
}

TEST(Rig, AGuestThatDoesNotFinishIsStopped)
{
    RunResult r = vm_run({"--timeout", "20", "--", "sleep", "600"}, 120);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 126);
    EXPECT_EQ(r.err.rfind("vm-run: the guest did not finish within 20 s; console ends:\n", 0), 0u)
        << r.err;
}

TEST(Rig, SetUpFailureEndsTheRunBeforeTheCommand)
{
    RunResult r = vm_run({"--module", "no_such_module_here", "--", "echo", "ran"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("vm-run: guest: modprobe no_such_module_here failed"), std::string::npos)
        << r.err;
}

} // namespace
