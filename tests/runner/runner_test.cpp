// The plan runner as a lab uses it: a plan of runs that end as expected and
// not, its table, its results directory (results.json against its schema, the
// JUnit report against the project's XSD and read back by a real JUnit
// parser, the HTML report in a real browser), runs stopped cleanly, and the
// plan errors that stop it before anything runs.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const std::string kSource = SUITE_SOURCE_DIR;
const std::string kRunner = kSource + "/runner/qualrun";
const std::string kJunitCases = kSource + "/tests/support/junit_cases.py";

// The runner with a lock of the test's own, so that tests running side by
// side do not wait for each other, and the test's stand-ins for the machine's
// tools (in t/tools, when there is one) first on PATH.
RunResult qualrun(const std::vector<std::string> &args, TempDir &t, int timeout_s = 120)
{
    RunOptions o;
    o.env = {"COLUMNS=160", "QUALRUN_LOCK=" + t / "lock",
             "PATH=" + t / "tools" + ":" + getenv("PATH")};
    o.cwd = t.path;
    o.timeout_s = timeout_s;
    return run_program(kRunner, args, o);
}

// Starts the runner with args in the background, in t with its lock there,
// its output and error together in t/out.
pid_t spawn_qualrun(const std::vector<std::string> &args, TempDir &t)
{
    std::vector<std::string> argv = {"/usr/bin/env", "QUALRUN_LOCK=" + t / "lock", kRunner};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv, t.path, t / "out", t / "out");
}

std::string check_reports(const std::string &dir)
{
    std::string out;
    shell("/usr/bin/python3 " + kSource + "/tests/runner/check_reports.py " + kSource +
              "/runner/schemas " + dir + " 2>&1",
          &out);
    return out;
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
    // A blank in the plan's name is kept out of the JUnit classname.
    write_file(t / "my lab.plan", kPlan);
    RunResult r = qualrun({t / "my lab.plan", "--bin", SUITE_BIN_DIR, "--junit", t / "r.xml"}, t);
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
                "stuck     nothing        timeout  NO (timed out)   <*>s  no verdict, no output",
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
                "qualrun: results in " + t.path + "/qualrun-results/my lab-<*>-<N>-<N>",
            }),
        "")
        << r.out;
    EXPECT_EQ(
        check_reports(t / "qualrun-results/latest"),
        "job my lab exit 1\nepoch: as expected, exit 0, junit pass\n"
        "pairs: not as expected, exit 0, junit failure; expected 1\n"
        "verdicts: as expected, exit 3, junit pass\n"
        "stuck: timed out, exit timeout, junit error\nodd: as expected, exit 0, junit pass\n");

    // The report as a CI system reads it.
    std::string report;
    ASSERT_EQ(shell(kJunitCases + " -v " + t / "r.xml", &report), 0) << report;
    // One line for the job's suite: its cases, each of its class, its output
    // and its results' messages and texts.
    EXPECT_EQ(
        match_text(
            report,
            "r (qualrun) tests=5 failures=1 errors=1\nr my lab@<*> tests=5 failures=1 errors=1: "
            "epoch [<*>.my_lab] pass out='in epoch\\n' | "
            "pairs [<*>.my_lab] failure: exit 0, expected 1 out='a=\"1\"\\n' text='why: expected "
            "1\\n\\nverdict lines:\\n(none)\\n\\nlast 20 lines of output:\\na=\"1\"\\n' | "
            "verdicts [<*>.my_lab] pass out='!WARNING: first\\n!ERROR: second\\n1796772049 "
            "0:00:02: !PASS: Done.\\n' | "
            "stuck [<*>.my_lab] error: timed out after <*>s out=None text='verdict "
            "lines:\\n(none)\\n\\nlast 20 lines of output:\\n\\n' | "
            "odd [<*>.my_lab] pass out='a<b & \"c\"\\\\x01\\n'\n"),
        "");
}

