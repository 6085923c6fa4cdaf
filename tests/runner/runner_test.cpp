// The plan runner as a lab uses it: a plan of runs that end as expected and
// not, its table, its JUnit report read back by a real JUnit parser, and the
// plan errors that stop it before anything runs.
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>

namespace
{

const std::string kRunner = std::string(SUITE_SOURCE_DIR) + "/runner/qualrun";

RunResult qualrun(const std::vector<std::string> &args)
{
    RunOptions o;
    o.env = {"COLUMNS=160"};
    return run_program(kRunner, args, o);
}

// Five runs: as expected, a status other than expected, verdicts on both
// streams, one stopped by its time limit, one whose output XML cannot carry
// as it is.
const char *kPlan = R"plan([epoch]
target = the clock
expect = 0
run = epochnow >/dev/null; echo "in $(basename "$QUALRUN_WORK")"

[pairs]
target = a query
expect = 1
run = argpairs 'a=1'

[verdicts]
target = both streams
expect = 3
run = echo '!WARNING: first'
      echo '!ERROR: second' >&2
      echo '1796772049 0:00:02: !PASS: Done.'
      exit 3

[stuck]
target = nothing
timeout = 1
run = sleep 30

[odd]
target = control bytes
expect = any
run = printf 'a<b & "c"\001\n'
)plan";

TEST(Runner, TableStatusAndJUnitReport)
{
    TempDir t("qualrun");
    write_file(t / "lab.plan", kPlan);
    RunResult r = qualrun({t / "lab.plan", "--bin", SUITE_BIN_DIR, "--junit", t / "r.xml"});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    std::string table = r.out.substr(r.out.find("RUN "));
    EXPECT_EQ(
        match_output(
            table,
            {
                "RUN       TARGET         EXIT     AS EXPECTED      TIME  VERDICTS",
                "epoch     the clock      0        yes              <*>s  no verdict; output ends: "
                "in epoch",
                "pairs     a query        0        NO (expected 1)  <*>s  no verdict; output ends: "
                "a=\"1\"",
                "verdicts  both streams   3        yes              <*>s  [1 PASS, 1 ERROR, 1 "
                "WARNING] !WARNING: first",
                "stuck     nothing        timeout  NO (expected 0)  <*>s  no verdict, no output",
                "odd       control bytes  0        yes              <*>s  no verdict; output ends: "
                "a<b & \"c\"\\x01",
                "",
                "qualrun: 5 runs, 3 as expected, not as expected: pairs stuck",
                "",
                "--- pairs: last lines of its output",
                "    | a=\"1\"",
                "",
                "--- stuck: last lines of its output",
                "qualrun: JUnit report in " + t.path + "/r.xml",
            }),
        "")
        << r.out;

    // The report as a CI system reads it.
    std::string py = R"py(import sys, junitparser
x = junitparser.JUnitXml.fromfile(sys.argv[1])
for s in x:
    print(s.name, s.tests, s.failures, s.errors)
    for c in s:
        res = [type(e).__name__ + ':' + (e.message or '') for e in c.result]
        print(c.name, res, repr(c.system_out))
        for e in c.result:
            print(repr(e.text))
)py";
    write_file(t / "read.py", py);
    std::string report;
    ASSERT_EQ(shell("/usr/bin/python3 " + t / "read.py" + " " + t / "r.xml", &report), 0) << report;
    EXPECT_EQ(
        report,
        "lab.plan 5 2 0\n"
        "epoch [] 'in epoch\\n'\n"
        "pairs ['Failure:exit 0, expected 1'] 'a=\"1\"\\n'\n"
        "'verdict lines:\\n(none)\\n\\nlast 20 lines of output:\\na=\"1\"\\n'\n"
        "verdicts [] '!WARNING: first\\n!ERROR: second\\n1796772049 0:00:02: !PASS: Done.\\n'\n"
        "stuck ['Failure:exit timeout, expected 0'] None\n"
        "'verdict lines:\\n(none)\\n\\nlast 20 lines of output:\\n\\n'\n"
        "odd [] 'a<b & \"c\"\\\\x01\\n'\n");
}

