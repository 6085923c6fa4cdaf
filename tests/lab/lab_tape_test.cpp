// reelflood and reelcheck on a tape drive: one boot of the tape rig (an 8 MB
// iSCSI tape served by tgt, 8 MiB of data) runs the steps below in order, each
// leaving its output and status in the shared directory; the cases compare.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

namespace
{

// Runs through a tape's life: fill to the end (default drive /dev/st0, with
// the rewind), count its records with mt, verify; overwrite record 3 with
// byte 5 changed (dd on /dev/nst0: the tape then ends after it), verify; a
// 1 MB pair; read with a smaller block than the records; start away from the
// beginning with and without the rewind.
const char kScript[] = R"(
step() { n=$1; shift; "$@" >"$n.out" 2>"$n.err"; echo $? >"$n.status"; }
nst=/dev/nst0
step fill reelflood
step records sh -c "mt -f $nst rewind && mt -f $nst fsr 256 && mt -f $nst status | grep ^File && mt -f $nst fsr 1"
step record-size sh -c "mt -f $nst rewind && dd if=$nst of=/dev/null bs=64k count=1 2>&1 | head -n 2"
step verify reelcheck
step corrupt sh -c "mt -f $nst rewind && mt -f $nst fsr 2 && dd if=$nst of=b3 bs=32k count=1 status=none &&
  printf '\377' | dd of=b3 bs=1 seek=5 conv=notrunc status=none && mt -f $nst bsr 1 &&
  dd if=b3 of=$nst bs=32k status=none"
step verify-corrupt reelcheck
step fill-1mb reelflood -s 1
step verify-1mb reelcheck -s 1
step verify-to-end reelcheck
step smaller-block reelcheck -b 16
step rewinds sh -c "mt -f $nst rewind && mt -f $nst fsr 5 && exec reelcheck -d $nst -s 1"
step no-rewind sh -c "mt -f $nst rewind && mt -f $nst fsr 5 && exec reelcheck -n -d $nst -s 1"
)";

struct Step {
    const char *name;
    int status;
    const char *err, *out;
    int marks = -1; // -1: out is the whole output; else it begins a block's
                    // listing (32768 lines) with this many " !!"
};

// 8 MiB of tape holds 256 blocks of 32 KiB; the 257th write fails. Without the
// rewind the first block read is record 6: every byte is 5 ahead.
const Step kSteps[] = {
    {"fill", 0, "Got expected ENOSPC at EOT\n", "257 blocks\n8.00Mb total\n"},
    {"records", 2, "/dev/nst0: Input/output error\n",
     "File number=0, block number=256, partition=0.\n"},
    {"record-size", 0, "", "0+1 records in\n0+1 records out\n"},
    {"verify", 0, "After 257 blocks, read 0 more bytes\n", "8.00Mb total\n"},
    {"corrupt", 0, "", ""},
    {"verify-corrupt", 3, "",
     "!ERROR: Verify error block 3\n!ERROR: Read/Expected\n!ERROR: 0: 3/3\n!ERROR: 1: 4/4\n"
     "!ERROR: 2: 5/5\n!ERROR: 3: 6/6\n!ERROR: 4: 7/7\n!ERROR: 5: 255/8 !!\n!ERROR: 6: 9/9\n",
     1},
    {"fill-1mb", 0, "As instructed, wrote ", "32 blocks\n1.00Mb total\n"},
    {"verify-1mb", 0, "As instructed, read ", "32 blocks\n1.00Mb total\n"},
    {"verify-to-end", 0, "After 33 blocks, read 0 more bytes\n", "1.00Mb total\n"},
    // st does not split a record across reads.
    {"smaller-block", 2, "!ERROR: read: Cannot allocate memory\n", "1 blocks\n0.00Mb total\n"},
    {"rewinds", 0, "As instructed, read ", "32 blocks\n1.00Mb total\n"},
    {"no-rewind", 3, "", "!ERROR: Verify error block 1\n!ERROR: Read/Expected\n!ERROR: 0: 6/1 !!\n",
     32768},
};

TEST(TapeDrive, EveryStepEndsAsOnARealDrive)
{
    TempDir dir("labtape");
    RunOptions o;
    o.timeout_s = 360;
    RunResult r = run_program(lab_path("tape-rig"),
                              {"--timeout", "300", "--out", dir.path, "--", "bash", "-c",
                               "PATH=" SUITE_BIN_DIR ":$PATH\n" + std::string(kScript)},
                              o);
    ASSERT_TRUE(r.exited) << r.err;
    ASSERT_EQ(r.status, 0) << r.err;
    for (const Step &st : kSteps) {
        SCOPED_TRACE(st.name);
        std::string base = dir / st.name, out = read_file(base + ".out");
        ASSERT_TRUE(file_exists(base + ".status")) << r.err;
        EXPECT_EQ(atoi(read_file(base + ".status").c_str()), st.status);
        EXPECT_EQ(read_file(base + ".err"), st.err);
        if (st.marks < 0) {
            EXPECT_EQ(out, st.out);
            continue;
        }
        EXPECT_EQ(out.rfind(st.out, 0), 0u) << out.substr(0, 300);
        EXPECT_EQ(count_of(out, "\n"), 2 + 32768);
        EXPECT_EQ(count_of(out, " !!"), st.marks);
    }
}

} // namespace
