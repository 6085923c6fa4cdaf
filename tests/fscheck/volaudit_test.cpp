// volaudit end to end, on real file systems in a private mount namespace,
// with the stand-in checker (and once with the real one).
#include "tests/support/fakefsck.h"
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace
{
struct Volaudit : ::testing::Test {
    MountNs ns;
    TempDir dir{"volaudit"};
    std::string mnt = dir / "mnt", out = dir / "fsck.out";
    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
        // An empty tmpfs of 8 MiB has 8192K free.
        ASSERT_TRUE(ns.tmpfs(mnt, "/dev/dsk/c0t3d0s6", "size=8m"));
    }
    RunResult volaudit(const std::vector<std::string> &args, const std::string &cwd = "/")
    {
        RunOptions o;
        o.cwd = cwd;
        return run_program(bin_path("volaudit"), args, o);
    }
};

// volaudit's two progress lines.
std::string said(const std::string &path, const std::string &out, const std::string &mnt,
                 const std::string &special = "/dev/dsk/c0t3d0s6",
                 const std::string &raw = "/dev/rdsk/c0t3d0s6", const std::string &kbytes = "8192")
{
    return "df('" + path + "') [ " + special + " mounted on " + mnt + " ] => " + kbytes +
           " kbytes.\ncheck_fs('" + raw + "','" + mnt + "','" + out + "')\n";
}

TEST_F(Volaudit, Runs)
{
    const std::string raw = "/dev/rdsk/c0t3d0s6", D = dir.path, md = dir / "md";
    const std::string good = healthy_report(raw, mnt), sb = healthy_report(raw, mnt, true);
    std::string bad = good;
    bad.replace(0, bad.find('\n'), "** " + raw + " (NO WRITE) ");
    const std::string fsck_raw = "/usr/sbin/fsck -n " + raw + " ";
    // What is there first (a shell command), the arguments and working
    // directory, the stand-in's report, status and signal; volaudit's status
    // and standard error, the checker's arguments ("" when it did not run),
    // and what a shell command shows afterwards.
    struct {
        std::string before;
        std::vector<std::string> args;
        std::string cwd, report;
        int fsck_status, fsck_signal, status;
        std::string err, checked, look, seen;
    } cases[] = {
        // clang-format off
        {"", {}, "/", good, 0, 0, 1,
         "Expecting at least one argument.\nUsage: volaudit  <filesystem>  [ <output-file> ]\n", "", "", ""},
        {"mkdir " + mnt + "/sub", {mnt + "/sub", out}, "/", good, 0, 0, 0,
         said(mnt + "/sub", out, mnt), fsck_raw, "cat " + out, good},
        {"", {mnt, out, "extra", "more"}, "/", good, 0, 0, 0, said(mnt, out, mnt), fsck_raw, "", ""},
        {"mkdir " + D + "/cwd", {mnt}, D + "/cwd", good, 0, 0, 0,
         said(mnt, "fsck.out", mnt), fsck_raw, "cat " + D + "/cwd/fsck.out", good},
        {"", {mnt, out}, "/", sb, 36, 0, 0, said(mnt, out, mnt), fsck_raw, "", ""},
        {"", {mnt, out}, "/", bad, 0, 0, 1, said(mnt, out, mnt) + "fsck -n " + raw + " (" + mnt +
         ")\n  Expected:\n    [** " + raw + " (NO WRITE)]\n  Got:\n    [** " + raw + " (NO WRITE) ]\n",
         fsck_raw, "", ""},
        {"", {mnt, out}, "/", good, 32, 0, 1, said(mnt, out, mnt), fsck_raw, "", ""},
        {"", {mnt, out}, "/", good, 0, SIGKILL, 1, said(mnt, out, mnt), fsck_raw, "", ""},
        {"", {mnt, out}, "/", bad, 0, SIGTERM, 1, said(mnt, out, mnt), fsck_raw, "", ""},
        // The output file is emptied before the checker runs.
        {"echo stale >" + out, {mnt, out}, "/", "", 0, 0, 0, said(mnt, out, mnt), fsck_raw, "cat " + out, ""},
        // A device outside /dev/dsk/ is checked under its own name.
        {"mkdir " + md + " && mount -t tmpfs -o size=4m /dev/md/dsk/d10 " + md, {md, out}, "/",
         healthy_report("/dev/md/dsk/d10", md), 0, 0, 0,
         said(md, out, md, "/dev/md/dsk/d10", "/dev/md/dsk/d10", "4096"),
         "/usr/sbin/fsck -n /dev/md/dsk/d10 ", "", ""},
        {"", {mnt + "/does/not/exist", out}, "/", good, 0, 0, 1, "", "", "test -e " + out + " || echo none", "none\n"},
        {"", {mnt, D + "/no/such/dir/out"}, "/", good, 0, 0, 1, said(mnt, D + "/no/such/dir/out", mnt), "", "", ""},
        // An output file that is not a regular file is refused: a link is not
        // followed, a device or a FIFO would be read without end or block.
        {"echo keep >" + D + "/victim && ln -s " + D + "/victim " + out, {mnt, out}, "/", good, 0, 0, 1,
         "!ERROR: volaudit: " + out + " is not a regular file.\n", "", "cat " + D + "/victim", "keep\n"},
        {"mkfifo " + out, {mnt, out}, "/", good, 0, 0, 1, "!ERROR: volaudit: " + out + " is not a regular file.\n",
         "", "", ""},
        {"", {mnt, "/dev/zero"}, "/", good, 0, 0, 1, "!ERROR: volaudit: /dev/zero is not a regular file.\n", "",
         "", ""},
        // clang-format on
    };
    FakeFsck fsck;
    ASSERT_TRUE(fsck.install(ns, dir / "checker"));
    for (auto &c : cases) {
        std::string what = c.args.empty() ? "no arguments" : c.before + " " + c.args[0];
        unlink(out.c_str());
        fsck.forget();
        fsck.set(c.report, c.fsck_status, c.fsck_signal);
        ASSERT_EQ(shell(c.before), 0) << what;
        RunResult r = volaudit(c.args, c.cwd);
        EXPECT_TRUE(r.exited) << what;
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.err, c.err) << what;
        EXPECT_EQ(r.out, "") << what;
        std::string args, seen;
        for (auto &a : fsck.args()) args += a + " ";
        EXPECT_EQ(args, c.checked) << what;
        shell(c.look, &seen);
        EXPECT_EQ(seen, c.seen) << what;
    }
}

// What a Linux user sees: the system's checker reports in its own words, so
// the first line already differs from the rules.
TEST_F(Volaudit, RealCheckerOnExt4)
{
    std::string ext = dir / "ext4", dev = ns.ext4(dir / "image", ext, 32);
    ASSERT_FALSE(dev.empty());
    RunResult r = volaudit({ext, out});
    EXPECT_EQ(r.status, 1);
    std::string first = split_lines(read_file(out))[0];
    EXPECT_EQ(first.rfind("fsck from util-linux", 0), 0u) << read_file(out);
    EXPECT_EQ(match_output(r.err, split_lines(said(ext, out, ext, dev, dev, "<N>") + "fsck -n " +
                                              dev + " (" + ext + ")\n  Expected:\n    [** " + dev +
                                              " (NO WRITE)]\n  Got:\n    [" + first + "]\n")),
              "");
}

} // namespace
