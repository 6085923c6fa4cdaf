// diskhammer run as a program against real file systems and loop devices in
// a private mount namespace: whole outputs against the transcripts in
// transcripts/, exit statuses, what is left on disk, and the mends for
// unsafe or misreported cases.
#include "platform/mounts.h"
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

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

std::string T(const std::string &name)
{
    return "tests/diskhammer/transcripts/" + name + ".txt";
}

std::string uname_a()
{
    std::string out;
    shell("uname -a", &out);
    return out.substr(0, out.find('\n'));
}

bool has_testdir(const std::string &mnt)
{
    DIR *d = opendir(mnt.c_str());
    if (!d) return false;
    bool found = false;
    while (struct dirent *de = readdir(d)) found = found || !strncmp(de->d_name, "fs_testdir.", 11);
    closedir(d);
    return found;
}

// Makes every mount present now read-only in this namespace, so that only
// file systems mounted afterwards can be chosen without -D. A mount hidden
// under a newer one on the same point is reached by taking the newer away.
bool hide_host_mounts()
{
    std::vector<mount_entry> table;
    FILE *f = mnt_open();
    for (mount_entry e; f && mnt_next(f, &e);) table.push_back(e);
    mnt_close(f);
    std::set<std::string> seen;
    bool all = true;
    for (auto it = table.rbegin(); it != table.rend(); ++it) {
        const char *p = it->mnt_mountp.c_str();
        if (!seen.insert(p).second) umount2(p, MNT_DETACH);
        all = mount(nullptr, p, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0 && all;
    }
    return all;
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
    // ext4 on a loop device over image, mounted on dir with options of
    // which none is the whole word "ro"; the device, or "" on failure.
    std::string ext4(const std::string &dir, const std::string &image)
    {
        std::string dev = ns.loop(image, 32);
        make_dirs(dir);
        bool ok = !dev.empty() && shell("mkfs.ext4 -q -F " + dev) == 0 &&
                  mount(dev.c_str(), dir.c_str(), "ext4", 0, "errors=remount-ro,commit=30") == 0;
        return ok ? dev : "";
    }
    // The directories are made first: the scratch directory is read-only
    // afterwards.
    void hide(const Args &dirs)
    {
        for (auto &d : dirs) make_dirs(t / d);
        ASSERT_TRUE(hide_host_mounts()) << "could not make the host's mounts read-only";
    }
};

} // namespace

// ---- Engines, passes and notices on one ext4 file system named with -D ----

TEST_F(Dh, WholeOutputsOfEveryEngineAndOption)
{
    std::string mnt = t / "mnt", dev = ext4(mnt, t / "img");
    ASSERT_FALSE(dev.empty());
    ASSERT_TRUE(contains(read_file("/proc/self/mounts"), "errors=remount-ro,commit=30"));
    const Values v = {{"<MNT>", mnt}, {"<DEV>", dev}, {"<UNAME>", uname_a()}};
    const std::pair<const char *, Args> cases[] = {
        {"locked", {"-L", "-n", "1"}},
        {"async_regular", {"-A", "-R", "-n", "1"}},
        {"all", {}}, // every engine, two passes
        {"mmap_nocompare", {"-m", "-N", "-n", "1"}},
        {"three_passes", {"-R", "-n", "3x"}},
        {"silent", {"-s"}},
        {"silent_mmap", {"-s", "-m", "-n", "1"}},
    };
    for (auto &[name, args] : cases) {
        RunResult r = dh(tiny + args + Args{"-D", dev});
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(match_transcript(r.out, T(name), v), "") << r.out << r.err;
        EXPECT_FALSE(has_testdir(mnt)) << name;
    }
}

TEST_F(Dh, RandomSizesInRangeAndTheSameForEveryEngine)
{
    std::string dev = ext4(t / "mnt", t / "img");
    RunResult r = dh({"-r", "-n", "1", "-f", "512:256k", "-t", "512:8k", "-D", dev});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::regex write_line(
        "\tWrite (Reg  |Lock |Async) I/O: File Size (\\d+): Transfer (\\d+): "
        "Incr \\d+");
    std::map<std::string, std::vector<std::string>> sizes;
    std::smatch m;
    for (auto &line : split_lines(r.out)) {
        if (!std::regex_match(line, m, write_line)) continue;
        long long size = stoll(m[2]), transfer = stoll(m[3]);
        EXPECT_TRUE(size >= 512 && size <= 262144 && transfer >= 512 && transfer <= 8192) << line;
        sizes[m[1]].push_back(m[2].str() + ":" + m[3].str());
    }
    ASSERT_EQ(sizes.size(), 3u) << r.out;
    EXPECT_EQ(sizes["Reg  "], sizes["Lock "]);
    EXPECT_EQ(sizes["Reg  "], sizes["Async"]);
}

// ---- Targets chosen from the mount table (the host's mounts hidden) ----