TEST(Runner, ListAndOnly)
{
    TempDir t("qualrun");
    write_file(t / "lab.plan", kPlan);
    RunResult r = qualrun({t / "lab.plan", "--bin", SUITE_BIN_DIR, "--list"}, t);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "epoch\tthe clock\texpect 0\npairs\ta query\texpect 1\n"
                     "verdicts\tboth streams\texpect 3\nstuck\tnothing\texpect 0\n"
                     "odd\tcontrol bytes\texpect any\n");
    // The plan may also come after the names.
    r = qualrun({"--bin", SUITE_BIN_DIR, "--only", "odd", "epoch", t / "lab.plan"}, t);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "run 1 of 2: epoch (the clock)\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "qualrun: 2 runs, 2 as expected\n")) << r.out;
    EXPECT_EQ(check_reports(t / "qualrun-results/latest"),
              "job lab exit 0\nepoch: as expected, exit 0, junit pass\n"
              "odd: as expected, exit 0, junit pass\n");
    // The JUnit report asked for in the results directory yet to be made.
    r = qualrun({t / "lab.plan", "--bin", SUITE_BIN_DIR, "--only", "epoch", "--results", t / "r14",
                 "--junit", t / "r14/junit.xml"},
                t);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(check_reports(t / "r14"), "job lab exit 0\nepoch: as expected, exit 0, junit pass\n");
    // A kept work directory is emptied before each run.
    write_file(t / "w.plan", "[a]\nrun = ls; touch left\n");
    for (std::string d : {"w1", "w2"}) {
        r = qualrun({t / "w.plan", "--work", t / "w", "--results", t / d}, t);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(t / d + "/runs/a.log"), "") << d;
    }
    // A results directory that holds no job's results.
    std::filesystem::create_directories(t / "bad");
    write_file(t / "bad/results.json", "{\"job\": {}, \"runs\": []}\n");
    r = qualrun({"--resume", t / "bad"}, t);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qualrun: --resume " + t / "bad" +
                         ": its results.json is not a job's results ('plan')\n");
    // What --only leaves out need not find its device here.
    write_file(t / "far.plan", std::string(kPlan) + "\n[far]\nrun = lanerx -d /dev/ttyNONE9\n");
    r = qualrun({t / "far.plan", "--bin", SUITE_BIN_DIR, "--only", "epoch"}, t);
    EXPECT_EQ(r.status, 0) << r.err;
    // A lab's plan lists on a machine without its devices.
    r = qualrun({std::string(SUITE_SOURCE_DIR) + "/plans/lab-example.plan", "--list"}, t);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "\n"), 12) << r.out;
    EXPECT_TRUE(contains(r.out, "reelcheck\ttape in /dev/st0, first 100 MB\texpect 0\n")) << r.out;
    r = qualrun({t / "lab.plan", "--bin", SUITE_BIN_DIR, "--only", "nosuch"}, t);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qualrun: no entry named nosuch in " + t.path +
                         "/lab.plan; it has epoch, pairs, verdicts, stuck, odd\n");
}

