// The file systems under test: which are checked between iterations, in what
// order, and how a failed check ends the run; raw devices and mount points.
// No Linux file system has the base type that gets a raw device, so the
// checks run with raw devices set directly, against the stand-in checker.
#include "libsupport/support.h"
#include "tests/support/fakefsck.h"
#include "tests/support/libstate.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
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
    std::string o[3]; // the output files of the checks
    settings s;
    run_state st; // no instances: an iteration is the checks alone
    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
        ASSERT_TRUE(fsck.install(ns, tmp / "fake"));
        reset_libsupport("treecycle");
        for (int k = 0; k < 3; k++) o[k] = tmp / ("fsck." + std::to_string(k + 1));
        s.tmp_fsck_1 = o[0].c_str();
        s.tmp_fsck_2 = o[1].c_str();
        s.tmp_fsck_3 = o[2].c_str();
        s.src_mount_point = "/S";
        s.dst_mount_point = "/D";
        s.max_iterations = 1;
        make_dirs(tmp / "run");
    }
};

TEST_F(Checks, WhichFileSystemsAreCheckedAndWhatAFailureSays)
{
    std::string run = tmp / "run";
    for (const RunSpec &c :
         runs_in("tests/treecycle/transcripts/checks.txt", {{"<TMP>", tmp.path}})) {
        auto dev = [&](int i) { return c.argv[i] == "-" ? nullptr : c.argv[i].c_str(); };
        s.root_raw_device = dev(0);
        s.src_raw_device = dev(1);
        s.dst_raw_device = dev(2);
        s.opt_fsck_any = value_of(c.env, "NOFSCK", "0") == "0";
        s.opt_fsck_root = value_of(c.env, "NOFSCK_ROOT", "0") == "0";
        std::string h = value_of(c.env, "HEALTHY");
        fsck.set(healthy_report(h, h == "R" ? "/" : "/" + h),
                 std::stoi(value_of(c.env, "STATUS", "0")),
                 std::stoi(value_of(c.env, "SIGNAL", "0")));
        fsck.forget();
        std::string err;
        int status = in_child(
            [&] {
                if (chdir(run.c_str()) == 0) TRC7_repeat(s, st);
            },
            nullptr, &err);
        EXPECT_EQ(fsck.runs(), c.out) << c.line;
        EXPECT_EQ(status, c.status) << c.line;
        EXPECT_TRUE(ends_with(err, c.err)) << c.line << ": " << err;
    }
}

TEST_F(Checks, RawDevicesAndMountPoints)
{
    EXPECT_EQ(blk_to_raw("/dev/dsk/c0t0d0s7"), "/dev/rdsk/c0t0d0s7");
    EXPECT_EQ(blk_to_raw("/dev/md/dsk/d10"), "/dev/md/rdsk/d10");
    EXPECT_EXIT(blk_to_raw("/dev/loop0"), ::testing::ExitedWithCode(1),
                "^treecycle: !ERROR: blk_to_raw\\('/dev/loop0'\\) failed\\.\n"
                "!ERROR:   Cannot derive raw device from block device\\.\n"
                "!ERROR:   Must start with '/dev/dsk/' or '/dev/md/dsk/'\\.\n$");
    // A file system of another base type gets no raw device, whatever its name.
    std::string mp = tmp / "mnt", sub = mp + "/sub";
    ASSERT_TRUE(ns.tmpfs(mp, "/dev/dsk/c0t3d0s6", "size=1m"));
    make_dirs(sub);
    s.src_directory = mp.c_str();
    s.dst_directory = "/nonexistent";
    EXPECT_EXIT(make_fs_pathnames(s), ::testing::ExitedWithCode(1),
                "^treecycle: stat\\('/nonexistent'\\) failed; 2=\\[ENOENT\\] No such file or "
                "directory\ntreecycle: !ERROR: filesystem_of\\('/nonexistent'\\) failed; NULL "
                "result\\.\n$");
    s.dst_directory = sub.c_str();
    make_fs_pathnames(s);
    EXPECT_EQ(s.root_raw_device, nullptr);
    EXPECT_EQ(s.src_raw_device, nullptr);
    EXPECT_EQ(s.dst_raw_device, nullptr);
    EXPECT_EQ(s.src_mount_point, mp);
    EXPECT_EQ(s.dst_mount_point, mp);
}

} // namespace
