// treecycle end to end: one table of runs, each a shell command line in a
// private mount namespace, with what the program must print, the run log it
// must write and what it must leave behind, as transcripts.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <regex>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// A run: the command line (run by /bin/sh in {R}), treecycle's exit status,
// its standard output and error, the run log, and what a shell command shows
// afterwards. In all of them {P} stands for the program, {S} the source tree,
// {D} the target, {R} the working directory, {T} their parent and {X} a
// scratch directory outside it. Texts are templates: <N> is a number, <*>
// any text in a line, <EV> the time stamp of an event line, and a last line
// <...> any further lines. An error of "=" is the run log; a log of "" says
// that none is written.
struct Case {
    const char *name;
    std::string cmd;
    int status;
    std::string out, err, log, look, seen;
};

std::ostream &operator<<(std::ostream &o, const Case &r)
{
    return o << r.name;
}

// A private mount namespace with its own /var/tmp, and a tmpfs holding
// src (a small tree), dst and run; beside it a socket for the probe.
struct TcEnv : ::testing::Test {
    MountNs ns;
    TempDir tmp{"tc"};
    std::string top = tmp / "top", src = top + "/src", dst = top + "/dst", run = top + "/run";
    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
        ASSERT_TRUE(ns.tmpfs("/var/tmp", "tmpfs", "size=16m,mode=1777"));
        ASSERT_TRUE(ns.tmpfs(top, "tmpfs", "size=64m,mode=0777"));
        make_dirs(dst);
        make_dirs(run);
        // clang-format off
        make_tree(src, {{"a.txt", "alpha\n"}, {"empty", ""}, {"sub/", ""}, {"sub/b.txt", std::string(20000, 'b')},
                        {"sub/deeper/", ""}, {"sub/deeper/c.txt", "gamma\n"}});
        // clang-format on
        sockaddr_un a{AF_UNIX, {}};
        snprintf(a.sun_path, sizeof a.sun_path, "%s", (tmp / "sock").c_str());
        int s = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(bind(s, (sockaddr *)&a, sizeof a), 0);
        close(s);
    }
    std::string expand(std::string s) const
    {
        // clang-format off
        const std::pair<std::string, std::string> names[] = {
            {"{P}", bin_path("treecycle")}, {"{S}", src}, {"{D}", dst}, {"{R}", run}, {"{T}", top}, {"{X}", tmp.path}};
        // clang-format on
        for (auto &[from, to] : names)
            for (size_t p; (p = s.find(from)) != std::string::npos;) s.replace(p, from.size(), to);
        return s;
    }
    RunResult sh(const std::string &cmd) const
    {
        RunOptions o;
        o.cwd = run;
        o.env = {"LC_ALL=C"};
        return run_program("/bin/sh", {"-c", expand(cmd)}, o);
    }
    std::string run_log() const
    {
        std::string out;
        shell("cat /var/tmp/TRC7.*.log 2>/dev/null", &out);
        return out;
    }
};

struct Tc : TcEnv, ::testing::WithParamInterface<Case> {
};

// Event lines ("%ld %04d%02d%02d%02d%02d%02d %4d:%02d:%02d: text") whose date
// is the local time of their epoch seconds begin with "<EV>" instead.
std::string events(const std::string &text)
{
    static const std::regex ev("^([0-9]+) ([0-9]{14}) ( {3}[0-9]| {2}[0-9]{2}| [0-9]{3}|[0-9]{4,})"
                               ":[0-5][0-9]:[0-5][0-9]: ");
    std::string out;
    for (std::string l : split_lines(text)) {
        std::smatch m;
        if (std::regex_search(l, m, ev)) {
            time_t t = std::stol(m[1]);
            char date[32];
            struct tm tm;
            strftime(date, sizeof date, "%Y%m%d%H%M%S", localtime_r(&t, &tm));
            l = (m[2] == date ? "<EV>" : "<bad date " + m[2].str() + ">") + m.suffix().str();
        }
        out += l + "\n";
    }
    if (!ends_with(text, "\n") && !out.empty()) out.pop_back();
    return out;
}

