// reelflood and reelcheck on a file-backed "tape": an empty file alone in a
// small tmpfs of the test's private mount namespace. With -n (no rewind) the
// write that does not fit fails with ENOSPC, as at the end of a tape, and a
// read past the last block returns 0, as at the end of the recorded data.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>
#include <sstream>

namespace
{

struct Tape {
    TempDir dir{"tape"};
    MountNs ns; // unmounted before dir goes
    std::string path = dir / "fs/tape";
    explicit Tape(int size_kb)
    {
        if (ns.ok() && !ns.tmpfs(dir / "fs", "tmpfs", "size=" + std::to_string(size_kb) + "k"))
            ns.error = "cannot mount a tmpfs";
        if (ns.ok()) write_file(path, "");
    }
};

// Runs "PROGRAM ARG..." (split at blanks; TAPE is the tape's path).
RunResult run(const std::string &line, const std::string &tape)
{
    std::vector<std::string> args;
    std::istringstream in(line);
    for (std::string a; in >> a;) args.push_back(a == "TAPE" ? tape : a);
    RunOptions o;
    o.argv0 = args[0];
    return run_program(bin_path(args[0]), {args.begin() + 1, args.end()}, o);
}

#define FLOOD_USAGE "!ERROR: Usage:  reelflood [-b blocksize] [-d device] [-n] [-s length-in-MB]\n"
#define CHECK_USAGE "!ERROR: Usage:  reelcheck [-b blocksize] [-d device] [-n]\n"
#define ENOSPC_LINE "Got expected ENOSPC at EOT\n"

struct Case {
    int tape_kb;      // 5120: 160 blocks of 32 KiB
    const char *fill; // run first on the tape, or nullptr
    const char *line;
    int status;
    const char *err, *out; // TAPE at the start of err is the tape's path
};

// clang-format off
const Case kCases[] = {
    {5120, nullptr, "reelflood -n -d TAPE", 0, ENOSPC_LINE, "161 blocks\n5.00Mb total\n"},
    {5120, nullptr, "reelflood -n -d TAPE -s 1", 0, "As instructed, wrote ", "32 blocks\n1.00Mb total\n"},
    // Above 1024 KB blocks the limit is 0: to the end of a 6 MiB tape.
    {6144, nullptr, "reelflood -nb 2048 -s5 -d TAPE", 0, ENOSPC_LINE, "4 blocks\n6.00Mb total\n"},
    {5120, nullptr, "reelflood -n -b 64 -d TAPE", 0, ENOSPC_LINE, "81 blocks\n5.00Mb total\n"},
    {5120, nullptr, "reelflood -n -b 64 -s 3 -d TAPE", 0, "As instructed, wrote ", "48 blocks\n3.00Mb total\n"},
    // The limit is (1024 / 3) x 3, the division first: 1023 blocks.
    {5120, nullptr, "reelflood -n -b 3 -s 3 -d TAPE", 0, "As instructed, wrote ", "1023 blocks\n3.00Mb total\n"},
    // 1024 x 4194305 is 2^32 + 1024: in 32 bits the limit would be 1024 blocks.
    {2048, nullptr, "reelflood -n -b 1 -s 4194305 -d TAPE", 0, ENOSPC_LINE, "2049 blocks\n2.00Mb total\n"},
    // 5140 KB: 160 blocks and 20480 bytes.
    {5140, nullptr, "reelflood -n -d TAPE", 2, "!ERROR: After 161 blocks, wrote 20480 more bytes\n", "5.02Mb total\n"},
    {5120, "reelflood -n -d TAPE", "reelcheck -n -d TAPE", 0, "After 161 blocks, read 0 more bytes\n", "5.00Mb total\n"},
    {5120, "reelflood -n -d TAPE", "reelcheck -n -d TAPE -s 1", 0, "As instructed, read ", "32 blocks\n1.00Mb total\n"},
    {5140, "reelflood -n -d TAPE", "reelcheck -n -d TAPE", 0, "After 161 blocks, read 20480 more bytes\n", "5.02Mb total\n"},
    {5120, "reelflood -n -d TAPE -b 64", "reelcheck -n -d TAPE -b 64", 0, "After 81 blocks, read 0 more bytes\n", "5.00Mb total\n"},
    // Opens read-write, but every transfer at offset 0 fails with EIO.
    {64, nullptr, "reelflood -n -d /proc/self/mem", 2, "!ERROR: during writing: Input/output error\n", "1 blocks\n0.00Mb total\n"},
    {64, nullptr, "reelcheck -n -d /proc/self/mem", 2, "!ERROR: read: Input/output error\n", "1 blocks\n0.00Mb total\n"},
    {64, nullptr, "reelflood -d TAPE", 1, "TAPE: Inappropriate ioctl for device\n", ""},
    {64, nullptr, "reelcheck -d TAPE", 1, "TAPE: Inappropriate ioctl for device\n", ""},
    {64, nullptr, "reelcheck -n -d /no/such/tape", 1, "/no/such/tape: No such file or directory\n", ""},
    {64, nullptr, "reelcheck -n -d /no/such/tape extra", 1, CHECK_USAGE, ""},
    {64, nullptr, "reelflood -n -d /no/such/tape extra", 1, FLOOD_USAGE, ""},
    {64, nullptr, "reelflood -x", 1, "reelflood: invalid option -- 'x'\n" FLOOD_USAGE, ""},
    {64, nullptr, "reelcheck -b", 1, "reelcheck: option requires an argument -- 'b'\n" CHECK_USAGE, ""},
    {64, nullptr, "reelflood -b 0 -d /no/such/tape", 1, FLOOD_USAGE, ""},
    {64, nullptr, "reelcheck -b -5 -d /no/such/tape", 1, CHECK_USAGE, ""},
    {64, nullptr, "reelcheck -b many -d /no/such/tape", 1, CHECK_USAGE, ""},
    // 2097152 KB is 2^31 bytes: no int holds the block size.
    {64, nullptr, "reelflood -b 2097152 -d /no/such/tape", 1, FLOOD_USAGE, ""},
};
// clang-format on

TEST(Tape, CommandLinesAndEndings)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.line);
        Tape t(c.tape_kb);
        if (!t.ns.ok()) GTEST_SKIP() << t.ns.error;
        if (c.fill) run(c.fill, t.path);
        RunResult r = run(c.line, t.path);
        std::string err = c.err;
        if (err.rfind("TAPE", 0) == 0) err.replace(0, 4, t.path);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.out, c.out);
    }
}

// Block n, byte i holds (n + i) mod 256: 1 KB blocks reach blocks 255 and 256.
TEST(Tape, BlocksHoldTheNumberedPattern)
{
    Tape t(2048);
    if (!t.ns.ok()) GTEST_SKIP() << t.ns.error;
    ASSERT_EQ(run("reelflood -n -d TAPE -b 1 -s 1", t.path).status, 0);
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
    run("reelflood -n -d TAPE -s 4", t.path);
    ASSERT_EQ(shell("printf '\\377' | dd of=" + t.path +
                    " bs=1 seek=65541 conv=notrunc status=none"), // block 3, byte 5
              0);
    RunResult r = run("reelcheck -n -d TAPE", t.path);
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

// 2 GiB blocks under a 1 GiB limit on the heap. ASan's allocator takes no
// rlimit, only its options (and its warning goes to a file).
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
            "/bin/sh", {"-c", limit + "exec " + bin_path(prog) + " -n -b 2097151 -d " + t.path}, o);
        EXPECT_EQ(r.status, 1) << prog;
        EXPECT_EQ(r.err, "!ERROR: out of memory\n") << prog;
        EXPECT_EQ(r.out, "") << prog;
    }
}

} // namespace
