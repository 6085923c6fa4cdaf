// reelflood and reelcheck on a file-backed "tape": an empty file alone in a
// small tmpfs of the test's private mount namespace. With -n (no rewind) the
// write that does not fit fails with ENOSPC, as at the end of a tape, and a
// read past the last block returns 0, as at the end of the recorded data.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>

namespace
{

struct Tape {
    TempDir dir{"tape"};
    MountNs ns; // unmounted before dir goes
    std::string path = dir / "fs/tape";
    // A tape of size_kb laid at once; none with 0 (lay one later).
    explicit Tape(int size_kb = 0)
    {
        if (ns.ok() && size_kb > 0 && !lay(size_kb)) ns.error = "cannot mount a tmpfs";
    }
    // A fresh empty tape of size_kb in place of the one before; false when
    // the tmpfs cannot be mounted.
    bool lay(int size_kb)
    {
        if (file_exists(path) && !ns.umount(dir / "fs")) return false;
        if (!ns.tmpfs(dir / "fs", "tmpfs", "size=" + std::to_string(size_kb) + "k")) return false;
        write_file(path, "");
        return true;
    }
};

// Every ending of both programs, as transcripts of whole runs.
TEST(Tape, CommandLinesAndEndings)
{
    Tape t;
    if (!t.ns.ok()) GTEST_SKIP() << t.ns.error;
    auto runs = runs_in("tests/tape/transcripts/runs.txt", {{"<TAPE>", t.path}});
    ASSERT_EQ(runs.size(), 31u);
    for (const RunSpec &c : runs) {
        std::string kb = value_of(c.env, "TAPE_KB");
        if (!kb.empty()) ASSERT_TRUE(t.lay(std::stoi(kb)));
        expect_run(c);
    }
}

// Block n, byte i holds (n + i) mod 256: 1 KB blocks reach blocks 255 and 256.
TEST(Tape, BlocksHoldTheNumberedPattern)
{
    Tape t(2048);
    if (!t.ns.ok()) GTEST_SKIP() << t.ns.error;
    ASSERT_EQ(run_program(bin_path("reelflood"), {"-n", "-d", t.path, "-b", "1", "-s", "1"}).status,
              0);
    std::string tape = read_file(t.path);
    ASSERT_EQ(tape.size(), 1048576u);
    EXPECT_EQ(tape.substr(0, 3), "\x01\x02\x03");
    EXPECT_EQ(tape.substr(1023, 2), std::string("\x00\x02", 2)); // end of 1, start of 2
    EXPECT_EQ(tape.substr(254 * 1024, 3), std::string("\xff\x00\x01", 3));
    EXPECT_EQ(tape.substr(255 * 1024, 3), std::string("\x00\x01\x02", 3));
    EXPECT_EQ(tape.substr(1023 * 1024, 3), std::string("\x00\x01\x02", 3)); // the last, 1024
}

TEST(Tape, MismatchListsTheWholeBlock)
{
    Tape t(5120);
    if (!t.ns.ok()) GTEST_SKIP() << t.ns.error;
    run_program(bin_path("reelflood"), {"-n", "-d", t.path, "-s", "4"});
    ASSERT_EQ(shell("printf '\\377' | dd of=" + t.path +
                    " bs=1 seek=65541 conv=notrunc status=none"), // block 3, byte 5
              0);
    RunResult r = run_program(bin_path("reelcheck"), {"-n", "-d", t.path});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 2u + 32768u);
    EXPECT_EQ(lines[0], "!ERROR: Verify error block 3");
    EXPECT_EQ(lines[1], "!ERROR: Read/Expected");
    EXPECT_EQ(count_of(r.out, " !!"), 1);
    // Byte k of block 3 is 3 + k, wrapping after 255 (at index 253).
    const std::pair<int, const char *> kLines[] = {
        {0, "!ERROR: 0: 3/3"},         {4, "!ERROR: 4: 7/7"},         {5, "!ERROR: 5: 255/8 !!"},
        {6, "!ERROR: 6: 9/9"},         {252, "!ERROR: 252: 255/255"}, {253, "!ERROR: 253: 0/0"},
        {32767, "!ERROR: 32767: 2/2"},
    };
    for (auto &[i, want] : kLines) EXPECT_EQ(lines[2 + i], want);
}

// The largest blocks, 2097148 KB, under a 1 GiB limit on the heap. ASan's
// allocator takes no rlimit, only its options (and its warning goes to a file).
TEST(Tape, BuffersThatCannotBeHadEndTheRun)
{
    Tape t(64);
    if (!t.ns.ok()) GTEST_SKIP() << t.ns.error;
#ifdef __SANITIZE_ADDRESS__
    const std::string limit = "";
#else
    const std::string limit = "ulimit -d 1048576; ";
#endif
    RunOptions o;
    o.env = {"ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1024:log_path=" +
             t.dir / "asan"};
    for (const char *prog : {"reelflood", "reelcheck"}) {
        RunResult r = run_program(
            "/bin/sh", {"-c", limit + "exec " + bin_path(prog) + " -n -b 2097148 -d " + t.path}, o);
        EXPECT_EQ(r.status, 1) << prog;
        EXPECT_EQ(r.err, "!ERROR: out of memory\n") << prog;
        EXPECT_EQ(r.out, "") << prog;
    }
}

} // namespace
