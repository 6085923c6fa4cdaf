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

#include <algorithm>
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
    // Raw devices of root, source and target ("-": none), the options, the
    // device whose report the stand-in gives (its status, its signal); the
    // checks that ran (device and output file) and how the iteration ended.
    struct {
        const char *root, *src, *dst;
        int fsck_any, fsck_root;
        const char *healthy;
        int status, signal;
        const char *runs, *end;
    } cases[] = {
        {"R", "S", "D", 1, 1, "R", 0, 0, "R 1,S 2,D 3,", "!ERROR: 'false' status on fs 1."},
        {"R", "S", "D", 1, 1, "S", 0, 0, "R 1,S 2,D 3,", "!ERROR: 'false' status on fs 0."},
        {"R", "S", "D", 1, 1, "D", 36, 0, "R 1,S 2,D 3,", "!ERROR: 'false' status on fs 0."},
        {"R", "S", "D", 1, 0, "D", 0, 0, "S 2,D 3,", "!ERROR: 'false' status on fs 0."},
        {"R", "S", "D", 1, 0, "S", 0, 0, "S 2,D 3,", "!ERROR: 'false' status on fs 1."},
        {"R", "R", "D", 1, 1, "R", 0, 0, "R 1,D 3,", "!ERROR: 'false' status on fs 1."},
        {"R", "S", "S", 1, 1, "R", 0, 0, "R 1,S 2,", "!ERROR: 'false' status on fs 1."},
        {"R", "S", "R", 1, 1, "S", 0, 0, "R 1,S 2,", "!ERROR: 'false' status on fs 0."},
        {"-", "S", "D", 1, 1, "S", 0, 0, "S 2,D 3,", "!ERROR: 'false' status on fs 1."},
        {"-", "-", "D", 1, 1, "D", 36, 0, "D 3,", "Iteration 001 complete.\n"},
        {"R", "R", "R", 1, 1, "R", 0, 9, "R 1,", "!ERROR: 'false' status on fs 0."},
        {"R", "R", "R", 1, 0, "-", 0, 0, "", "Iteration 001 complete.\n"},
        {"R", "S", "D", 0, 1, "-", 0, 0, "", "Iteration 001 complete.\n"},
        {"-", "-", "-", 1, 1, "-", 0, 0, "", "Iteration 001 complete.\n"},
    };
    for (auto &c : cases) {
        auto dev = [](const char *d) { return *d == '-' ? nullptr : d; };
        s.root_raw_device = dev(c.root);
        s.src_raw_device = dev(c.src);
        s.dst_raw_device = dev(c.dst);
        s.opt_fsck_any = c.fsck_any;
        s.opt_fsck_root = c.fsck_root;
        fsck.set(healthy_report(c.healthy, *c.healthy == 'R' ? "/" : "/" + std::string(c.healthy)),
                 c.status, c.signal);
        fsck.forget();
        std::string err, run = tmp / "run";
        int status = in_child(
            [&] {
                if (chdir(run.c_str()) == 0) TRC7_repeat(s, st);
            },
            nullptr, &err);
        // "R <tmp>/fsck.1\n" reads "R 1,".
        std::string runs = fsck.runs(), prefix = tmp / "fsck.";
        for (size_t p; (p = runs.find(prefix)) != std::string::npos;) runs.erase(p, prefix.size());
        std::replace(runs.begin(), runs.end(), '\n', ',');
        std::string what = std::string(c.root) + c.src + c.dst + " healthy " + c.healthy;
        EXPECT_EQ(runs, c.runs) << what;
        EXPECT_EQ(status, contains(c.end, "complete") ? 0 : 1) << what;
        EXPECT_TRUE(ends_with(err, c.end)) << what << ": " << err;
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
