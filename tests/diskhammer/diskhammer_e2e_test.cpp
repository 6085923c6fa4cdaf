// diskhammer run as a program against real file systems and loop devices in
// a private mount namespace: whole outputs against the transcripts in
// transcripts/, exit statuses, what is left on disk, and the mends for
// unsafe or misreported cases.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>

namespace
{

using Args = std::vector<std::string>;

Args operator+(Args a, const Args &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Three cycles: 512 bytes in 512s, 2560 in 1024s (the last chunk short),
// 6656 in 512s (the doubled transfer was above the maximum).
const Args tiny = {"-f", "512:8k", "-t", "512:1k"};

RunResult dh(const Args &args, const RunOptions &o = {})
{
    return run_program(bin_path("diskhammer"), args, o);
}

// The transcripts of the cases.
const std::string T = "tests/diskhammer/transcripts/";

bool has_testdir(const std::string &mnt)
{
    for (auto &e : std::filesystem::directory_iterator(mnt))
        if (e.path().filename().string().rfind("fs_testdir.", 0) == 0) return true;
    return false;
}

// One private mount namespace and scratch directory per test; what is
// mounted in it goes with it.
class Dh : public ::testing::Test
{
  protected:
    TempDir t{"dh"};
    MountNs ns;

    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
    }
    // ext4 with options of which none is the whole word "ro"; its device.
    std::string ext4(const std::string &dir, const std::string &image)
    {
        return ns.ext4(image, dir, 32, "errors=remount-ro,commit=30");
    }
    // Empty when out matches the transcript name, with v, the scratch
    // directory as <DIR> and this machine's "uname -a" as <UNAME> filled in.
    std::string against(const std::string &out, const std::string &name, Values v = {})
    {
        std::string uname;
        shell("uname -a", &uname);
        v.insert(v.end(), {{"<DIR>", t.path}, {"<UNAME>", uname.substr(0, uname.find('\n'))}});
        std::string why = match_transcript(out, T + name + ".txt", v);
        return why.empty() ? "" : why + "\n--- in:\n" + out;
    }
    // Only file systems mounted afterwards can be chosen without -D. The
    // directories are made first: the scratch directory is read-only then.
    void hide(const Args &dirs)
    {
        for (auto &d : dirs) make_dirs(t / d);
        ASSERT_TRUE(ns.hide_host_mounts()) << "could not make the host's mounts read-only";
    }
};

} // namespace

// ---- Engines, passes and notices on one ext4 file system named with -D ----

TEST_F(Dh, WholeOutputsOfEveryEngineAndOption)
{
    std::string mnt = t / "mnt", dev = ext4(mnt, t / "img");
    ASSERT_FALSE(dev.empty());
    ASSERT_TRUE(contains(read_file("/proc/self/mounts"), "errors=remount-ro,commit=30"));
    for (auto &c : runs_in(T + "engines.txt")) {
        RunResult r = dh(tiny + Args(c.argv.begin() + 1, c.argv.end()) + Args{"-D", dev});
        EXPECT_EQ(r.status, c.status) << c.line;
        EXPECT_EQ(against(r.out, c.argv[0], {{"<MNT>", mnt}, {"<DEV>", dev}}), "") << r.err;
        EXPECT_FALSE(has_testdir(mnt)) << c.line;
    }
}

TEST_F(Dh, RandomSizesInRangeAndTheSameForEveryEngine)
{
    std::string dev = ext4(t / "mnt", t / "img");
    RunResult r = dh({"-r", "-n", "1", "-f", "512:256k", "-t", "512:8k", "-D", dev});
    ASSERT_EQ(r.status, 0) << r.out;
    std::map<std::string, std::string> sizes; // by engine: each write line's sizes
    for (auto &line : split_lines(r.out)) {
        long long size, tr;
        if (sscanf(line.c_str(), "\tWrite %*[^:]: File Size %lld: Transfer %lld", &size, &tr) < 2)
            continue;
        EXPECT_TRUE(size >= 512 && size <= 262144 && tr >= 512 && tr <= 8192) << line;
        sizes[line.substr(0, 16)] += line.substr(16) + "\n";
    }
    ASSERT_EQ(sizes.size(), 3u) << r.out;
    for (auto &[engine, seq] : sizes) EXPECT_EQ(seq, sizes.begin()->second) << engine;
}