// Each faulty plan or output path is refused whole: its good entry, which
// would leave a file behind, never runs.
TEST(Runner, PlanErrorsStopBeforeAnythingRuns)
{
    struct Case {
        const char *entry, *error, *option = nullptr, *value = nullptr;
    } cases[] = {
        {"[b]\ntarget = x\n", "entry \"b\": no run command"},
        {"[b]\nexpect = zero\nrun = true\n",
         "entry \"b\": expect is an exit status (0 to 255) or \"any\", not \"zero\""},
        {"[b]\nexpect = 256\nrun = true\n",
         "entry \"b\": expect is an exit status (0 to 255) or \"any\", not \"256\""},
        {"[b]\nexpect = \u00b3\nrun = true\n",
         "entry \"b\": expect is an exit status (0 to 255) or \"any\", not \"\u00b3\""},
        {"[b]\nrun = true\ncolour = red\n", "entry \"b\": unknown key colour"},
        {"[b]\nrun = true\ntimeout = soon\n",
         "entry \"b\": timeout is a number of seconds, not \"soon\""},
        {"[b]\nrun = true\ntimeout = \u00b2\n",
         "entry \"b\": timeout is a number of seconds, not \"\u00b2\""},
        {"[b]\nrun = true\ngrace = -1\n", "entry \"b\": grace is a number of seconds, not \"-1\""},
        {"[b]\nrun = true\nkernel = maybe\n",
         "entry \"b\": kernel is \"watch\" or \"ignore\", not \"maybe\""},
        {"[b]\nrun = true\npass-line =\n",
         "entry \"b\": a pass-line is one line of text, not empty"},
        {"[b]\nrun = true\nexpect = 1\nexpect = 2\n",
         "line 7: entry \"b\": key expect given twice"},
        {"[DEFAULT]\nrun = true\n",
         "entry \"DEFAULT\": a plan has no defaults section; give each entry its keys"},
        {"[b]\nrun = echo caf\xe9\n", "line 5: not UTF-8 text (byte 0xe9)"},
        {"[b]\nrun = rxpace -s -d /dev/ttyNONE9\n", "entry \"b\": /dev/ttyNONE9 does not exist"},
        {"[b]\nrun = true\nneeds = /dev/nst9 /dev/null\n", "entry \"b\": /dev/nst9 does not exist"},
        {"[b]\nrun = nosuchdir/x; reelcheck -n\n",
         "entry \"b\": program reelcheck not found in /nonexistent"},
        {"[b b]\nrun = true\n", "entry \"b b\": a name is letters, digits, '.', '_', '+' and '-'"},
        {"[a]\nrun = true\n", "line 4: entry \"a\" again (it is already at line 1)"},
        {"run = true\n[c]\n", "line 1: key run before the first [name]"},
        {"[b]\nrun = true\n", "--work <*>/p.plan is not a directory", "--work", "p.plan"},
        {"[b]\nrun = true\n", "--work <*>/p.plan/sub: <*>/p.plan is not a directory", "--work",
         "p.plan/sub"},
        {"[b]\nrun = true\n", "--junit <*>/p.plan/r.xml: <*>/p.plan is not a directory", "--junit",
         "p.plan/r.xml"},
        {"[b]\nrun = true\n", "--junit <*>/. is a directory", "--junit", "."},
        {"[b]\nrun = true\n", "--results <*>/p.plan is not a directory", "--results", "p.plan"},
        {"[b]\nrun = true\n", "--results <*>/p.plan/sub: <*>/p.plan is not a directory",
         "--results", "p.plan/sub"},
    };
    for (const Case &c : cases) {
        TempDir t("qualrun");
        // A good entry first, which would leave a file behind if it ran.
        std::string good = "[a]\nrun = touch ran\n\n";
        write_file(t / "p.plan", c.entry[0] == '[' ? good + c.entry : c.entry + good);
        bool missing_bin = contains(c.error, "/nonexistent");
        std::vector<std::string> args = {t / "p.plan", "--bin",
                                         missing_bin ? "/nonexistent" : SUITE_BIN_DIR};
        if (c.option)
            args.insert(args.end(), {c.option, t / c.value});
        else
            args.insert(args.end(), {"--work", t / "w"});
        RunResult r = qualrun(args, t);
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
        EXPECT_FALSE(file_exists(t / "qualrun-results")) << c.entry;
    }
}

// One job of the runner on a plan: its standard output and error, its table,
// and its results directory as check_reports.py reads it (results.json checked
// against its schema, the JUnit report against the project's XSD).
struct Job {
    RunResult r;
    std::string table, reports, dir;
};

Job run_job(TempDir &t, const std::string &plan, std::vector<std::string> args = {})
{
    write_file(t / "lab.plan", plan);
    Job j;
    j.dir = t / "res";
    args.insert(args.begin(), {t / "lab.plan", "--bin", SUITE_BIN_DIR, "--results", j.dir});
    j.r = qualrun(args, t);
    size_t at = j.r.out.find("RUN ");
    if (at != std::string::npos) j.table = j.r.out.substr(at);
    j.reports = check_reports(j.dir);
    return j;
}

