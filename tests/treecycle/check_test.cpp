// The file-system checks between iterations, built where the driver builds
// them and run against the stand-in checker. No Linux file system has the
// base type that gets a raw device, so the raw devices are given directly.
#include "libsupport/support.h"
#include "tests/support/fakefsck.h"
#include "tests/support/tmpdir.h"
#include "treecycle/treecycle.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace
{
struct Checks : ::testing::Test {
    MountNs ns;
    TempDir tmp{"tcchk"};
    FakeFsck fsck;
    std::string o1, o2, o3;
    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
        ASSERT_TRUE(fsck.install(ns, tmp / "fake"));
        program_name = "treecycle";
        trace1 = stderr;
        o1 = tmp / "fsck.1";
        o2 = tmp / "fsck.2";
        o3 = tmp / "fsck.3";
        tmp_fsck_1 = o1.c_str();
        tmp_fsck_2 = o2.c_str();
        tmp_fsck_3 = o3.c_str();
        root_raw_device = "/dev/rdsk/c0t0d0s0";
        src_raw_device = "/dev/rdsk/c0t1d0s6";
        dst_raw_device = "/dev/md/rdsk/d10";
        src_mount_point = "/export/src";
        dst_mount_point = "/export/dst";
        opt_fsck_any = 1;
        opt_fsck_root = 1;
    }
};

std::string describe(const std::vector<fs_check> &l)
{
    std::string s;
    for (auto &c : l) s += std::string(c.device) + " " + c.mount_point + " " + c.output + "\n";
    return s;
}
} // namespace

TEST_F(Checks, RootSourceAndTargetInThatOrder)
{
    EXPECT_EQ(describe(TRC7_check_list()), "/dev/rdsk/c0t0d0s0 / " + o1 +
                                               "\n/dev/rdsk/c0t1d0s6 /export/src " + o2 +
                                               "\n/dev/md/rdsk/d10 /export/dst " + o3 + "\n");
}

TEST_F(Checks, AFileSystemIsCheckedOnce)
{
    src_raw_device = root_raw_device;
    EXPECT_EQ(describe(TRC7_check_list()),
              "/dev/rdsk/c0t0d0s0 / " + o1 + "\n/dev/md/rdsk/d10 /export/dst " + o3 + "\n");
    src_raw_device = "/dev/rdsk/c0t1d0s6";
    dst_raw_device = "/dev/rdsk/c0t1d0s6";
    EXPECT_EQ(describe(TRC7_check_list()),
              "/dev/rdsk/c0t0d0s0 / " + o1 + "\n/dev/rdsk/c0t1d0s6 /export/src " + o2 + "\n");
    dst_raw_device = "/dev/rdsk/c0t0d0s0";
    EXPECT_EQ(describe(TRC7_check_list()),
              "/dev/rdsk/c0t0d0s0 / " + o1 + "\n/dev/rdsk/c0t1d0s6 /export/src " + o2 + "\n");
}

TEST_F(Checks, FileSystemsWithoutARawDeviceAreNotChecked)
{
    root_raw_device = nullptr;
    EXPECT_EQ(describe(TRC7_check_list()), "/dev/rdsk/c0t1d0s6 /export/src " + o2 +
                                               "\n/dev/md/rdsk/d10 /export/dst " + o3 + "\n");
    src_raw_device = nullptr;
    EXPECT_EQ(describe(TRC7_check_list()), "/dev/md/rdsk/d10 /export/dst " + o3 + "\n");
    dst_raw_device = nullptr;
    EXPECT_TRUE(TRC7_check_list().empty());
}

TEST_F(Checks, NofsckAndNofsckRoot)
{
    opt_fsck_any = 0;
    EXPECT_TRUE(TRC7_check_list().empty());
    opt_fsck_any = 1;
    opt_fsck_root = 0;
    EXPECT_EQ(describe(TRC7_check_list()), "/dev/rdsk/c0t1d0s6 /export/src " + o2 +
                                               "\n/dev/md/rdsk/d10 /export/dst " + o3 + "\n");
    // Source and target on the root file system: nothing is checked.
    src_raw_device = dst_raw_device = root_raw_device;
    EXPECT_TRUE(TRC7_check_list().empty());
}