// ---- Targets chosen from the mount table (the host's mounts hidden) ----

TEST_F(Dh, TargetsFromTheMountTable)
{
    hide({"first", "second", "ro", "small", "store", "mnt", "h/sub"});
    auto run = [](const Args &a) { return dh(Args{"-f", "512:64k", "-R", "-n", "1", "-s"} + a); };
    RunResult r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "!Error: No devices are available for test.\n");

    // Read-only and too small are left out; the list is in reverse table
    // order; -F tmpfs -1 takes the first in table order.
    ASSERT_TRUE(ns.tmpfs(t / "first", "dh_first", "size=2m"));
    ASSERT_TRUE(ns.tmpfs(t / "second", "dh_second", "size=2m"));
    ASSERT_TRUE(ns.tmpfs(t / "ro", "dh_ro", "size=2m"));
    ASSERT_EQ(mount(nullptr, (t / "ro").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=2m"), 0);
    ASSERT_TRUE(ns.tmpfs(t / "small", "dh_small", "size=32k"));
    EXPECT_EQ(against(run({}).out, "select_all"), "");
    EXPECT_EQ(against(run({"-F", "tmpfs", "-1"}).out, "select_tmpfs_one"), "");

    // h/sub is hidden under the later mount on h: the table lists it, but it
    // cannot be measured (ENOENT). With -D only the named device is measured.
    ASSERT_TRUE(ns.tmpfs(t / "store", "dh_store", "size=40m"));
    std::string dev = ext4(t / "mnt", t / "store/img");
    ASSERT_FALSE(dev.empty());
    ASSERT_TRUE(ns.tmpfs(t / "h/sub", "dh_hidden", "size=4m"));
    ASSERT_TRUE(ns.tmpfs(t / "h", "dh_over", "size=4m"));
    r = run({"-D", dev});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(against(r.out, "select_device"), "");
    r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n!ERROR: statfsNo such file or directory\n");
}

TEST_F(Dh, ShrunkAfterSelectionIsSkippedOnceAndLeftOutOfTheReport)
{
    // The banner's "uname -a" runs after selection: a stand-in fills the
    // second file system then, so its set-up finds it too small.
    hide({"big", "shrinks", "bin"});
    ASSERT_TRUE(ns.tmpfs(t / "big", "dh_big", "size=2m"));
    ASSERT_TRUE(ns.tmpfs(t / "shrinks", "dh_shrinks", "size=2m"));
    ASSERT_TRUE(ns.tmpfs(t / "bin", "dh_bin", "size=1m,mode=755"));
    write_file(t / "bin/uname",
               "#!/bin/sh\nhead -c 2m /dev/zero > '" + t / "shrinks/fill" +
                   "' 2>/dev/null\nexec /bin/uname \"$@\"\n",
               0755);
    ASSERT_EQ(mount(nullptr, (t / "bin").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    RunOptions o;
    o.env = {"PATH=" + t / "bin" + ":/usr/bin:/bin"};
    RunResult r = dh(tiny + Args{"-R", "-n", "2"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(against(r.out, "shrunk"), "");
}

TEST_F(Dh, MountPointWithBlankOrShellCharactersLosesOnlyItsTestDirectory)
{
    // The second is over 1024 bytes: its removal command is not cut short.
    std::string part(250, 'm'), cut = "/" + part + "/" + part + "/" + part + "/" + part;
    make_tree(t.path, {{"a/keep", "kept"}, {"b/keep", "kept"}});
    int i = 0;
    for (std::string name : {std::string("a b"), "it's $(x); a" + cut}) {
        std::string mnt = t / name, dev = ext4(mnt, t / ("img" + std::to_string(i++)));
        RunOptions o;
        o.cwd = t.path;
        RunResult r = dh(tiny + Args{"-R", "-n", "1", "-s", "-D", dev}, o);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(contains(r.out, "File System: " + mnt + " : Avail ")) << r.out;
        EXPECT_TRUE(!has_testdir(mnt) && file_exists(mnt + "/lost+found")) << name;
    }
    EXPECT_EQ(read_file(t / "a/keep") + read_file(t / "b/keep"), "keptkept");
}

// ---- Raw-disk mode on loop devices ----

TEST_F(Dh, RawSliceIsWrittenBackUnchanged)
{
    // The first 4096 bytes are random and never 0, the rest are holes, so
    // the pre-read counts are known; -m on 4096-byte blocks rounds every
    // size and transfer up to a whole block.
    for (auto [sector, opt, name] :
         {std::tuple{512, "-N", "raw"}, std::tuple{4096, "-m", "raw_4096_mmap"}}) {
        std::string image = t / name, dev = ns.loop(image, 8, sector);
        ASSERT_FALSE(dev.empty());
        ASSERT_EQ(shell("head -c 4096 /dev/urandom | tr '\\000' x | dd of=" + image +
                        " conv=notrunc status=none"),
                  0);
        std::string before = read_file(image);
        RunResult r = dh(tiny + Args{opt, "-n", "1", "-d", "-D", dev});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(against(r.out, name, {{"<DEV>", dev}}), "");
        EXPECT_TRUE(read_file(image) == before) << name;
    }
}

TEST_F(Dh, SliceInUseIsRefused)
{
    std::string dev = ns.loop(t / "img", 16), link = t / "thedisk", mnt = t / "mnt";
    ASSERT_FALSE(dev.empty());
    const std::string refused =
        "!ERROR: Raw test should be performed on the umount slice. The "
        "data on that slice will be damaged. Do not store critical data on ";
    int fd = open(dev.c_str(), O_RDONLY | O_EXCL); // held by another program
    RunResult r = dh(tiny + Args{"-d", "-D", dev});
    close(fd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, refused + dev + " and umount it.Device or resource busy\n");
    // Mounted by its own name or through a link, named either way.
    ASSERT_EQ(shell("mkfs.ext4 -q -F " + dev), 0);
    ASSERT_EQ(symlink(dev.c_str(), link.c_str()), 0);
    make_dirs(mnt);
    for (const std::string &source : {dev, link}) {
        ASSERT_EQ(mount(source.c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
        for (const std::string &named : {dev, link}) {
            r = dh(tiny + Args{"-d", "-D", named});
            EXPECT_TRUE(r.status == 1 &&
                        line_matches(r.out, refused + mnt + " and umount it.<*>\n"))
                << source << " " << named << ": " << r.out;
        }
        umount2(mnt.c_str(), MNT_DETACH);
    }
}

TEST_F(Dh, FailingWriteBackIsReportedNotCrashed)
{
    // The slice's backing store is full: its holes read, the first write-back fails.
    std::string store = t / "store";
    ASSERT_TRUE(ns.tmpfs(store, "dh_store", "size=1m"));
    std::string dev = ns.loop(store + "/img", 8);
    ASSERT_FALSE(dev.empty());
    shell("head -c 2m /dev/zero > " + store + "/fill 2>/dev/null");
    RunResult r = dh(tiny + Args{"-R", "-n", "1", "-s", "-d", "-D", dev});
    EXPECT_TRUE(r.exited && r.status == 1) << "signal " << r.signal;
    // The error's own text, not a short count.
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\n!ERROR: [^\n]+\n$"))) << r.out;
    EXPECT_FALSE(contains(r.out, "premature")) << r.out;
}

// ---- Runs held before they start: their test directory is known ----

// A run is held before exec until released, so that the test learns its
// process id first (and so its test directory) and can prepare the run's
// way. Its output goes to memory: the namespace has no writable file system.
using DhHeld = Dh;

TEST_F(DhHeld, EndingsAndThingsPlantedInItsWay)
{
    hide({"mnt"});
    std::string mnt = t / "mnt";
    ASSERT_TRUE(ns.tmpfs(mnt, "dh_held", "size=2m"));
    make_tree(mnt, {{"victim", "precious"}, {"other/test_file", "precious"}});
    const std::map<std::string, std::string> plants = {
        {"file_link", "mkdir <D> && ln -s <M>/victim <F>"},
        {"dir_link", "ln -s <M>/other <D>"},
        {"foreign", "mkdir <D> && echo theirs > <F> && chown -R 65534 <D>"}};
    std::string dir, file;
    for (auto &c : runs_in(T + "endings.txt")) {
        int out = memfd_create("held", 0);
        std::string to = "/proc/self/fd/" + std::to_string(out);
        pid_t pid =
            spawn(Args{bin_path("diskhammer")} + tiny + Args(c.argv.begin() + 1, c.argv.end()), "",
                  to, to, [] { setpgid(0, 0), raise(SIGSTOP); });
        dir = mnt + "/fs_testdir." + std::to_string(pid), file = dir + "/test_file";
        const Values v = {{"<D>", dir}, {"<F>", file}, {"<M>", mnt}};
        bool lock = value_of(c.env, "PLANT") == "lock";
        int fd = lock ? hold_lock(file) : -1;
        EXPECT_TRUE(lock ? fd >= 0 : shell(fill(plants.at(value_of(c.env, "PLANT")), v)) == 0)
            << c.line;
        waitpid(pid, nullptr, WUNTRACED);
        kill(pid, SIGCONT);
        EXPECT_TRUE(!lock || wait_lock_waiter(file)) << c.line << read_file(to);
        if (lock && !value_of(c.env, "SIG").empty()) {
            std::vector<pid_t> kids;
            poll_until(10, [&] { return !(kids = children_of(pid)).empty(); });
            pid_t dest = value_of(c.env, "TO") == "group"    ? -pid
                         : value_of(c.env, "TO") == "parent" ? pid
                                                             : kids.at(0);
            kill(dest, signal_named(value_of(c.env, "SIG")));
        } else if (lock) {
            // The lock goes once the file system is full.
            shell("head -c 4m /dev/zero > " + mnt + "/fill 2>/dev/null");
            close(fd), fd = -1;
        }
        // A signalled child stays held at the lock until the run has ended:
        // let go earlier, it could finish its pass before the signal came.
        int status = wait_for(pid, 60, SIGKILL);
        close(fd);
        std::string output = read_file(to);
        close(out);
        EXPECT_EQ(status, c.status) << c.line;
        EXPECT_TRUE(poll_until(10, [&] {
            return file_exists(dir) == !value_of(c.env, "LEFT").empty();
        })) << c.line;
        EXPECT_TRUE(std::regex_search(output, std::regex(fill(c.out, v)))) << c.line << output;
        EXPECT_EQ(contains(output, "Test Execution Completed"), c.status == 0) << c.line;
        unlink((mnt + "/fill").c_str());
    }
    EXPECT_EQ(read_file(mnt + "/victim") + read_file(mnt + "/other/test_file"), "preciousprecious");
    EXPECT_EQ(read_file(file), "theirs\n"); // the foreign directory's
}

// ---- Options and their messages (no file system is touched) ----

TEST(DhOptions, MessagesAndStatus)
{
    auto runs = runs_in(T + "options.txt");
    ASSERT_EQ(runs.size(), 29u);
    for (auto &run : runs) expect_run(run);
}