// A cgroup v1 freezer that holds a run's process as a failing disk would:
// SIGKILL does not end it until it is thawed.
const std::string kFreezer = "/sys/fs/cgroup/freezer/qualrun-test";

// Runs with verdict lines to find and to miss, the kernel's log, what leaves
// the run's session, and a run that cleans up when stopped.
TEST(Runner, VerdictsKernelAndStopping)
{
    struct Case {
        const char *name;
        std::string plan;
        const char *report;
        double at_most;            // seconds for the whole job
        const char *log = nullptr; // run a's log, lines of templates
    } cases[] = {
        {"pass line found",
         "[a]\nrun = echo '1796772049 0:00:02: !PASS: Hang up on last close'\n"
         "pass-line = !PASS: Hang up on last close\n",
         "a: as expected, exit 0, junit pass\n", 20},
        {"pass line missing, fail line present",
         "[a]\nexpect = 1\nrun = echo '!ERROR: lost'; exit 1\npass-line = !PASS: done\n"
         "pass-line = !ERROR: lost\nfail-line = lost\n",
         "a: not as expected, exit 1, junit failure; no line \"!PASS: done\"; line \"lost\"\n", 20},
        {"a kernel error line",
         "[a]\nrun = echo '<3>qualrun-test: error' >/dev/kmsg\n\n"
         "[b]\nkernel = ignore\nrun = echo '<4>qualrun-test: warning' >/dev/kmsg\n"
         "      echo '<3>qualrun-test: error' >/dev/kmsg\n",
         "a: not as expected, exit 0, junit failure; kernel: 1 error; kernel 1\n"
         "b: as expected, exit 0, junit pass; kernel 2\n",
         20},
        // A descendant that keeps the output open holds nothing up, and goes.
        {"a session of its own", "[a]\ntimeout = 3\nrun = setsid sleep 21.7 &\n",
         "a: as expected, exit 0, junit pass\n", 2},
        {"stopped at its timeout, cleans up in its grace",
         "[a]\ntimeout = 1\ngrace = 5\nrun = trap 'sleep 1; echo cleaned >&2; exit 4' TERM\n"
         "      sleep 21.7 & wait\n\n[b]\nrun = true\n",
         "a: timed out, exit timeout, junit error\nb: as expected, exit 0, junit pass\n", 6,
         "cleaned"},
        {"killed after its grace",
         "[a]\ntimeout = 1\ngrace = 1\nrun = trap 'echo ignored' TERM; sleep 21.7; sleep 21.7\n",
         "a: timed out, exit timeout, junit error\n", 6,
         "Terminated\nignored\n--- qualrun: killed after 1s of grace: <N> bash -c trap <*>; <N> "
         "sleep 21.7"},
        // Waited for a bounded time after SIGKILL, recorded, and the job goes on.
        {"a process SIGKILL does not end",
         "[a]\ntimeout = 1\ngrace = 1\nrun = mkdir -p " + kFreezer + "\n      sh -c 'echo $$ >" +
             kFreezer + "/tasks; exec sleep 21.7' &\n      sleep 0.3; echo FROZEN >" + kFreezer +
             "/freezer.state; wait\n\n[b]\nrun = true\n",
         "a: timed out, exit timeout, junit error; unkillable: 1 process\n"
         "b: as expected, exit 0, junit pass\n",
         8,
         "--- qualrun: killed after 1s of grace: <N> sleep 21.7\n"
         "--- qualrun: still there after SIGKILL, left running: <N> (D) sleep 21.7"},
    };
    for (const Case &c : cases) {
        TempDir t("qualrun");
        auto t0 = std::chrono::steady_clock::now();
        Job j = run_job(t, c.plan);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(j.reports.substr(j.reports.find('\n') + 1), c.report) << c.name << j.r.out;
        EXPECT_LE(took, c.at_most + 3) << c.name;
        if (c.log) {
            EXPECT_EQ(match_output(read_file(j.dir + "/runs/a.log"), split_lines(c.log)), "")
                << c.name;
        }
        shell("d=" + kFreezer +
              "; [ ! -d $d ] || { echo THAWED >$d/freezer.state; sleep 0.3; rmdir $d; }");
        std::string ps;
        shell("pgrep -f 'sleep 21[.]7' || true", &ps);
        EXPECT_EQ(ps, "") << c.name;
    }
}