// "" when the text fits the template, else the first difference.
std::string differs(const std::string &raw, const std::string &tmpl)
{
    std::string text = events(raw);
    std::vector<std::string> want = split_lines(tmpl), lines = split_lines(text);
    bool rest = !want.empty() && want.back() == "<...>";
    if (rest) {
        want.pop_back();
        if (lines.size() > want.size()) lines.resize(want.size());
    }
    std::string joined;
    for (auto &l : lines) joined += l + "\n";
    std::string d = match_output(joined, want);
    if (d.empty() && !rest && ends_with(text, "\n") != ends_with(tmpl, "\n"))
        d = "a final newline differs";
    return d.empty() ? "" : d + "\n--- in:\n" + text;
}

TEST_P(Tc, Run)
{
    const Case &c = GetParam();
    RunResult r = sh(c.cmd);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(differs(r.out, expand(c.out)), "");
    std::string log = run_log();
    EXPECT_EQ(differs(r.err, expand(c.err == "=" ? c.log : c.err)), "");
    EXPECT_EQ(differs(log, expand(c.log)), "");
    EXPECT_EQ(differs(sh(c.look).out, expand(c.seen)), "");
}

const std::string H = "Source      directory: {S}\nDestination directory: {D}\n";
const std::string AUTO = "du('{S}') => 28\n"
                         "df_special: f_bfree=16377, f_bavail=16377, f_frsize=4096, grain=1024\n"
                         "Disk space available for use by treecycle: 65508K\n"
                         "Disk space required per instance  : 154K\n"
                         "Instances supported by disk space : 425\n";
const std::string PROBE =
    "treecycle: open('/dev/kmem',O_RDONLY) failed; 6=[ENXIO] No such device or address\n"
    "    Read permission for /dev/kmem is needed,\n"
    "    in order to find out how many processes this system can support.\n";
const std::string NO_KMEM = "mount --bind {X}/sock /proc/$$/limits && exec {P} ";
const std::string IT3 = "!ERROR: treecycle: iterations (argument 3) must be a cardinal number or "
                        "time (0:00:00).\n";
const std::string ONE = "Iterations           : 1\nConcurrent  instances: 1\n<EV>Start.\n";
const std::string DONE = "<EV>Iteration 001 complete.\n<EV>!PASS: Done.\n";
const std::string FAILED = "<EV>Failed.\ntreecycle: !ERROR: TRC7_double() got error TRC7_ERROR";
const std::string PID_OPEN = "treecycle: !ERROR: open('{D}/../TRC7.pid',O_CREAT|O_TRUNC|O_WRONLY|"
                             "O_APPEND|O_SYNC,0666) failed; ";
const std::string LOOPED = "failed; 40=[ELOOP] Too many levels of symbolic links\n";
// A comparison tool that runs short of processes for job 2 and finds
// differences for job 4, one of them a second after the other.
const std::string FAKE_DIFF =
    "cp /usr/bin/diff {X}/realdiff && printf '#!/bin/sh\\ncase \"$3\" in *tbase.001.2) sleep %s; "
    "exit 121;; *tbase.001.4) sleep %s;; esac\\nexec {X}/realdiff \"$@\"\\n' ";
const std::string AFTER_DIFF = " >{X}/diff && chmod +x {X}/diff && mount --bind {X}/diff "
                               "/usr/bin/diff && {P} -fault-file-add {S} {D} 2 1";
const std::string EVIDENCE = "cat {D}/dcout.001/P4; ls {D} ../TRC7.failed";
const std::string KEPT = "Only in {D}/tbase.001.4: fault\n../TRC7.failed\n\n{D}:\ndcout.001\nlog\n"
                         "tbase.001.1\ntbase.001.2\ntbase.001.3\ntbase.001.4\ntbase.001.5\n";