TEST_F(Dh, TargetsFromTheMountTable)
{
    hide({"first", "second", "ro", "small", "store", "mnt", "h/sub"});
    const Values v = {{"<DIR>", t.path}};
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
    EXPECT_EQ(match_transcript(run({}).out, T("select_all"), v), "");
    EXPECT_EQ(match_transcript(run({"-F", "tmpfs", "-1"}).out, T("select_tmpfs_one"), v), "");

    // h/sub is hidden under the later mount on h: the table lists it, but it
    // cannot be measured (ENOENT). With -D only the named device is measured.
    ASSERT_TRUE(ns.tmpfs(t / "store", "dh_store", "size=40m"));
    std::string dev = ext4(t / "mnt", t / "store/img");
    ASSERT_FALSE(dev.empty());
    ASSERT_TRUE(ns.tmpfs(t / "h/sub", "dh_hidden", "size=4m"));
    ASSERT_TRUE(ns.tmpfs(t / "h", "dh_over", "size=4m"));
    r = run({"-D", dev});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(match_transcript(r.out, T("select_device"), v), "") << r.out;
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
    EXPECT_EQ(match_transcript(r.out, T("shrunk"), {{"<DIR>", t.path}, {"<UNAME>", uname_a()}}), "")
        << r.out;
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
        EXPECT_FALSE(has_testdir(mnt)) << name;
        EXPECT_TRUE(file_exists(mnt + "/lost+found")) << name;
    }
    EXPECT_EQ(read_file(t / "a/keep"), "kept");
    EXPECT_EQ(read_file(t / "b/keep"), "kept");
}

// ---- Raw-disk mode on loop devices ----

TEST_F(Dh, RawSliceIsWrittenBackUnchanged)
{
    // The first 4096 bytes are random and never 0, the rest are holes, so
    // the pre-read counts are known; -m on 4096-byte blocks rounds every
    // size and transfer up to a whole block.
    for (auto [sector, args, name] :
         {std::tuple{512, Args{"-N"}, "raw"}, std::tuple{4096, Args{"-m"}, "raw_4096_mmap"}}) {
        std::string image = t / ("img" + std::to_string(sector));
        std::string dev = ns.loop(image, 8, sector);
        ASSERT_FALSE(dev.empty());
        std::mt19937 rng(sector);
        std::string data(4096, 'x');
        for (char &c : data) c = (char)(1 + rng() % 255);
        int fd = open(image.c_str(), O_WRONLY);
        ASSERT_EQ(pwrite(fd, data.data(), data.size(), 0), 4096);
        close(fd);
        std::string before = read_file(image);
        RunResult r = dh(tiny + args + Args{"-n", "1", "-d", "-D", dev});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(match_transcript(r.out, T(name), {{"<DEV>", dev}, {"<UNAME>", uname_a()}}), "")
            << r.out;
        EXPECT_TRUE(read_file(image) == before) << name;
    }
}