// SIGTERM or SIGINT to the runner: the run under way cleans up in its grace,
// is marked interrupted, the rest not run, every report written; --resume
// then runs what had not ended, into the same directory, keeping the earlier
// attempt's log and telling machine changes against the job's start. A
// runner killed outright leaves the run recorded as interrupted too.
TEST(Runner, InterruptedThenResumed)
{
    struct Case {
        int sig, status;
        const char *log, *reports;
    } cases[] = {
        {SIGTERM, 143, "started\ncleaned\n",
         "job lab exit 143\none: as expected, exit 0, junit pass\n"
         "two: interrupted, exit interrupted, junit error\nthree: not run, exit -, junit "
         "skipped\n"},
        {SIGINT, 130, "started\ncleaned\n",
         "job lab exit 130\none: as expected, exit 0, junit pass\n"
         "two: interrupted, exit interrupted, junit error\nthree: not run, exit -, junit "
         "skipped\n"},
        {SIGKILL, 137, "started\n",
         "job lab exit None\none: as expected, exit 0, junit None\n"
         "two: interrupted, exit -, junit None\nthree: not run, exit -, junit None\n"},
    };
    for (const Case &c : cases) {
        TempDir t("qualrun");
        write_file(t / "lab.plan", "[one]\nrun = true\n\n[two]\ngrace = 5\n"
                                   "run = [ -e " +
                                       t / "again" +
                                       " ] && exit 0\n"
                                       "      trap 'sleep 1; echo cleaned; exit 1' TERM\n"
                                       "      echo started; echo $$ >" +
                                       t / "pid" + "; mv " + t / "pid" + " " + t / "started" +
                                       "; sleep 21.7 & wait\n\n"
                                       "[three]\nrun = true\n");
        pid_t pid = spawn_qualrun({t / "lab.plan", "--results", t / "res"}, t);
        ASSERT_TRUE(poll_until(20, [&] { return file_exists(t / "started"); }));
        kill(pid, c.sig);
        EXPECT_EQ(wait_for(pid, 20), c.status) << read_file(t / "out");
        if (c.sig == SIGKILL) kill(-std::stoi(read_file(t / "started")), SIGKILL); // its session
        std::string out = read_file(t / "out");
        EXPECT_FALSE(contains(out, "Traceback")) << out;
        if (c.sig != SIGKILL) {
            EXPECT_TRUE(contains(out, "qualrun: 2 runs, 1 as expected, not as expected: two; "
                                      "not run: three\n"))
                << out;
            EXPECT_TRUE(file_exists(t / "res/report.html"));
        }
        EXPECT_EQ(read_file(t / "res/runs/two.log"), c.log);
        EXPECT_EQ(check_reports(t / "res"), c.reports);
        write_file(t / "again", "");
        shell("sed -i 's/\"memory\": [0-9]*/\"memory\": 1024/' " + t / "res/machine-start.json");
        RunResult r = qualrun({"--resume", t / "res"}, t);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "run 2 of 3: two (-)\n")) << r.out;
        EXPECT_FALSE(contains(r.out, "run 1 of 3")) << r.out;
        EXPECT_TRUE(contains(r.out, "qualrun: the machine changed during the job: memory changed: "
                                    "1024 -> "))
            << r.out;
        EXPECT_EQ(check_reports(t / "res"), "job lab exit 0\n"
                                            "one: as expected, exit 0, junit pass\n"
                                            "two: as expected, exit 0, junit pass\n"
                                            "three: as expected, exit 0, junit pass\n");
        EXPECT_EQ(read_file(t / "res/runs/two.1.log"), c.log);
        EXPECT_EQ(read_file(t / "res/runs/two.log"), "");
    }
}

