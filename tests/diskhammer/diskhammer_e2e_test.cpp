// diskhammer run as a program against real file systems and loop devices in
// a private mount namespace: whole outputs, exit statuses, what is left on
// disk, and the mends for unsafe or misreported cases.
#include "tests/diskhammer/dh_support.h"
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const char *const write_labels[] = {
    "\tWrite Reg   I/O:", "\tWrite Lock  I/O:", "\tWrite Async I/O:"};
const char *const read_labels[] = {"\tRead  Reg   I/O: File Size ", "\tRead  Lock  I/O: File Size ",
                                   "\tRead  Async I/O: File Size "};
const char *const engine_names[] = {"Regular I/O", "Record Locked I/O", "Async I/O"};
enum { REG = 1, LOCK = 2, ASYNC = 4, ALL = 7 };

struct Cycle {
    long long size, transfer, incr;
};
// -f 512:64k -t 512:4k: the size grows by a doubling increment, the transfer
// doubles and starts again at the minimum once above the maximum.
const std::vector<Cycle> small_cycles = {{512, 512, 1024},    {2560, 1024, 2048},
                                         {6656, 2048, 4096},  {14848, 4096, 8192},
                                         {31232, 512, 16384}, {64000, 1024, 32768}};
// The same on a slice with 4096-byte logical blocks: every size and transfer
// is a whole block.
const std::vector<Cycle> block4k_cycles = {{4096, 4096, 1024},
                                           {8192, 4096, 4096},
                                           {16384, 4096, 8192},
                                           {32768, 4096, 16384},
                                           {65536, 4096, 32768}};
const std::vector<std::string> small_args = {"-f", "512:64k", "-t", "512:4k"};

struct Target {
    std::string type, dev, mnt;
};

struct Expect {
    std::vector<Target> targets;
    int engines = ALL;
    int passes = 2;
    bool mmap = false;
    bool raw = false;
    bool silent = false;
    std::string preread; // raw: the pre-read line
    std::vector<Cycle> cycles = small_cycles;
};

void add_times(std::vector<std::string> &v)
{
    v.push_back("Elapsed Time : <T> secs");
    v.push_back("User    Time : <T> secs");
    v.push_back("System  Time : <T> secs");
}

std::vector<std::string> expected(const Expect &e)
{
    std::vector<std::string> v;
    std::string io = e.raw ? "Raw Disk" : "File System";
    if (!e.silent) {
        v.push_back("\t\t\t" + io + " Stress Test");
        v.push_back("");
        v.push_back("\t\t\tArchitecture : " + uname_a());
        v.push_back("\t\t\t" + io + "s Under Test");
        v.push_back(e.raw ? "device" : "fstype\tdevice\t\tmount");
        for (auto &t : e.targets) v.push_back(e.raw ? t.dev : t.type + "\t" + t.dev + "\t" + t.mnt);
    }
    if (e.mmap) v.insert(v.end(), {"", "Files Written/Read will be Memory Mapped as Well"});
    if (e.raw) v.insert(v.end(), {"", "Raw Disk will be pre-Read First, and then Written Back"});
    v.push_back("Diskhammer starts at <*>");
    for (int pass = 1; pass <= e.passes; pass++) {
        if (!e.silent) {
            v.push_back("");
            v.push_back("Starting Test Pass " + std::to_string(pass) + " of " +
                        std::to_string(e.passes));
        }
        for (auto &t : e.targets) {
            if (e.raw)
                v.push_back("Raw device " + t.dev + " : Avail <N> nbytes.");
            else
                v.push_back("File System: " + t.mnt + " : Avail <N> nbytes");
            if (e.mmap && !e.silent) v.insert(v.end(), {"", "\tFile is Memory Mapped"});
            v.push_back("");
            if (e.raw && !e.silent) v.push_back(e.preread);
            if (e.silent) continue;
            for (int eng = 0; eng < 3; eng++) {
                if (!(e.engines & (1 << eng))) continue;
                for (auto &c : e.cycles) {
                    v.push_back(std::string(write_labels[eng]) + " File Size " +
                                std::to_string(c.size) + ": Transfer " +
                                std::to_string(c.transfer) + ": Incr " + std::to_string(c.incr));
                    v.push_back(read_labels[eng] + std::to_string(c.size));
                }
                v.insert(v.end(), {"", "\t\t\t\tTiming Info", ""});
                add_times(v);
                v.push_back("");
            }
        }
    }
    if (e.silent) return v;
    v.insert(v.end(), {"", "Test Execution Completed", "", "", "\t\t\t\tTiming Info", ""});
    for (auto &t : e.targets) {
        v.push_back("");
        v.push_back(e.raw ? "Raw Disk I/O test: " + t.dev : "File System: " + t.mnt);
        for (int eng = 0; eng < 3; eng++) {
            if (!(e.engines & (1 << eng))) continue;
            v.push_back(engine_names[eng]);
            add_times(v);
        }
    }
    v.insert(v.end(), {"", "Total"});
    add_times(v);
    return v;
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

RunResult dh(const std::vector<std::string> &args, const RunOptions &o = {})
{
    return run_program(bin_path("diskhammer"), args, o);
}

bool has_testdir(const std::string &mnt)
{
    DIR *d = opendir(mnt.c_str());
    if (!d) return false;
    bool found = false;
    while (struct dirent *de = readdir(d))
        if (strncmp(de->d_name, "fs_testdir.", 11) == 0) found = true;
    closedir(d);
    return found;
}

struct Ext4 {
    TempDir t{"dhe"};
    MountNs ns;
    std::string dev, mnt;
    explicit Ext4(const std::string &name = "mnt")
    {
        if (!ns.ok()) return;
        mnt = t / name;
        dev = ns.ext4(t / "img", mnt, 32);
    }
};

#define NEED(cond, why)                                                                            \
    if (!(cond)) GTEST_SKIP() << why

} // namespace

