// volaudit end to end, on real file systems in a private mount namespace,
// with the stand-in checker (and once with the real one).
#include "tests/support/fakefsck.h"
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>

namespace
{

const std::string usage = "Expecting at least one argument.\n"
                          "Usage: volaudit  <filesystem>  [ <output-file> ]\n";

long kbytes(const std::string &path)
{
    struct statvfs v;
    statvfs(path.c_str(), &v);
    return (long)((unsigned long long)v.f_bavail * v.f_frsize / 1024);
}

RunResult volaudit(const std::vector<std::string> &args, const std::string &cwd = "/")
{
    RunOptions o;
    o.cwd = cwd;
    return run_program(bin_path("volaudit"), args, o);
}

TEST(Volaudit, Usage)
{
    RunResult r = volaudit({});
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage);
    EXPECT_EQ(r.out, "");
}

struct OnTmpfs : ::testing::Test {
    MountNs ns;
    TempDir dir{"volaudit"};
    FakeFsck fsck;
    std::string mnt, out;
    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
        mnt = dir / "mnt";
        out = dir / "fsck.out";
        ASSERT_TRUE(ns.tmpfs(mnt, "/dev/dsk/c0t3d0s6", "size=8m"));
        ASSERT_TRUE(fsck.install(ns, dir / "checker"));
    }
    std::string progress(const std::string &path, const std::string &special = "/dev/dsk/c0t3d0s6",
                         const std::string &raw = "/dev/rdsk/c0t3d0s6")
    {
        return "df('" + path + "') [ " + special + " mounted on " + mnt + " ] => " +
               std::to_string(kbytes(mnt)) + " kbytes.\n" + "check_fs('" + raw + "','" + mnt +
               "','" + out + "')\n";
    }
    std::string mismatch() { return "fsck -n /dev/rdsk/c0t3d0s6 (" + mnt + ")\n"; }
};