// A run that fills the results disk is the runner's failure, not the
// device's: the rest is not run, the reports are written in the room kept for
// them, with no half-written file, and the status is one of its own. Once
// room is made, --resume runs it again.
TEST(Runner, FullResultsDisk)
{
    MountNs ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    TempDir t("qualrun");
    ASSERT_TRUE(ns.tmpfs(t / "res", "tmpfs", "size=4m"));
    Job j = run_job(t, "[a]\nrun = [ -e " + t / "again" +
                           " ] || yes 'line of output' | head -c 6M\n\n[b]\nrun = true\n");
    EXPECT_EQ(j.r.status, 4);
    EXPECT_EQ(j.r.err, "qualrun: the results disk is full (" + j.dir +
                           "): the output of a was cut short, the rest of the plan was not run\n");
    EXPECT_EQ(j.reports, "job lab exit 4\na: runner error, exit 1, junit error; the results disk "
                         "is full\nb: not run, exit -, junit skipped\n");
    std::string files;
    shell("ls -A " + j.dir, &files);
    EXPECT_EQ(files, "junit.xml\nmachine-end.json\nmachine-start.json\nplan\nreport.html\n"
                     "results.json\nruns\n");
    EXPECT_TRUE(contains(read_file(j.dir + "/report.html"), "<td class=\"num\">-</td>"))
        << "no time for a run not run";
    std::filesystem::remove(j.dir + "/runs/a.log");
    write_file(t / "again", "");
    RunResult r = qualrun({"--resume", j.dir}, t);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(
        check_reports(j.dir),
        "job lab exit 0\na: as expected, exit 0, junit pass\nb: as expected, exit 0, junit pass\n");
}