TEST(Runner, ListAndOnly)
{
    TempDir t("qualrun");
    write_file(t / "lab.plan", kPlan);
    RunResult r = qualrun({t / "lab.plan", "--bin", SUITE_BIN_DIR, "--list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "epoch\tthe clock\texpect 0\npairs\ta query\texpect 1\n"
                     "verdicts\tboth streams\texpect 3\nstuck\tnothing\texpect 0\n"
                     "odd\tcontrol bytes\texpect any\n");
    // The plan may also come after the names.
    r = qualrun({"--bin", SUITE_BIN_DIR, "--only", "odd", "epoch", t / "lab.plan"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "run 1 of 2: epoch (the clock)\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "qualrun: 2 runs, 2 as expected\n")) << r.out;
    // What --only leaves out need not find its device here.
    write_file(t / "far.plan", std::string(kPlan) + "\n[far]\nrun = lanerx -d /dev/ttyNONE9\n");
    r = qualrun({t / "far.plan", "--bin", SUITE_BIN_DIR, "--only", "epoch"});
    EXPECT_EQ(r.status, 0) << r.err;
    // A lab's plan lists on a machine without its devices.
    r = qualrun({std::string(SUITE_SOURCE_DIR) + "/plans/lab-example.plan", "--list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "\n"), 12) << r.out;
    EXPECT_TRUE(contains(r.out, "reelcheck\ttape in /dev/st0, first 100 MB\texpect 0\n")) << r.out;
    r = qualrun({t / "lab.plan", "--bin", SUITE_BIN_DIR, "--only", "nosuch"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qualrun: no entry named nosuch in " + t.path +
                         "/lab.plan; it has epoch, pairs, verdicts, stuck, odd\n");
}

// Each faulty plan is refused whole: its good entry, which would leave a
// file behind, never runs.
TEST(Runner, PlanErrorsStopBeforeAnythingRuns)
{
    struct Case {
        const char *entry, *error;
    } cases[] = {
        {"[b]\ntarget = x\n", "entry \"b\": no run command"},
        {"[b]\nexpect = zero\nrun = true\n",
         "entry \"b\": expect is an exit status (0 to 255) or \"any\", not \"zero\""},
        {"[b]\nexpect = 256\nrun = true\n",
         "entry \"b\": expect is an exit status (0 to 255) or \"any\", not \"256\""},
        {"[b]\nrun = true\ncolour = red\n", "entry \"b\": unknown key colour"},
        {"[b]\nrun = true\ntimeout = soon\n",
         "entry \"b\": timeout is a number of seconds, not \"soon\""},
        {"[b]\nrun = rxpace -s -d /dev/ttyNONE9\n", "entry \"b\": /dev/ttyNONE9 does not exist"},
        {"[b]\nrun = true\nneeds = /dev/nst9 /dev/null\n", "entry \"b\": /dev/nst9 does not exist"},
        {"[b]\nrun = nosuchdir/x; reelcheck -n\n",
         "entry \"b\": program reelcheck not found in /nonexistent"},
        {"[b b]\nrun = true\n", "entry \"b b\": a name is letters, digits, '.', '_', '+' and '-'"},
        {"[a]\nrun = true\n", "While reading from '<*>' [line  4]: section 'a' already exists"},
        {"run = true\n[c]\n", "File contains no section headers.<*>"},
    };
    for (const Case &c : cases) {
        TempDir t("qualrun");
        // A good entry first, which would leave a file behind if it ran.
        std::string good = "[a]\nrun = touch ran\n\n";
        write_file(t / "p.plan", c.entry[0] == '[' ? good + c.entry : c.entry + good);
        bool missing_bin = contains(c.error, "/nonexistent");
        RunResult r = qualrun({t / "p.plan", "--bin", missing_bin ? "/nonexistent" : SUITE_BIN_DIR,
                               "--work", t / "w"});
        EXPECT_EQ(r.status, 2) << c.entry;
        EXPECT_EQ(r.out, "") << c.entry;
        std::vector<std::string> lines = split_lines(r.err);
        ASSERT_GE(lines.size(), 2u) << r.err;
        bool found = false;
        for (auto &l : lines)
            found = found || line_matches(l, "qualrun: <*>" + std::string(c.error));
        EXPECT_TRUE(found) << r.err << "  lacks " << c.error;
        EXPECT_EQ(lines.back(), "qualrun: nothing was run");
        EXPECT_FALSE(file_exists(t / "w/a/ran")) << c.entry;
    }
}

} // namespace