TEST_F(OnTmpfs, HealthyReportPassesAndChecksTheRawDevice)
{
    make_dirs(mnt + "/sub");
    fsck.set(healthy_report("/dev/rdsk/c0t3d0s6", mnt), 0);
    RunResult r = volaudit({mnt + "/sub", out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, progress(mnt + "/sub"));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(fsck.args(),
              (std::vector<std::string>{"/usr/sbin/fsck", "-n", "/dev/rdsk/c0t3d0s6"}));
    EXPECT_EQ(read_file(out), healthy_report("/dev/rdsk/c0t3d0s6", mnt));
    // Extra arguments are ignored.
    r = volaudit({mnt, out, "extra", "more"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, progress(mnt));
}

TEST_F(OnTmpfs, DefaultOutputFileInTheCurrentDirectory)
{
    fsck.set(healthy_report("/dev/rdsk/c0t3d0s6", mnt), 0);
    make_dirs(dir / "cwd");
    RunResult r = volaudit({mnt}, dir / "cwd");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.substr(r.err.find("check_fs")),
              "check_fs('/dev/rdsk/c0t3d0s6','" + mnt + "','fsck.out')\n");
    EXPECT_EQ(read_file(dir / "cwd/fsck.out"), healthy_report("/dev/rdsk/c0t3d0s6", mnt));
}

// One case per report: the checker's status, and what volaudit must say after
// its two progress lines.
TEST_F(OnTmpfs, Reports)
{
    const std::string raw = "/dev/rdsk/c0t3d0s6";
    const std::string good = healthy_report(raw, mnt);
    const std::string with_sb = healthy_report(raw, mnt, true);
    std::string between = with_sb;
    between.insert(between.find("FILE SYSTEM"), "** Phase 6 - Salvage\nfree list\n");
    std::string header = good;
    header.replace(0, header.find('\n'), "** " + raw + " (NO WRITE) ");
    std::string summary = good;
    summary.replace(summary.find("10 frags"), 8, "10 frag");
    std::string blanks = "\n" + good;
    blanks.insert(blanks.find("** Phase 2"), "\n\n");
    blanks += "\n";
    // A summary line of 320 characters is read as a fitting line of 255 and an extra one.
    std::string too_long = good;
    too_long.insert(too_long.size() - 1, std::string(320 - 70, '+'));
    struct {
        const char *name;
        std::string report;
        int status, signal, exit;
        std::string said;
    } cases[] = {
        {"healthy", good, 0, 0, 0, ""},
        {"36 with the superblock line", with_sb, 36, 0, 0, ""},
        {"36 without the superblock line", good, 36, 0, 0, ""},
        {"36 with lines before the superblock line", between, 36, 0, 0, ""},
        {"superblock line without 36", with_sb, 0, 0, 1,
         mismatch() + "  Expected files line.  Got:\n  " +
             "FILE SYSTEM STATE IN SUPERBLOCK IS WRONG; FIX.  no\nStopped at: " +
             "FILE SYSTEM STATE IN SUPERBLOCK IS WRONG; FIX.  no\n"},
        {"header differs", header, 0, 0, 1,
         mismatch() + "  Expected:\n    [** " + raw + " (NO WRITE)]\n  Got:\n    [** " + raw +
             " (NO WRITE) ]\n"},
        {"summary does not fit", summary, 0, 0, 1,
         mismatch() + "  Expected files line.  Got:\n  " +
             "2 files, 9 used, 1962 free (10 frag, 244 blocks,  0.5% fragmentation)\n" +
             "Stopped at:  frag, 244 blocks,  0.5% fragmentation)\n"},
        {"extra line after the summary", good + "*** FILE SYSTEM WAS MODIFIED\n", 0, 0, 1,
         "Unexpected extra line from fsck.\n => *** FILE SYSTEM WAS MODIFIED\n"},
        {"blank lines anywhere", blanks, 0, 0, 0, ""},
        {"empty report", "", 0, 0, 0, ""},
        {"line longer than 255 characters", too_long, 0, 0, 1,
         "Unexpected extra line from fsck.\n => " + std::string(320 - 255, '+') + "\n"},
        {"status 32", good, 32, 0, 1, ""},
        {"status 1", good, 1, 0, 1, ""},
        {"killed by a signal", good, 0, SIGKILL, 1, ""},
        {"killed after a bad report", header, 0, SIGTERM, 1, ""},
    };
    for (auto &c : cases) {
        fsck.set(c.report, c.status, c.signal);
        RunResult r = volaudit({mnt, out});
        EXPECT_TRUE(r.exited) << c.name;
        EXPECT_EQ(r.status, c.exit) << c.name;
        EXPECT_EQ(r.err, progress(mnt) + c.said) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
    }
}

TEST_F(OnTmpfs, StaleOutputIsEmptiedFirst)
{
    write_file(out, "a stale report\nfrom an earlier run\n");
    fsck.set("", 0);
    RunResult r = volaudit({mnt, out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(out), "");
}

TEST_F(OnTmpfs, OtherDeviceNamesAreCheckedUnchanged)
{
    std::string m2 = dir / "md";
    ASSERT_TRUE(ns.tmpfs(m2, "/dev/md/dsk/d10", "size=4m"));
    fsck.set(healthy_report("/dev/md/dsk/d10", m2), 0);
    RunResult r = volaudit({m2, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fsck.args(), (std::vector<std::string>{"/usr/sbin/fsck", "-n", "/dev/md/dsk/d10"}));
}

TEST_F(OnTmpfs, PathsThatAreNotThere)
{
    RunResult r = volaudit({mnt + "/does/not/exist", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fsck.args().empty());
    EXPECT_FALSE(file_exists(out));
}

TEST_F(OnTmpfs, OutputFileThatCannotBeMade)
{
    fsck.set(healthy_report("/dev/rdsk/c0t3d0s6", mnt), 0);
    out = dir / "no/such/dir/out";
    RunResult r = volaudit({mnt, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, progress(mnt));
    EXPECT_TRUE(fsck.args().empty());
}

struct OnExt4 : ::testing::Test {
    MountNs ns;
    TempDir dir{"volaudit"};
    std::string mnt, out, dev;
    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
        mnt = dir / "mnt";
        out = dir / "fsck.out";
        dev = ns.ext4(dir / "image", mnt, 32);
        ASSERT_FALSE(dev.empty());
    }
};

TEST_F(OnExt4, StandInChecker)
{
    FakeFsck fsck;
    ASSERT_TRUE(fsck.install(ns, dir / "checker"));
    fsck.set(healthy_report(dev, mnt), 0);
    RunResult r = volaudit({mnt, out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "df('" + mnt + "') [ " + dev + " mounted on " + mnt + " ] => " +
                         std::to_string(kbytes(mnt)) + " kbytes.\ncheck_fs('" + dev + "','" + mnt +
                         "','" + out + "')\n");
    EXPECT_EQ(fsck.args(), (std::vector<std::string>{"/usr/sbin/fsck", "-n", dev}));
}

// What a Linux user sees: the system's checker reports in its own words, so
// the first line already differs from the rules.
TEST_F(OnExt4, RealChecker)
{
    RunResult r = volaudit({mnt, out});
    EXPECT_EQ(r.status, 1);
    std::string first = read_file(out).substr(0, read_file(out).find('\n'));
    EXPECT_EQ(first.rfind("fsck from util-linux", 0), 0u) << read_file(out);
    EXPECT_EQ(r.err, "df('" + mnt + "') [ " + dev + " mounted on " + mnt + " ] => " +
                         std::to_string(kbytes(mnt)) + " kbytes.\ncheck_fs('" + dev + "','" + mnt +
                         "','" + out + "')\n" + "fsck -n " + dev + " (" + mnt + ")\n" +
                         "  Expected:\n    [** " + dev + " (NO WRITE)]\n  Got:\n    [" + first +
                         "]\n");
}

} // namespace

namespace {

TEST_F(OnTmpfs, PlantedLinkAtTheOutputFileIsNotFollowed)
{
    fsck.set(healthy_report("/dev/rdsk/c0t3d0s6", mnt), 0);
    write_file(dir / "victim", "keep\n");
    ASSERT_EQ(symlink((dir / "victim").c_str(), out.c_str()), 0);
    RunResult r = volaudit({mnt, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, progress(mnt));
    EXPECT_EQ(read_file(dir / "victim"), "keep\n");
    EXPECT_TRUE(fsck.args().empty());
}

} // namespace