TEST_F(Checks, EveryCheckRunsAndTheFirstFailureIsReported)
{
    // The stand-in's report names one device, so only that check passes.
    fsck.set(healthy_report("/dev/rdsk/c0t1d0s6", "/export/src"), 0);
    auto list = TRC7_check_list();
    EXPECT_EQ(TRC7_run_checks(list), 0);
    // All three ran, the target last, each into its own file.
    EXPECT_EQ(fsck.args(), (std::vector<std::string>{"/usr/sbin/fsck", "-n", "/dev/md/rdsk/d10"}));
    for (auto &o : {o1, o2, o3})
        EXPECT_EQ(read_file(o), healthy_report("/dev/rdsk/c0t1d0s6", "/export/src")) << o;
    fsck.set(healthy_report("/dev/rdsk/c0t0d0s0", "/"), 0);
    EXPECT_EQ(TRC7_run_checks(list), 1);
    fsck.set(healthy_report("/dev/rdsk/c0t0d0s0", "/"), 36);
    EXPECT_EQ(TRC7_run_checks(list), 1);
    dst_raw_device = src_raw_device = root_raw_device;
    EXPECT_EQ(TRC7_run_checks(TRC7_check_list()), -1);
    fsck.set(healthy_report("/dev/rdsk/c0t0d0s0", "/"), 0, 9);
    EXPECT_EQ(TRC7_run_checks(TRC7_check_list()), 0);
}

TEST_F(Checks, TheDriverStopsOnAFailedCheckWithItsPosition)
{
    // An iteration without instances consists of the checks alone.
    std::string cwd = tmp / "run";
    make_dirs(cwd);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    instances = 0;
    max_iterations = 1;
    time_limit = -1;
    fsck.set(healthy_report("/dev/rdsk/c0t0d0s0", "/"), 0);
    EXPECT_EXIT(TRC7_repeat(), ::testing::ExitedWithCode(1), "!ERROR: 'false' status on fs 1\\.$");
    fsck.set(healthy_report("/dev/rdsk/c0t1d0s6", "/export/src"), 0);
    opt_fsck_root = 0;
    EXPECT_EXIT(TRC7_repeat(), ::testing::ExitedWithCode(1), "!ERROR: 'false' status on fs 1\\.$");
    fsck.set(healthy_report("/dev/md/rdsk/d10", "/export/dst"), 0);
    EXPECT_EXIT(TRC7_repeat(), ::testing::ExitedWithCode(1), "!ERROR: 'false' status on fs 0\\.$");
    // All checks pass: the iteration completes.
    src_raw_device = nullptr;
    TRC7_repeat();
    EXPECT_EQ(iteration, 1);
    ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Checks, RawDeviceRules)
{
    EXPECT_EQ(blk_to_raw("/dev/dsk/c0t0d0s7"), "/dev/rdsk/c0t0d0s7");
    EXPECT_EQ(blk_to_raw("/dev/md/dsk/d10"), "/dev/md/rdsk/d10");
    EXPECT_EXIT(blk_to_raw("/dev/loop0"), ::testing::ExitedWithCode(1),
                "^treecycle: !ERROR: blk_to_raw\\('/dev/loop0'\\) failed\\.\n"
                "!ERROR:   Cannot derive raw device from block device\\.\n"
                "!ERROR:   Must start with '/dev/dsk/' or '/dev/md/dsk/'\\.\n$");
    // A file system of another base type gets no raw device, whatever its name.
    std::string mp = tmp / "mnt";
    ASSERT_TRUE(ns.tmpfs(mp, "/dev/dsk/c0t3d0s6", "size=1m"));
    const mount_entry *m = e_filesystem_of(mp.c_str());
    EXPECT_EQ(m->mnt_special, "/dev/dsk/c0t3d0s6");
    EXPECT_EQ(mnt_to_raw(m), nullptr);
    EXPECT_EXIT(e_filesystem_of((tmp / "nothing").c_str()), ::testing::ExitedWithCode(1),
                "filesystem_of\\('.*/nothing'\\) failed; NULL result\\.\n");
}