// clang-format off
const Case runs[] = {
    {"CleanRunOfThreeIterations", "{P} {S} {D} 3 2", 0, "", "=",
     H + "Iterations           : 3\nConcurrent  instances: 2\n<EV>Start.\n<EV>Iteration 001 complete.\n"
     "<EV>Iteration 002 complete.\n<EV>Iteration 003 complete.\n<EV>!PASS: Done.\n",
     "ls {D}; ls {D}/log | wc -l; cat {D}/log/TRC7.003.002.5.log; p=$(cat ../TRC7.pid); "
     "ls /var/tmp/TRC7.$p.*; [ \"$(cat ../TRC7.term)\" = \"kill -s TERM -- -$p\" ] && echo term",
     "log\n30\n<N> block<*>\n/var/tmp/TRC7.<N>.log\n/var/tmp/TRC7.<N>.srcfiles\nterm\n"},
    // The list of sources: depth first, without what is mounted inside the tree
    // (which the comparison, crossing into it, then finds missing in the copy).
    {"SourceList", "mkdir {S}/mnt && mount -t tmpfs tmpfs {S}/mnt && echo x >{S}/mnt/inner && "
     "{P} -nofsck {S} {D} 1 1", 1, "", "<...>", "<...>",
     "f=$(ls /var/tmp/*.srcfiles); head -1 $f; sort $f; grep -x -e sub -e sub/b.txt $f; "
     "grep -x -e sub/deeper -e sub/deeper/c.txt $f",
     ".\n.\na.txt\nempty\nsub\nsub/b.txt\nsub/deeper\nsub/deeper/c.txt\nsub\nsub/b.txt\nsub/deeper\n"
     "sub/deeper/c.txt\n"},
    // Links in the source are copied as links, but the comparison follows
    // them: one that leads nowhere (or in a loop) fails the run; sizing the
    // count steps over it.
    {"LinksThatCannotBeFollowed", "ln -s nowhere {S}/dangling && ln -s loopy {S}/loopy && "
     "{P} -n {S} {D} 1 1 && {P} {S} {D} 1 1", 1, "1\n", "<...>",
     H + ONE + "treecycle: diff failed; status = {signal=0, exit=2}\n<...>",
     "cat {D}/dcout.001/P1; readlink {D}/tbase.001.1/dangling",
     "diff: {S}/dangling: No such file or directory\n"
     "diff: {D}/tbase.001.1/dangling: No such file or directory\n"
     "diff: {S}/loopy: Too many levels of symbolic links\n"
     "diff: {D}/tbase.001.1/loopy: Too many levels of symbolic links\nnowhere\n"},
    {"StopFileEndsTheRunWithoutItsIterationLine", "touch ../stop && {P} {S} {D} 5 1", 0, "", "=",
     H + "Iterations           : 5\nConcurrent  instances: 1\n<EV>Start.\n<EV>!PASS: Done.\n",
     "ls {D}/log", "TRC7.001.001.1.log\nTRC7.001.001.2.log\nTRC7.001.001.3.log\nTRC7.001.001.4.log\n"
     "TRC7.001.001.5.log\n"},
    {"SecondRunInTheSameTarget", "{P} {S} {D} 1 1 2>/dev/null; {P} {S} {D} 1 1", 124, "",
     "treecycle: !ERROR: mkdir('{D}/log',777) failed; 17=[EEXIST] File exists\n", "<...>", "", ""},
    {"TimeLimitShorterThanAnIteration", "{P} {S} {D} 0:00:01 1", 0, "", "=",
     H + "Time limit           :    0:00:01 (1 sec)\nConcurrent  instances: 1\n<EV>Start.\n" + DONE, "", ""},
    {"ZeroIterationsRunOne", "{P} {S} {D} 0 1", 0, "", "=",
     H + "Iterations           : 0\nConcurrent  instances: 1\n<EV>Start.\n" + DONE, "", ""},
    // The longest time limit, and a clock beyond a day; no instances, so that
    // the stop file ends the run after the first iteration.
    {"LongestTimeLimit", "touch ../stop && {P} -nofsck {S} {D} 596523:14:07 1", 0, "", "=",
     H + "Time limit           : 596523:14:07 (2147483647 sec)\nConcurrent  instances: 1\n"
     "<EV>Start.\n<EV>!PASS: Done.\n", "", ""},
    {"DashNPrintsTheCountAndWritesNothing", "{P} -n {S} {D} 5 3", 0, "3\n", "", "",
     "find {D} /var/tmp -mindepth 1; ls {T}", "dst\nrun\nsrc\n"},
    {"RelativeSourceAndTarget", "cd .. && {P} src dst 1 1", 0, "", "=", H + ONE + DONE, "ls {D}", "log\n"},
    {"Verbose", "prlimit --nproc=1000 {P} -v {S} {D} 1 1", 0, "1\n",
     "max_iterations = 1, time_limit = -1\n" + AUTO + "Total processes (v.v_proc) . . . : 1000\n"
     "Processes available  . . . . . . : 900\nInstances supported by processes : 36\nTRC7 {R} 1 1\n" +
     H + ONE + "single_info:\n  1 src_dir={S}\n    dst_dir={D}/tbase.001.1\n    dcout  ={D}/dcout.001/P1\n"
     "  2 src_dir={S}\n    dst_dir={D}/tbase.001.2\n    dcout  ={D}/dcout.001/P2\n"
     "  3 src_dir={D}/tbase.001.1\n    dst_dir={D}/tbase.001.3\n    dcout  ={D}/dcout.001/P3\n<...>\n",
     "<...>\n", "L=/var/tmp/*.log; grep -A1 '^   5 tbase' $L; grep -e refcount -e 'child=[1-9]' $L | sort | uniq -c",
     "   5 tbase={D}/tbase.001.5\n     dcout={D}/dcout.001/P5\n"
     "      1   1 child=<N>, running=1\n      2   1 refcount=2, tbase={D}/tbase.001.1\n"
     "      1   2 child=<N>, running=1\n      2   2 refcount=1, tbase={D}/tbase.001.2\n"
     "      1   3 child=<N>, running=1\n      2   3 refcount=1, tbase={D}/tbase.001.3\n"
     "      1   4 child=<N>, running=1\n      2   4 refcount=1, tbase={D}/tbase.001.4\n"
     "      1   5 child=<N>, running=1\n      2   5 refcount=1, tbase={D}/tbase.001.5\n"},

    {"WrongNumberOfArguments", "{P} {S} {D}", 1, "", "!ERROR: treecycle: expecting 3 or 4 arguments; "
     "got 2.\n!ERROR: Usage: treecycle  source-directory  target-directory  iterations  [instances]\n",
     "", "", ""},
    {"UnknownOptionsAndIterations", "{P} -bogus -v -what {S} {D} 1x 2", 1, "",
     "!ERROR: treecycle: Unknown option, '-bogus'.\n!ERROR: treecycle: Unknown option, '-what'.\n" + IT3,
     "", "", ""},
    {"UnknownOptionAndInstances", "{P} -bogus -v {S} {D} 1:30:00 x", 1, "",
     "!ERROR: treecycle: Unknown option, '-bogus'.\nmax_iterations = -1, time_limit = 5400\n"
     "!ERROR: treecycle: Instances (argument 4) must be a cardinal number.\n", "", "", ""},
    {"UnknownOptionAlone", "{P} -bogus {S} {D} 2 2", 1, "", "!ERROR: treecycle: Unknown option, '-bogus'.\n",
     "", "", ""},
    {"OptionAfterTheArguments", "{P} {S} {D} 2 -disk-reserve", 1, "",
     "!ERROR: treecycle: Instances (argument 4) must be a cardinal number.\n", "", "", ""},
    {"OptionWithoutItsValue", "{P} -disk-reserve", 1, "",
     "treecycle: -disk-reserve option requires an argument\n", "", "", ""},
    {"OptionValues", "{P} -processes-per-instance 2147483648 {S} {D} 1; "
     "{P} -fault-max-instances many {S} {D} 1", 1, "", "treecycle: -processes-per-instance 2147483648; "
     "argument must be <= 2147483647 (INT_MAX).\ntreecycle: -fault-max-instances many; argument must "
     "be a cardinal number.\n", "", "", ""},
    {"TargetThatIsNotThere", "{P} {S} {T}/nothere 1 1", 1, "", "treecycle: {T}/nothere does not exist.\n",
     "", "", ""},
    {"CountsAndTimesBeyondAnInt", "for a in 2147483648 99999999999999999999 600000:00:00 35791395:00 "
     "2147483648:00:00 '1 2147483648'; do {P} -n {S} {D} $a; echo $?; done", 0, "1\n1\n1\n1\n1\n1\n",
     IT3 + IT3 + IT3 + IT3 + IT3 + "!ERROR: treecycle: Instances (argument 4) must be a cardinal number.\n",
     "", "", ""},
    {"LargestCountAndTime", "for a in 2147483647 596523:14:07; do {P} -n -v {S} {D} $a 1 2>&1 | "
     "grep max_; done", 0, "max_iterations = 2147483647, time_limit = -1\n"
     "max_iterations = -1, time_limit = 2147483647\n", "", "", "", ""},

    // Instance counts: 28K of source, 154K needed per instance.
    {"DiskSpaceOfASmallTarget", "mount -t tmpfs -o size=512k tmpfs {D} && "
     "prlimit --nproc=1000 {P} -n -v -disk-reserve 100 {S} {D} 1", 0, "2\n",
     "max_iterations = 1, time_limit = -1\ndu('{S}') => 28\n"
     "df_special: f_bfree=128, f_bavail=128, f_frsize=4096, grain=1024\n"
     "Disk space available for use by treecycle: 412K\nDisk space required per instance  : 154K\n"
     "Instances supported by disk space : 2\nTotal processes (v.v_proc) . . . : 1000\n"
     "Processes available  . . . . . . : 900\nInstances supported by processes : 36\n", "", "", ""},
    // A run of no instance would test nothing: refused, but for -n; 28K of
    // source needs 154K, a 64K tmpfs has 64K free.
    {"NoInstanceIsRefused", "mount -t tmpfs -o size=64k tmpfs {D} && {P} {S} {D} 2; {P} -n {S} {D} 2; "
     "{P} {S} {T}/run 1 0; prlimit --nproc=150 {P} -processes-per-instance 51 {S} {T}/run 1", 1, "0\n",
     "!ERROR: treecycle: no room for one instance in {D}: one needs 154K, 64K is there.\n"
     "!ERROR: treecycle: 0 instances: the run would test nothing.\n"
     "!ERROR: treecycle: the process limit (150) leaves no room for one instance of 51 processes beside "
     "100 others.\n", "", "ls -A {D}", ""},
    {"InstancesArgumentIsAnUpperBound", "mount -t tmpfs -o size=512k tmpfs {D} && {P} -n {S} {D} 1 1 "
     "&& {P} -n {S} {D} 1 2000000", 0, "1\n3\n", "", "", "", ""},
    {"ProcessLimitDividedByProcessesPerInstance",
     "prlimit --nproc=1000 {P} -n -v -processes-per-instance 7 {S} {D} 1", 0, "128\n",
     "max_iterations = 1, time_limit = -1\n" + AUTO + "Total processes (v.v_proc) . . . : 1000\n"
     "Processes available  . . . . . . : 900\nInstances supported by processes : 128\n", "", "", ""},
    {"ProcessLimitUnderAHundredGivesNoInstances", "prlimit --nproc=50 {P} -n -v {S} {D} 1", 0, "0\n",
     "max_iterations = 1, time_limit = -1\n" + AUTO + "Total processes (v.v_proc) . . . : 50\n"
     "Processes available  . . . . . . : -50\nInstances supported by processes : 0\n", "", "", ""},
    {"ZeroProcessesPerInstanceLeavesTheCountToTheDisk",
     "{P} -n -v -processes-per-instance 0 {S} {D} 1", 0, "425\n",
     "max_iterations = 1, time_limit = -1\n" + AUTO, "", "", ""},
    // The process limit cannot be learnt when a socket is bound over the
    // file that tells it (open gives ENXIO, even to root).
    {"FailedProbeWithoutACountStops", NO_KMEM + "-n {S} {D} 1", 1, "",
     PROBE + "!ERROR: read permission for /dev/kmem is needed", "", "", ""},
    {"FailedProbeWithACountOfZeroStops", NO_KMEM + "-n {S} {D} 1 0", 1, "",
     PROBE + "!ERROR: read permission for /dev/kmem is needed", "", "", ""},
    {"FailedProbeWithACountWarnsAndGoesOn", NO_KMEM + "{S} {D} 1 3", 0, "",
     PROBE + "!WARNING: The number of available processes supported by this system\n"
     "         cannot be used to limit the number of concurrent\n"
     "         instances of TRC7, because that information is not available.\n" + H +
     "Iterations           : 1\nConcurrent  instances: 3\n<EV>Start.\n" + DONE,
     H + "Iterations           : 1\nConcurrent  instances: 3\n<EV>Start.\n" + DONE, "", ""},

    // Faults: the first draws of the seeded generator pick job 4, then job 2.
    {"FileAddIsFoundByTheComparison", "{P} -fault-file-add {S} {D} 3 1", 1, "",
     H + "Iterations           : 3\nConcurrent  instances: 1\n<EV>Start.\n<EV>Failed.\n"
     "wait_for_all_threads failed.treecycle: !ERROR: TRC7_double() got error TRC7_ERROR",
     H + "Iterations           : 3\nConcurrent  instances: 1\n<EV>Start.\n"
     "treecycle: diff failed; status = {signal=0, exit=1}\n" + FAILED,
     EVIDENCE + "; ls {D}/dcout.001; cat {D}/dcout.001/P2 {D}/log/TRC7.001.001.4.log",
     KEPT + "P1\nP2\nP3\nP4\nP5\nref.dst.4\ntbase1\ntbase2\ntbase3\ntbase4\ntbase5\n<N> block<*>\n"
     "treecycle: diff failed; status = {signal=0, exit=1}\ndiff failed."},
    {"FileDropIsFoundByTheComparison", "{P} -fault-file-drop {S} {D} 1 1", 1, "", "<...>",
     H + ONE + "treecycle: diff failed; status = {signal=0, exit=1}\n" + FAILED,
     "cat {D}/dcout.001/P4", "Only in {S}: <*>\n"},
    {"CpioFaultSavesTheCoreFile", "echo dumped >core && {P} -v -fault-cpio {S} {D} 1 1", 1, "1\n",
     "<...>", "<...>", "p=$(grep -o '^  4 child=[1-9][0-9]*' /var/tmp/*.log | cut -d= -f2); "
     "cat ../core.$p; ls core 2>&1; ls {D}/dcout.001; cat {D}/log/TRC7.001.001.4.log",
     "dumped\nls: cannot access 'core': No such file or directory\nP1\nP2\nP3\nP5\nref.dst.4\n"
     "tbase1\ntbase2\ntbase3\ntbase4\ntbase5\n<N> block<*>\ntreecycle: cpio failed; fault-cpio\n"
     "cpio failed."},
    {"DiffFaultFailsAPassedComparison", "{P} -fault-diff {S} {D} 1 1", 1, "", "<...>",
     H + ONE + "treecycle: diff failed; fault-diff\n" + FAILED,
     "cat {D}/dcout.001/P4 {D}/log/TRC7.001.001.4.log",
     "<N> block<*>\ntreecycle: diff failed; fault-diff\ndiff failed."},
    {"DrawsInCommandLineOrder", "{P} -fault-diff -fault-cpio {S} {D} 1 1; mkdir {T}/d2 && "
     "{P} -fault-cpio -fault-diff {S} {T}/d2 1 1", 1, "", "<...>", "<...>",
     "grep fault- {D}/log/*.log {T}/d2/log/*.log | sed 's|{T}/||'; grep -c Failed /var/tmp/*.log",
     "dst/log/TRC7.001.001.2.log:treecycle: cpio failed; fault-cpio\n"
     "dst/log/TRC7.001.001.4.log:treecycle: diff failed; fault-diff\n"
     "d2/log/TRC7.001.001.2.log:treecycle: diff failed; fault-diff\n"
     "d2/log/TRC7.001.001.4.log:treecycle: cpio failed; fault-cpio\n<*>:1\n<*>:1\n"},
    {"MaxInstancesLowersTheCountForTheNextIteration", "{P} -fault-max-instances 1 {S} {D} 2 3", 0, "",
     "<...>", H + "Iterations           : 2\nConcurrent  instances: 3\n<EV>Start.\n"
     "treecycle::TRC7_double(): fork ran out of resources.\n"
     "treecycle::TRC7_double(): fork ran out of resources.\n<EV>Instances adjusted from 3 to 1\n\n"
     "<EV>Iteration 001 complete.\n<EV>Iteration 002 complete.\n<EV>!PASS: Done.\n",
     "cd {D}/log && cat TRC7.001.002.1.log; echo; cat TRC7.001.003.1.log; echo; ls | wc -l; ls {D}",
     "Too many instances.\nToo many instances.\n12\nlog\n"},

    // Mends: a shortage never hides a real failure, whichever ends first.
    {"FailureAfterShortageIsNotHidden", FAKE_DIFF + "0 1" + AFTER_DIFF, 1, "", "<...>",
     H + "Iterations           : 2\nConcurrent  instances: 1\n<EV>Start.\n"
     "treecycle: diff failed; status = {signal=0, exit=1}\n" + FAILED, EVIDENCE, KEPT},
    {"ShortageAfterFailureIsNotHidden", FAKE_DIFF + "1 0" + AFTER_DIFF, 1, "", "<...>",
     H + "Iterations           : 2\nConcurrent  instances: 1\n<EV>Start.\n"
     "treecycle: diff failed; status = {signal=0, exit=1}\n" + FAILED, EVIDENCE, KEPT},
    // Links in the source are copied as links.
    {"LinkToADirectoryInsideTheTree", "ln -s sub {S}/inlink && {P} {S} {D} 1 1", 0, "", "=", H + ONE + DONE,
     "ls {D}", "log\n"},
    {"LinkToADirectoryOutsideIsLeftUntouched", "mkdir -p {T}/out/in && echo x >{T}/out/in/x && "
     "ln -s {T}/out {S}/outlink && ls -lR --full-time {T}/out >{X}/before && {P} {S} {D} 2 2 && "
     "ls -lR --full-time {T}/out | diff {X}/before - && ls {D}", 0, "log\n", "<...>", "<...>", "", ""},
    // Work files in shared directories are never written through a planted link.
    {"PlantedLinkAtTheSourceList", "echo precious >{T}/v && ln -s {T}/v /var/tmp/TRC7.$$.srcfiles && "
     "exec {P} {S} {D} 1 1", 1, "", "treecycle: !ERROR: open('/var/tmp/TRC7.<N>.srcfiles',"
     "O_CREAT|O_TRUNC|O_WRONLY,0666) " + LOOPED, "", "cat {T}/v", "precious\n"},
    {"PlantedLinkAtTheRunLog", "echo precious >{T}/v && ln -s {T}/v /var/tmp/TRC7.$$.log && "
     "exec {P} {S} {D} 1 1", 1, "", "treecycle: !ERROR: open('/var/tmp/TRC7.<N>.log',"
     "O_CREAT|O_TRUNC|O_WRONLY|O_APPEND|O_SYNC,0666) " + LOOPED, "<...>", "cat {T}/v", "precious\n"},
    {"PlantedLinkAtThePidFile", "echo precious >{T}/v && ln -s {T}/v ../TRC7.pid && {P} {S} {D} 1 1", 1,
     "", H + ONE + PID_OPEN + "40=[ELOOP] Too many levels of symbolic links\n",
     H + ONE + PID_OPEN + "40=ELOOP=Too many levels of symbolic links\n", "cat {T}/v", "precious\n"},
    // A sparse file passes the space check; its copy fills the target.
    {"TargetThatFillsUp", "mount -t tmpfs -o size=2m tmpfs {D} && truncate -s 3M {S}/sparse && "
     "{P} {S} {D} 3 1", 1, "", "<...>", H + "Iterations           : 3\nConcurrent  instances: 1\n"
     "<EV>Start.\ntreecycle: cpio failed; status = {signal=0, exit=<N>}\n" + FAILED,
     "ls {D} ../TRC7.failed", "../TRC7.failed\n\n{D}:\ndcout.001\nlog\ntbase.001.1\n"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Treecycle, Tc, ::testing::ValuesIn(runs),
                         [](const auto &info) { return std::string(info.param.name); });

// The term file's command ends every process of a run started as a session.
TEST_F(TcEnv, TermFileEndsTheWholeTree)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t p = spawn({bin_path("treecycle"), "-nofsck", src, dst, "0:01:00", "3"}, run, tmp / "out",
                    tmp / "err", [] { setsid(); });
    ASSERT_TRUE(poll_until(30, [&] {
        return file_exists(dst + "/dcout.003") && file_exists(top + "/TRC7.term");
    })) << read_file(tmp / "err");
    EXPECT_EQ(shell("cd " + run + " && sh ../TRC7.term"), 0);
    EXPECT_EQ(wait_for(p, 20, SIGKILL), 128 + SIGTERM);
    EXPECT_TRUE(poll_until(30, [&] {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        return kill(-p, 0) != 0 && errno == ESRCH;
    }));
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// An old failure marker is removed at the start; one that a sibling run
// leaves during the run ends it before its next iteration.
TEST_F(TcEnv, FailureMarkerOfASiblingRun)
{
    write_file(top + "/TRC7.failed", "");
    pid_t p =
        spawn({bin_path("treecycle"), src, dst, "0:01:00", "1"}, run, tmp / "out", tmp / "err");
    ASSERT_TRUE(poll_until(30, [&] { return contains(read_file(tmp / "err"), "001 complete."); }));
    EXPECT_FALSE(file_exists(top + "/TRC7.failed"));
    write_file(top + "/TRC7.failed", "");
    EXPECT_EQ(wait_for(p, 30, SIGKILL), 0);
    std::string err = read_file(tmp / "err");
    EXPECT_LE(count_of(err, " complete.\n"), 2) << err;
    EXPECT_TRUE(ends_with(err, ": !PASS: Done.\n")) << err;
}

} // namespace