TEST_F(Dh, SliceInUseIsRefused)
{
    std::string dev = ns.loop(t / "img", 16), link = t / "thedisk", mnt = t / "mnt";
    ASSERT_FALSE(dev.empty());
    const std::string refused =
        "!ERROR: Raw test should be performed on the umount slice. The data "
        "on that slice will be damaged. Do not store critical data on ";
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
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(line_matches(r.out, refused + mnt + " and umount it.<*>\n"))
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
class DhHeld : public Dh
{
  protected:
    std::string mnt, dir, file;
    pid_t pid = -1;
    int out = -1;

    void SetUp() override
    {
        Dh::SetUp();
        if (IsSkipped()) return;
        hide({"mnt"});
        mnt = t / "mnt";
        ASSERT_TRUE(ns.tmpfs(mnt, "dh_held", "size=2m"));
    }
    void TearDown() override
    {
        if (pid > 0) kill(-pid, SIGKILL), wait_for(pid, 10);
        if (out >= 0) close(out);
    }
    void start(const Args &args)
    {
        if (out >= 0) close(out);
        out = memfd_create("held", 0);
        std::string to = "/proc/self/fd/" + std::to_string(out);
        pid = spawn(Args{bin_path("diskhammer")} + tiny + args, "", to, to, [] {
            setpgid(0, 0);
            raise(SIGSTOP);
        });
        dir = mnt + "/fs_testdir." + std::to_string(pid);
        file = dir + "/test_file";
    }
    void release()
    {
        waitpid(pid, nullptr, WUNTRACED);
        kill(pid, SIGCONT);
    }
    std::string output() { return read_file("/proc/self/fd/" + std::to_string(out)); }
    // The run's child (waits up to 10 s for one), or -1.
    pid_t child()
    {
        std::vector<pid_t> v;
        poll_until(10, [&] { return !(v = children_of(pid)).empty(); });
        return v.empty() ? -1 : v[0];
    }
};

TEST_F(DhHeld, EndingsAndThingsPlantedInItsWay)
{
    // With "lock", the locked pass waits on this process's lock of the test
    // file while the file system fills (sig 0), or the pass's child or the
    // whole run gets the signal. Otherwise something is planted in the test
    // directory's place (<D>) or the test file's (<F>) first.
    make_tree(mnt, {{"victim", "precious"}, {"other/test_file", "precious"}});
    const char *file_link = "mkdir <D> && ln -s <M>/victim <F>", *dir_link = "ln -s <M>/other <D>",
               *foreign = "mkdir <D> && echo theirs > <F> && chown -R 65534 <D>";
    const std::string full = "\tWrite Lock  I/O: File Size 512: Transfer 512: Incr 1024\n\n"
                             "!ERROR: No space left on device\n",
                      notice = "!! Stress Test Interrupted at \\w+ \\w+ +\\d+ "
                               "\\d\\d:\\d\\d:\\d\\d \\d+\n!!\n",
                      loop = "!ERROR: <F>Too many levels of symbolic links\n",
                      exists = "\n<D>File exists\n";
    const struct {
        const char *plant;
        Args engines;
        int sig;
        char to;             // the signal goes to the child, the parent or the group
        int exit, killed_by; // the run's own ending
        std::string output;  // a regular expression
        bool dir_left;
    } cases[] = {
        {"lock", {"-L"}, 0, 'c', 1, 0, full, false},
        // The child's designed exit 0 lets the parent go on and finish.
        {"lock", {"-L"}, SIGINT, 'c', 0, 0, notice, false},
        // The regular engine runs first; the locked one is killed.
        {"lock", {"-L", "-R"}, SIGKILL, 'c', 1, 0, "", false},
        // The parent, however it is stopped, interrupts the child, which
        // cleans up, and ends with 1 leaving nothing behind.
        {"lock", {"-L"}, SIGINT, 'g', 1, 0, notice, false},
        {"lock", {"-L"}, SIGINT, 'p', 1, 0, notice, false},
        {"lock", {"-L"}, SIGTERM, 'p', 1, 0, notice, false},
        {"lock", {"-L"}, SIGHUP, 'p', 1, 0, notice, false},
        {"lock", {"-L"}, SIGPIPE, 'p', 1, 0, notice, false},
        {file_link, {"-R"}, 0, 'c', 1, 0, loop, false},
        {dir_link, {"-R"}, 0, 'c', 0, 0, exists, true},
        {foreign, {"-R"}, 0, 'c', 0, 0, exists, true},
    };
    for (auto &c : cases) {
        start(c.engines + Args{"-n", "1"});
        const Values v = {{"<D>", dir}, {"<F>", file}, {"<M>", mnt}};
        bool lock = !strcmp(c.plant, "lock");
        int fd = -1;
        if (lock) {
            make_dirs(dir);
            fd = open(file.c_str(), O_RDWR | O_CREAT, 0666);
            struct flock whole = {};
            whole.l_type = F_WRLCK;
            ASSERT_EQ(fcntl(fd, F_SETLK, &whole), 0);
        } else {
            ASSERT_EQ(shell(fill(c.plant, v)), 0) << c.plant;
        }
        release();
        if (lock) {
            ASSERT_TRUE(wait_lock_waiter(file)) << output();
            if (c.sig) {
                pid_t to = c.to == 'g' ? -pid : c.to == 'p' ? pid : child();
                ASSERT_NE(to, -1) << output();
                kill(to, c.sig);
            } else {
                // The lock goes once the file system is full.
                shell("head -c 4m /dev/zero > " + mnt + "/fill 2>/dev/null");
                close(fd);
            }
        }
        // A signalled child stays held at the lock until the run has ended:
        // let go earlier, it could finish its pass before the signal came.
        int status = wait_for(pid, 60, SIGKILL);
        if (lock && c.sig) close(fd);
        pid = -1;
        std::string why = std::string(c.plant) + " " + std::to_string(c.sig);
        EXPECT_EQ(status, c.killed_by ? 128 + c.killed_by : c.exit) << why;
        EXPECT_TRUE(poll_until(10, [&] { return file_exists(dir) == c.dir_left; })) << why;
        std::string out = output();
        EXPECT_TRUE(std::regex_search(out, std::regex(fill(c.output, v)))) << why << ": " << out;
        EXPECT_EQ(contains(out, "Test Execution Completed"), !c.exit && !c.killed_by) << why;
        unlink((mnt + "/fill").c_str());
    }
    EXPECT_EQ(read_file(mnt + "/victim"), "precious");
    EXPECT_EQ(read_file(mnt + "/other/test_file"), "precious");
    EXPECT_EQ(read_file(file), "theirs\n"); // the foreign directory's
}

// ---- Options and their messages (no file system is touched) ----

TEST(DhOptions, MessagesAndStatus)
{
    auto runs = runs_in(T("options"));
    ASSERT_EQ(runs.size(), 29u);
    for (auto &run : runs) {
        RunResult r = dh({run.argv.begin() + 1, run.argv.end()});
        EXPECT_TRUE(r.exited && r.status == run.status && r.out == run.out) << run.line;
    }
}