// ---- One real ext4 mount selected with -D ----

struct EngineCase {
    const char *name;
    std::vector<std::string> args;
    int engines, passes;
    bool mmap, silent;
};

class DiskhammerExt4 : public ::testing::TestWithParam<EngineCase>
{
};

TEST_P(DiskhammerExt4, WholeOutputAndNothingLeft)
{
    Ext4 fs;
    NEED(fs.ns.ok(), fs.ns.error);
    ASSERT_FALSE(fs.dev.empty());
    const EngineCase &c = GetParam();
    RunResult r = dh(with(with(small_args, {"-D", fs.dev}), c.args));
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.out;
    Expect e;
    e.targets = {{"ext4", fs.dev, fs.mnt}};
    e.engines = c.engines, e.passes = c.passes, e.mmap = c.mmap, e.silent = c.silent;
    EXPECT_EQ(match_output(r.out, expected(e)), "") << r.out << r.err;
    EXPECT_FALSE(has_testdir(fs.mnt));
}

INSTANTIATE_TEST_SUITE_P(
    Engines, DiskhammerExt4,
    ::testing::Values(EngineCase{"regular", {"-R", "-n", "1"}, REG, 1, false, false},
                      EngineCase{"locked", {"-L", "-n", "1"}, LOCK, 1, false, false},
                      EngineCase{"async", {"-A", "-n", "1"}, ASYNC, 1, false, false},
                      EngineCase{"all_three", {}, ALL, 2, false, false},
                      EngineCase{
                          "two_engines", {"-A", "-R", "-n", "1"}, REG | ASYNC, 1, false, false},
                      EngineCase{"mmap", {"-m", "-n", "1"}, ALL, 1, true, false},
                      EngineCase{"no_compare", {"-N", "-n", "1"}, ALL, 1, false, false},
                      EngineCase{"silent", {"-s"}, ALL, 2, false, true},
                      EngineCase{"silent_mmap", {"-s", "-m", "-n", "1"}, ALL, 1, true, true},
                      EngineCase{"three_passes", {"-R", "-n", "3x"}, REG, 3, false, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DiskhammerExt4Random, SameSizesForEveryEngineWithinTheRanges)
{
    Ext4 fs;
    NEED(fs.ns.ok(), fs.ns.error);
    RunResult r = dh({"-r", "-n", "1", "-f", "512:256k", "-t", "512:8k", "-D", fs.dev});
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> per_engine[3];
    for (auto &line : split_lines(r.out)) {
        for (int eng = 0; eng < 3; eng++) {
            if (line.rfind(write_labels[eng], 0) != 0) continue;
            long long size, transfer, incr;
            ASSERT_EQ(sscanf(line.c_str() + strlen(write_labels[eng]),
                             " File Size %lld: Transfer %lld: Incr %lld", &size, &transfer, &incr),
                      3)
                << line;
            EXPECT_GE(size, 512);
            EXPECT_LE(size, 262144);
            EXPECT_GE(transfer, 512);
            EXPECT_LE(transfer, 8192);
            per_engine[eng].push_back(line.substr(strlen(write_labels[eng])));
        }
    }
    EXPECT_FALSE(per_engine[0].empty());
    EXPECT_EQ(per_engine[0], per_engine[1]);
    EXPECT_EQ(per_engine[0], per_engine[2]);
    EXPECT_NE(r.out.find("\nTotal\n"), std::string::npos);
}

TEST(DiskhammerExt4Options, ErrorsRemountRoAmongOtherOptionsIsSelected)
{
    TempDir t("dheo");
    MountNs ns;
    NEED(ns.ok(), ns.error);
    std::string dev = ns.loop(t / "img", 32);
    ASSERT_FALSE(dev.empty());
    ASSERT_EQ(shell("mkfs.ext4 -q -F " + dev), 0);
    std::string mnt = t / "mnt";
    make_dirs(mnt);
    ASSERT_EQ(mount(dev.c_str(), mnt.c_str(), "ext4", 0, "errors=remount-ro,commit=30"), 0);
    std::string table = read_file("/proc/self/mounts");
    ASSERT_NE(table.find("errors=remount-ro,commit=30"), std::string::npos) << table;
    RunResult r = dh(with(small_args, {"-R", "-n", "1", "-s", "-D", dev}));
    umount2(mnt.c_str(), MNT_DETACH);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("File System: " + mnt + " : Avail "), std::string::npos) << r.out;
}

// ---- Target selection from the mount table (host mounts hidden) ----

struct Hidden {
    TempDir t{"dhsel"};
    MountNs ns;
    std::string why;
    bool ok = false;
    explicit Hidden(const std::vector<std::string> &dirs)
    {
        if (!ns.ok()) {
            why = ns.error;
            return;
        }
        for (auto &d : dirs) make_dirs(t / d);
        ok = hide_host_mounts(&why);
    }
};

TEST(DiskhammerSelect, ReadOnlyAndTooSmallAreNotSelected)
{
    Hidden h({"rw", "ro", "small"});
    NEED(h.ok, h.why);
    ASSERT_TRUE(h.ns.tmpfs(h.t / "rw", "dh_rw", "size=4m"));
    ASSERT_TRUE(h.ns.tmpfs(h.t / "ro", "dh_ro", "size=4m"));
    ASSERT_EQ(mount(nullptr, (h.t / "ro").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=4m"), 0);
    ASSERT_TRUE(h.ns.tmpfs(h.t / "small", "dh_small", "size=32k"));
    RunResult r = dh(with(small_args, {"-R", "-n", "1"}));
    EXPECT_EQ(r.status, 0) << r.out;
    Expect e;
    e.targets = {{"tmpfs", "dh_rw", h.t / "rw"}};
    e.engines = REG, e.passes = 1;
    EXPECT_EQ(match_output(r.out, expected(e)), "") << r.out << r.err;
}

TEST(DiskhammerSelect, NothingSuitable)
{
    Hidden h({"ro"});
    NEED(h.ok, h.why);
    ASSERT_TRUE(h.ns.tmpfs(h.t / "ro", "dh_ro", "size=4m"));
    ASSERT_EQ(mount(nullptr, (h.t / "ro").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=4m"), 0);
    RunResult r = dh({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "!Error: No devices are available for test.\n");
}

TEST(DiskhammerSelect, WithDOnlyTheNamedDeviceIsMeasured)
{
    // h/sub is hidden under the later mount on h: the table lists it, but
    // statvfs cannot reach it (ENOENT).
    Hidden h({"store", "mnt", "h/sub"});
    NEED(h.ok, h.why);
    ASSERT_TRUE(h.ns.tmpfs(h.t / "store", "dh_store", "size=40m"));
    std::string dev = h.ns.ext4(h.t / "store/img", h.t / "mnt", 32);
    ASSERT_FALSE(dev.empty());
    ASSERT_TRUE(h.ns.tmpfs(h.t / "h/sub", "dh_hidden", "size=4m"));
    ASSERT_TRUE(h.ns.tmpfs(h.t / "h", "dh_over", "size=4m"));
    RunResult r = dh(with(small_args, {"-R", "-n", "1", "-s", "-D", dev}));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "File System: " + h.t / "mnt" + " : Avail ")) << r.out;
    // Without -D every entry is measured, and the hidden one ends the run.
    r = dh(with(small_args, {"-R", "-n", "1", "-s"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n!ERROR: statfsNo such file or directory\n");
}

TEST(DiskhammerSelect, ListIsInReverseTableOrder)
{
    Hidden h({"first", "second"});
    NEED(h.ok, h.why);
    ASSERT_TRUE(h.ns.tmpfs(h.t / "first", "dh_first", "size=2m"));
    ASSERT_TRUE(h.ns.tmpfs(h.t / "second", "dh_second", "size=2m"));
    RunResult r = dh(with(small_args, {"-R", "-n", "1"}));
    EXPECT_EQ(r.status, 0) << r.out;
    Expect e;
    e.targets = {{"tmpfs", "dh_second", h.t / "second"}, {"tmpfs", "dh_first", h.t / "first"}};
    e.engines = REG, e.passes = 1;
    EXPECT_EQ(match_output(r.out, expected(e)), "") << r.out << r.err;
    EXPECT_FALSE(has_testdir(h.t / "first"));
    EXPECT_FALSE(has_testdir(h.t / "second"));
}

TEST(DiskhammerSelect, TmpfsOneTakesTheFirstInTableOrder)
{
    Hidden h({"first", "second", "ext"});
    NEED(h.ok, h.why);
    ASSERT_TRUE(h.ns.tmpfs(h.t / "first", "dh_first", "size=2m"));
    ASSERT_TRUE(h.ns.tmpfs(h.t / "second", "dh_second", "size=2m"));
    RunResult r = dh(with(small_args, {"-F", "tmpfs", "-1", "-R", "-n", "1"}));
    EXPECT_EQ(r.status, 0) << r.out;
    Expect e;
    e.targets = {{"tmpfs", "dh_first", h.t / "first"}};
    e.engines = REG, e.passes = 1;
    EXPECT_EQ(match_output(r.out, expected(e)), "") << r.out << r.err;
    // Without -1 both are tested.
    r = dh(with(small_args, {"-F", "tmpfs", "-R", "-n", "1", "-s"}));
    EXPECT_NE(r.out.find("File System: " + h.t / "first" + " : Avail"), std::string::npos);
    EXPECT_NE(r.out.find("File System: " + h.t / "second" + " : Avail"), std::string::npos);
}

TEST(DiskhammerSelect, ShrunkAfterSelectionIsSkippedWithBothNotices)
{
    // The banner's "uname -a" runs after selection: a stand-in fills the
    // second file system then, so its set-up finds it too small.
    Hidden h({"big", "shrinks", "bin"});
    NEED(h.ok, h.why);
    ASSERT_TRUE(h.ns.tmpfs(h.t / "big", "dh_big", "size=2m"));
    ASSERT_TRUE(h.ns.tmpfs(h.t / "shrinks", "dh_shrinks", "size=2m"));
    ASSERT_TRUE(h.ns.tmpfs(h.t / "bin", "dh_bin", "size=1m,mode=755"));
    write_file(h.t / "bin/uname",
               "#!/bin/sh\nhead -c 2000k /dev/zero > '" + h.t / "shrinks/fill" +
                   "'\nexec /bin/uname \"$@\"\n",
               0755);
    ASSERT_EQ(mount(nullptr, (h.t / "bin").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    RunOptions o;
    o.env = {"PATH=" + h.t / "bin" + ":/usr/bin:/bin"};
    RunResult r = dh(with(small_args, {"-R", "-n", "2"}), o);
    EXPECT_EQ(r.status, 0) << r.out;
    std::string big = h.t / "big", shrinks = h.t / "shrinks";
    std::vector<std::string> lines = split_lines(r.out);
    std::string joined;
    for (auto &l : lines) joined += l + "\n";
    std::string skip = "File System: " + shrinks + " : Avail <N> nbytes";
    int skipped = 0;
    for (size_t i = 0; i + 2 < lines.size(); i++) {
        if (line_matches(lines[i], skip)) {
            EXPECT_EQ(lines[i + 1], "File System too small");
            EXPECT_EQ(lines[i + 2], "!! SKIPPING FILESYSTEM !!");
            skipped++;
        }
    }
    EXPECT_EQ(skipped, 1) << r.out; // skipped once, then passed over
    EXPECT_NE(joined.find("\nFile System: " + big + "\nRegular I/O\n"), std::string::npos);
    EXPECT_EQ(joined.find("\nFile System: " + shrinks + "\n"), std::string::npos) << r.out;
    EXPECT_NE(joined.find("tmpfs\tdh_shrinks\t" + shrinks + "\n"), std::string::npos); // selected
}

// ---- A mount point with a blank or a quote: only its test directory goes ----

TEST(DiskhammerCleanup, MountPointWithBlankRemovesOnlyTheTestDirectory)
{
    Ext4 fs("a b");
    NEED(fs.ns.ok(), fs.ns.error);
    ASSERT_FALSE(fs.dev.empty());
    make_dirs(fs.t / "a");
    write_file(fs.t / "a/keep", "kept");
    make_dirs(fs.t / "b");
    write_file(fs.t / "b/keep", "kept");
    RunOptions o;
    o.cwd = fs.t.path;
    RunResult r = dh(with(small_args, {"-R", "-n", "1", "-D", fs.dev}), o);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(fs.t / "a/keep"), "kept");
    EXPECT_EQ(read_file(fs.t / "b/keep"), "kept");
    EXPECT_TRUE(file_exists(fs.mnt + "/lost+found"));
    EXPECT_FALSE(has_testdir(fs.mnt));
}

TEST(DiskhammerCleanup, MountPointWithShellCharactersLongerThanABuffer)
{
    // Over 1024 bytes: the removal command is not cut short either.
    std::string part(250, 'm');
    Ext4 fs("it's $(x); a/" + part + "/" + part + "/" + part + "/" + part);
    NEED(fs.ns.ok(), fs.ns.error);
    ASSERT_FALSE(fs.dev.empty());
    RunResult r = dh(with(small_args, {"-R", "-n", "1", "-D", fs.dev}));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("File System: " + fs.mnt + " : Avail"), std::string::npos) << r.out;
    EXPECT_FALSE(has_testdir(fs.mnt));
}

// ---- Raw-disk mode on loop devices ----

struct RawDisk {
    TempDir t{"dhraw"};
    MountNs ns;
    std::string dev;
    RawDisk(int sector = 512, int mb = 8)
    {
        if (!ns.ok()) return;
        dev = ns.loop(t / "img", mb, sector);
        if (!dev.empty())
            shell("dd if=/dev/urandom of=" + dev + " bs=1M count=" + std::to_string(mb) +
                  " status=none oflag=direct");
    }
};

std::string preread_line(const std::string &dev, long long n)
{
    std::string data = read_file(dev).substr(0, (size_t)n);
    long long zero = std::count(data.begin(), data.end(), '\0');
    return "\tPre-Read Raw Disk: char " + std::to_string(n - zero) + " null " +
           std::to_string(zero);
}

TEST(DiskhammerRaw, SliceContentsUnchangedAndWholeOutput)
{
    RawDisk d;
    NEED(d.ns.ok(), d.ns.error);
    ASSERT_FALSE(d.dev.empty());
    unsigned long long before = checksum(d.dev);
    Expect e;
    e.raw = true;
    e.targets = {{"", d.dev, ""}};
    e.passes = 1;
    e.preread = preread_line(d.dev, 65536);
    RunResult r = dh(with(small_args, {"-n", "1", "-d", "-D", d.dev}));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(match_output(r.out, expected(e)), "") << r.out << r.err;
    EXPECT_EQ(checksum(d.dev), before);
    EXPECT_EQ(checksum(d.t / "img"), before);
}

TEST(DiskhammerRaw, LogicalBlocksOf4096AndMmap)
{
    RawDisk d(4096);
    NEED(d.ns.ok(), d.ns.error);
    ASSERT_FALSE(d.dev.empty());
    std::string bs;
    shell("blockdev --getss " + d.dev, &bs);
    ASSERT_EQ(bs, "4096\n");
    unsigned long long before = checksum(d.dev);
    Expect e;
    e.raw = true;
    e.mmap = true;
    e.targets = {{"", d.dev, ""}};
    e.passes = 1;
    e.preread = preread_line(d.dev, 65536);
    e.cycles = block4k_cycles;
    RunResult r = dh(with(small_args, {"-n", "1", "-m", "-d", "-D", d.dev}));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(match_output(r.out, expected(e)), "") << r.out << r.err;
    EXPECT_EQ(checksum(d.dev), before);
}

TEST(DiskhammerRaw, MountedSliceIsRefused)
{
    Ext4 fs;
    NEED(fs.ns.ok(), fs.ns.error);
    RunResult r = dh({"-d", "-D", fs.dev});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(line_matches(r.out, "!ERROR: Raw test should be performed on the umount slice. "
                                    "The data on that slice will be damaged. Do not store critical "
                                    "data on " +
                                        fs.mnt + " and umount it.<*>\n"))
        << r.out;
}

TEST(DiskhammerRaw, SliceMountedUnderAnotherNameIsRefused)
{
    TempDir t("dhlink");
    MountNs ns;
    NEED(ns.ok(), ns.error);
    std::string dev = ns.loop(t / "img", 16);
    ASSERT_EQ(shell("mkfs.ext4 -q -F " + dev), 0);
    std::string link = t / "thedisk", mnt = t / "mnt";
    ASSERT_EQ(symlink(dev.c_str(), link.c_str()), 0);
    make_dirs(mnt);
    ASSERT_EQ(mount(link.c_str(), mnt.c_str(), "ext4", 0, nullptr), 0);
    ASSERT_NE(read_file("/proc/self/mounts").find(link + " "), std::string::npos);
    RunResult r = dh(with(small_args, {"-d", "-D", dev}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Do not store critical data on " + mnt + " and umount it."),
              std::string::npos)
        << r.out;
    // And named through the link itself.
    r = dh(with(small_args, {"-d", "-D", link}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("!ERROR: Raw test should be performed on the umount slice."),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Pre-Read"), std::string::npos);
    umount2(mnt.c_str(), MNT_DETACH);
}

TEST(DiskhammerRaw, SliceHeldExclusivelyIsRefused)
{
    RawDisk d;
    NEED(d.ns.ok(), d.ns.error);
    int fd = open(d.dev.c_str(), O_RDONLY | O_EXCL);
    ASSERT_GE(fd, 0);
    RunResult r = dh(with(small_args, {"-d", "-D", d.dev}));
    close(fd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "!ERROR: Raw test should be performed on the umount slice. The data on that "
                     "slice will be damaged. Do not store critical data on " +
                         d.dev + " and umount it.Device or resource busy\n");
}

TEST(DiskhammerRaw, FailingFirstWriteIsReportedNotCrashed)
{
    // The slice's backing store is full: reads of its holes work, the first
    // write-back fails.
    TempDir t("dhfull");
    MountNs ns;
    NEED(ns.ok(), ns.error);
    std::string store = t / "store";
    ASSERT_TRUE(ns.tmpfs(store, "dh_store", "size=1m"));
    std::string dev = ns.loop(store + "/img", 8);
    ASSERT_FALSE(dev.empty());
    shell("head -c 2m /dev/zero > " + store + "/fill 2>/dev/null");
    RunResult r = dh(with(small_args, {"-R", "-n", "1", "-s", "-d", "-D", dev}));
    ASSERT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.status, 1) << r.out;
    std::vector<std::string> lines = split_lines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(line_matches(lines.back(), "!ERROR: <*>")) << r.out;
    EXPECT_EQ(lines.back().find("premature"), std::string::npos) << r.out;
}

// ---- Children that fail, are interrupted or are killed ----

struct Held {
    Hidden h{{"mnt"}};
    std::string mnt, dir, file;
    int lock_fd = -1;
    dev_t fs_dev = 0;
    unsigned long ino = 0;
    std::unique_ptr<HeldRun> run;
    bool start(const std::vector<std::string> &args, const std::string &opts = "size=2m")
    {
        if (!h.ok) return false;
        mnt = h.t / "mnt";
        if (!h.ns.tmpfs(mnt, "dh_held", opts)) return false;
        run = std::make_unique<HeldRun>(args);
        dir = mnt + "/fs_testdir." + std::to_string(run->pid);
        file = dir + "/test_file";
        return true;
    }
    // The test file exists and this process holds a lock on all of it, so
    // the locked engine's first transfer waits.
    void lock_test_file()
    {
        mkdir(dir.c_str(), 0777);
        lock_fd = open(file.c_str(), O_RDWR | O_CREAT, 0666);
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fcntl(lock_fd, F_SETLK, &fl);
        struct stat st;
        fstat(lock_fd, &st);
        fs_dev = st.st_dev;
        ino = st.st_ino;
    }
    void unlock()
    {
        if (lock_fd >= 0) close(lock_fd);
        lock_fd = -1;
    }
    ~Held() { unlock(); }
};

TEST(DiskhammerChild, FullFileSystemDuringAPassEndsWithStatus1)
{
    Held h;
    NEED(h.h.ok, h.h.why);
    ASSERT_TRUE(h.start(with(small_args, {"-L", "-n", "1"})));
    h.lock_test_file();
    h.run->release();
    ASSERT_TRUE(wait_lock_waiter(h.fs_dev, h.ino)) << h.run->output();
    // Selected and set up with room; now the room goes.
    shell("head -c 4m /dev/zero > " + h.mnt + "/fill 2>/dev/null");
    h.unlock();
    int status = h.run->wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::string out = h.run->output();
    EXPECT_NE(out.find("\tWrite Lock  I/O: File Size 512: Transfer 512: Incr 1024\n\n!ERROR: No "
                       "space left on device\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Test Execution Completed"), std::string::npos);
    EXPECT_FALSE(file_exists(h.dir));
}

// Starts a run whose locked pass waits on the test file's lock, sends the
// pass's child the signal, and returns the run's status.
static void signal_waiting_child(Held &h, const std::vector<std::string> &extra, int sig,
                                 int *status)
{
    ASSERT_TRUE(h.start(with(small_args, extra)));
    h.lock_test_file();
    h.run->release();
    ASSERT_TRUE(wait_lock_waiter(h.fs_dev, h.ino)) << h.run->output();
    int child = child_of(h.run->pid);
    ASSERT_GT(child, 0);
    kill(child, sig);
    *status = h.run->wait();
    h.unlock();
}

TEST(DiskhammerChild, InterruptNoticeAndCleanup)
{
    Held h;
    NEED(h.h.ok, h.h.why);
    int status = -1;
    ASSERT_NO_FATAL_FAILURE(signal_waiting_child(h, {"-L", "-n", "1"}, SIGINT, &status));
    ASSERT_TRUE(WIFEXITED(status));
    // The child's designed exit 0 lets the parent go on and finish.
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string out = h.run->output();
    std::vector<std::string> lines = split_lines(out);
    bool found = false;
    for (size_t i = 0; i + 1 < lines.size(); i++)
        if (line_matches(lines[i], "!! Stress Test Interrupted at <*> <*> <N> <N>:<N>:<N> <N>") &&
            lines[i + 1] == "!!")
            found = true;
    EXPECT_TRUE(found) << out;
    EXPECT_FALSE(file_exists(h.dir));
}

TEST(DiskhammerChild, ChildKilledBySignalEndsTheRunWithStatus1)
{
    Held h;
    NEED(h.h.ok, h.h.why);
    // The regular engine runs first; the locked one then waits on the lock.
    int status = -1;
    ASSERT_NO_FATAL_FAILURE(signal_waiting_child(h, {"-L", "-R", "-n", "1"}, SIGKILL, &status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::string out = h.run->output();
    EXPECT_EQ(out.find("Test Execution Completed"), std::string::npos) << out;
    EXPECT_FALSE(file_exists(h.dir));
}

// ---- Planted links and foreign test directories ----

TEST(DiskhammerLinks, PlantedLinkAtTheTestFileIsNotFollowed)
{
    Held h;
    NEED(h.h.ok, h.h.why);
    ASSERT_TRUE(h.start(with(small_args, {"-R", "-n", "1"})));
    std::string victim = h.mnt + "/victim";
    write_file(victim, "precious");
    mkdir(h.dir.c_str(), 0777);
    ASSERT_EQ(symlink(victim.c_str(), h.file.c_str()), 0);
    h.run->release();
    int status = h.run->wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(h.run->output().find("!ERROR: " + h.file + "Too many levels of symbolic links\n"),
              std::string::npos)
        << h.file << "\n"
        << h.run->output();
    EXPECT_EQ(read_file(victim), "precious");
    EXPECT_FALSE(file_exists(h.dir));
}

TEST(DiskhammerLinks, ForeignOrLinkedTestDirectoryIsNotUsed)
{
    for (int variant = 0; variant < 2; variant++) {
        Held h;
        NEED(h.h.ok, h.h.why);
        ASSERT_TRUE(h.start(with(small_args, {"-R", "-n", "1"})));
        std::string other = h.mnt + "/other";
        make_dirs(other);
        write_file(other + "/test_file", "precious");
        if (variant == 0) {
            ASSERT_EQ(symlink(other.c_str(), h.dir.c_str()), 0);
        } else {
            mkdir(h.dir.c_str(), 0777);
            write_file(h.dir + "/test_file", "theirs");
            ASSERT_EQ(chown(h.dir.c_str(), 65534, 65534), 0);
        }
        h.run->release();
        int status = h.run->wait();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        std::string out = h.run->output();
        EXPECT_NE(out.find("\n" + h.dir + "File exists\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("Write Reg"), std::string::npos) << out;
        EXPECT_EQ(read_file(other + "/test_file"), "precious");
        if (variant == 1) {
            EXPECT_EQ(read_file(h.dir + "/test_file"), "theirs");
        }
    }
}

// ---- Options and their messages (no file system is touched) ----

const std::string long_msg =
    "!ERROR: diskhammer: Invalid min:max for option -f or -t. The min and max should be in the "
    "range of 512 bytes and 2 Gbytes, and max must be greater than min.\nThe default unit size is "
    "bytes. If followed by b, k, m, or g, the test uses a corresponding unit size of 1 byte, 1KB "
    "(1024 bytes), 1MB (1,048,576 bytes), or 1GB (1,048,576 bytes).\n";
const std::string short_msg = "!ERROR: diskhammer: Invalid min:max for option -f or -t\n";
const std::string usage_msg =
    "!ERROR: Usage: diskhammer [ -F fstype ] [ -D device ] [ -f min:max ] [ -t min:max ] [ -n "
    "num ] [ -mRLAdrsN1 ]\nThe default unit size is bytes. If followed by b, k, m, or g, the test "
    "uses a corresponding unit size of 1 byte, 1KB (1024 bytes), 1MB (1,048,576 bytes), or 1GB "
    "(1,048,576 bytes).\n";
const std::string raw_msg =
    "!ERROR: When -d is specified, specify the -D option followed by a raw slice.\n";
const std::string block_msg = "!ERROR: diskhammer: please specify option -D followed by a block "
                              "device which has a mount point, when -d is not specified.\n";

struct OptionCase {
    const char *name;
    std::vector<std::string> args;
    std::string out;
};

class DiskhammerOptions : public ::testing::TestWithParam<OptionCase>
{
};

TEST_P(DiskhammerOptions, MessageAndStatus)
{
    RunResult r = dh(GetParam().args);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, GetParam().out);
}

// Accepted options are shown by reaching the -D check that follows them.
INSTANTIATE_TEST_SUITE_P(
    Forms, DiskhammerOptions,
    ::testing::Values(
        OptionCase{"f_512_512", {"-f", "512:512", "-D", "/dev/null"}, block_msg},
        OptionCase{"f_64k_1m", {"-f", "64k:1m", "-D", "/dev/null"}, block_msg},
        OptionCase{"t_1g_1g", {"-t", "1g:1g", "-D", "/dev/null"}, block_msg},
        OptionCase{"f_max_max", {"-f", "2147483647:2147483647", "-D", "/dev/null"}, block_msg},
        OptionCase{"f_511_1k", {"-f", "511:1k"}, long_msg},
        OptionCase{"f_1k_512", {"-f", "1k:512"}, long_msg},
        OptionCase{"t_1k_2g", {"-t", "1k:2g"}, long_msg},
        OptionCase{"f_1k", {"-f", "1k"}, short_msg},
        OptionCase{"f_0_1k", {"-f", "0:1k"}, short_msg},
        OptionCase{"f_1x_2k", {"-f", "1x:2k"}, short_msg},
        OptionCase{"t_empty_side", {"-t", ":2k"}, short_msg},
        // 2^34 + 1 gigabytes is 2^30 modulo 2^64: refused, not read as 1g.
        OptionCase{"t_wrapping_g", {"-t", "1k:17179869185g"}, long_msg},
        OptionCase{"n_3x", {"-n", "3x", "-D", "/dev/null"}, block_msg},
        // 2^32 is 0 as an int: a huge count is still a count, not refused.
        OptionCase{"n_huge", {"-n", "4294967296", "-D", "/dev/null"}, block_msg},
        OptionCase{
            "n_x3", {"-n", "x3"}, "!ERROR: diskhammer: Invalid number of tests for option -n\n"},
        OptionCase{
            "n_0", {"-n", "0"}, "!ERROR: diskhammer: Invalid number of tests for option -n\n"},
        OptionCase{"F_other",
                   {"-F", "ext4"},
                   "!ERROR: diskhammer: Invalid filesystem type for option -F\n"},
        OptionCase{"F_after_d", {"-d", "-F", "tmpfs"}, raw_msg + raw_msg},
        OptionCase{"d_after_F", {"-F", "nfs", "-d"}, raw_msg + raw_msg},
        OptionCase{"d_without_D", {"-d"}, raw_msg},
        OptionCase{"d_with_char_device", {"-d", "-D", "/dev/null"}, raw_msg},
        OptionCase{"d_with_file", {"-d", "-D", "/etc/passwd"}, raw_msg},
        OptionCase{"D_not_block", {"-D", "/etc/passwd"}, block_msg},
        OptionCase{"operand", {"-R", "stray"}, usage_msg},
        OptionCase{"operand_before_options", {"stray", "-R"}, usage_msg},
        OptionCase{"unknown", {"-x"}, usage_msg},
        OptionCase{"missing_argument", {"-f"}, usage_msg}),
    [](const auto &info) { return std::string(info.param.name); });