// Small things: a second job waits or, with --no-wait, refuses; a listing
// cut short; a bare plan name found among the plans; output paths in the
// summary lines; a live line every so often.
TEST(Runner, LockListingAndPlanNames)
{
    TempDir t("qualrun");
    write_file(t / "lab.plan", "[a]\nrun = echo '!PASS: fine'\n");
    std::string out;
    EXPECT_EQ(shell("cd " + t.path + " && QUALRUN_LOCK=" + t / "lock" + " flock " + t / "lock" +
                        " " + kRunner + " lab.plan --no-wait 2>&1",
                    &out),
              3);
    EXPECT_TRUE(line_matches(out, "qualrun: another job holds this machine (<*>; lock " +
                                      t / "lock" + "); not starting (--no-wait)\n"))
        << out;

    // A job waiting for the lock stops at once when told to.
    int held = open((t / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    pid_t pid = spawn_qualrun({"lab.plan"}, t);
    EXPECT_TRUE(poll_until(20, [&] { return contains(read_file(t / "out"), "waiting"); }));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_for(pid, 3), 143);
    EXPECT_EQ(read_file(t / "out"),
              "qualrun: another job holds this machine (another job); waiting for it\n"
              "qualrun: interrupted by SIGTERM while waiting for the lock; nothing was run\n");
    close(held);

    // An ordinary user: a lock it may not make is taken read-only where it
    // is, else one of its own is used; a current directory it may not write
    // in is refused before anything runs.
    chmod(t.path.c_str(), 0755);
    for (const char *d : {"locks", "u", "xdg"}) {
        std::filesystem::create_directories(t / d);
        chmod((t / d).c_str(), std::string(d) == "locks" ? 0755 : 0777);
    }
    struct Case {
        const char *hold, *cwd;
        int status;
        std::string err;
    } cases[] = {
        {"", "u", 0,
         "qualrun: cannot open the lock " + t / "locks/lock" + " (Permission denied): using " +
             t / "xdg/qualrun-65534.lock" + ", which keeps only this user's jobs apart"},
        {"flock ../locks/lock ", "u", 3,
         "qualrun: another job holds this machine (another job; lock " + t / "locks/lock" +
             "); not starting (--no-wait)"},
        {"", ".", 2,
         "qualrun: qualrun-results: cannot write in " + t.path +
             " (--results DIR puts the results elsewhere)"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(shell("cd " + t / c.cwd + " && " + c.hold + "env QUALRUN_LOCK=" +
                            t / "locks/lock" + " XDG_RUNTIME_DIR=" + t / "xdg" +
                            " setpriv --reuid=nobody --regid=nogroup --clear-groups " + kRunner +
                            " " + t / "lab.plan" + " --no-wait 2>&1",
                        &out),
                  c.status)
            << out;
        EXPECT_EQ(split_lines(out).at(0), c.err) << out;
    }
    EXPECT_EQ(check_reports(t / "u/qualrun-results/latest"),
              "job lab exit 0\na: as expected, exit 0, junit pass\n");

    EXPECT_EQ(shell(kRunner + " " + kSource + "/plans/local.plan --list 2>&1 | head -1", &out), 0);
    EXPECT_EQ(out, "volaudit\tfile system of the work directory\texpect any\n");
    RunResult r = qualrun({"smoke.plan", "--list"}, t);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "\n"), 6) << r.out;

    // Where the results go, and a line of life every half second in a log.
    RunOptions o;
    o.env = {"QUALRUN_LOCK=" + t / "lock", "QUALRUN_ALIVE_EVERY=0.5"};
    o.cwd = t.path;
    write_file(t / "slow.plan", "[slow]\nrun = sleep 1.2\n");
    r = run_program(kRunner, {"slow.plan"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(match_output(r.out.substr(0, r.out.find("\n\n")),
                           {"qualrun: results in " + t.path + "/qualrun-results/slow-<*>-<N>-<N>",
                            "run 1 of 1: slow (-)", "  still running after 0s of 600s",
                            "  still running after 1s of 600s", "  exit 0, <*>s"}),
              "")
        << r.out;
    EXPECT_EQ(read_file(t / "qualrun-results/latest/runs/slow.log"), "");
    EXPECT_EQ(check_reports(t / "qualrun-results/latest"),
              "job slow exit 0\nslow: as expected, exit 0, junit pass\n");
}

// The HTML report as a browser shows it: every run with its outcome, the
// machine at the start and the end (its maker and serial from dmidecode), and
// the kernel's lines of no run (here logged by the stand-in dmidecode as the
// job looks at the machine before the first run and after the last).
TEST(Runner, HtmlReportInABrowser)
{
    TempDir t("qualrun");
    std::filesystem::create_directories(t / "tools");
    write_file(t / "tools/dmidecode",
               "#!/bin/sh\necho '<3>qualrun-test: dmidecode' >/dev/kmsg\n"
               "printf 'System Information\\n\\tManufacturer: Lab\\n\\tProduct Name: Q-1\\n"
               "\\tSerial Number: S42\\n'\n",
               0755);
    Job j = run_job(t, "[fine]\nrun = echo '!PASS: fine'\n\n[wrong]\nrun = echo '<b>'; exit 2\n"
                       "\n[late]\ntimeout = 1\ngrace = 1\nrun = sleep 21.7\n");
    EXPECT_EQ(j.r.status, 1);
    EXPECT_EQ(j.reports, "job lab exit 1\nfine: as expected, exit 0, junit pass\n"
                         "wrong: not as expected, exit 2, junit failure; expected 0\n"
                         "late: timed out, exit timeout, junit error\n"
                         "job kernel, after None: <err> qualrun-test: dmidecode\n"
                         "job kernel, after late: <err> qualrun-test: dmidecode\n");
    EXPECT_TRUE(contains(j.r.out, "\nqualrun: kernel, before the first run: <err> qualrun-test: "
                                  "dmidecode\nqualrun: kernel, after late: <err> qualrun-test: "
                                  "dmidecode\n"))
        << j.r.out;
    std::string dom = browser_dom(j.dir + "/report.html", t);
    // The rows of the runs' table as the browser built them, tags gone.
    std::string rows = table_rows(dom, "runs", 4);
    EXPECT_EQ(rows, "run | target | exit | outcome\n"
                    "fine | - | 0 | as expected\n"
                    "wrong | - | 2 | not as expected (expected 0)\n"
                    "late | - | timeout | timed out\n");
    EXPECT_TRUE(contains(dom, "&lt;b&gt;")) << "the log, escaped";
    EXPECT_TRUE(contains(dom, "<tr><th></th><th>at the start</th><th>at the end</th></tr>"));
    EXPECT_TRUE(contains(dom, "<tr><th>system</th><td>Lab Q-1, serial S42</td><td>Lab Q-1, serial "
                              "S42</td></tr>"));
    std::string uart;
    shell("cat /sys/class/tty/ttyS0/type 2>/dev/null", &uart);
    if (uart == "4\n") {
        EXPECT_TRUE(contains(dom, "/dev/ttyS0 16550A")) << "a UART by its name";
    }
    EXPECT_TRUE(line_matches(dom.substr(dom.find("<tr><th>memory</th>"), 50),
                             "<tr><th>memory</th><td><*> GiB</td><*>"));
}

// A run that prints much: its log takes it all, the runner's memory stays
// flat, also when it shows the output as it comes (-v).
TEST(Runner, MemoryFlatOverALargeOutput)
{
    for (std::string v : {"", " -v"}) {
        TempDir t("qualrun");
        write_file(t / "lab.plan", "[much]\nkernel = ignore\nrun = yes '!PASS: line of output' | "
                                   "head -c 400M\n");
        std::string out;
        ASSERT_EQ(
            shell("cd " + t.path + " && QUALRUN_LOCK=" + t / "lock" +
                      " /usr/bin/python3 -c 'import resource, subprocess, sys; "
                      "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL); "
                      "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024)' " +
                      kRunner + " lab.plan --results res" + v,
                  &out),
            0);
        EXPECT_LT(std::stoi(out), 60) << out << " MiB at most" << v;
        std::string json = read_file(t / "res/results.json");
        EXPECT_TRUE(contains(json, "\"PASS\": 19065018")) << "all verdicts counted";
        EXPECT_EQ(std::to_string(std::filesystem::file_size(t / "res/runs/much.log")), "419430400");
    }
}

// diskhammer stopped, at its timeout or by SIGTERM to the runner, removes its
// test directory in its grace.
TEST(Runner, StoppedDiskhammerCleansUp)
{
    MountNs ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    TempDir t("qualrun");
    struct Case {
        int sig;
        const char *timeout, *reports;
    } cases[] = {
        {0, "3", "job lab exit 1\nhammer: timed out, exit timeout, junit error\n"},
        {SIGTERM, "600", "job lab exit 143\nhammer: interrupted, exit interrupted, junit error\n"},
    };
    for (const Case &c : cases) {
        std::string k = std::to_string(c.sig), mnt = t / ("mnt" + k), res = t / ("res" + k);
        std::string dev = ns.ext4(t / ("img" + k), mnt, 256);
        ASSERT_NE(dev, "");
        write_file(t / "lab.plan", "[hammer]\ntimeout = " + std::string(c.timeout) +
                                       "\ngrace = 10\nkernel = ignore\nrun = diskhammer -D " + dev +
                                       " -f 16m:128m -t 4k:64k -n 50 & sleep 1; ls " + mnt +
                                       " >&2; wait\n");
        pid_t pid = spawn_qualrun({t / "lab.plan", "--bin", SUITE_BIN_DIR, "--results", res}, t);
        if (c.sig) {
            EXPECT_TRUE(poll_until(
                20, [&] { return contains(read_file(res + "/runs/hammer.log"), "fs_testdir."); }));
            kill(pid, c.sig);
        }
        wait_for(pid, 60);
        EXPECT_EQ(check_reports(res), c.reports) << read_file(t / "out");
        std::string left;
        shell("ls " + mnt, &left);
        EXPECT_EQ(left, "lost+found\n") << read_file(res + "/runs/hammer.log");
        EXPECT_TRUE(contains(read_file(res + "/runs/hammer.log"), "\nfs_testdir."))
            << "it was there";
    }
}

} // namespace
