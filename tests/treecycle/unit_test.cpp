// The status protocol, the tool helpers and the arithmetic of the command
// line, exercised with real child processes and real files.
#include "libsupport/support.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"
#include "treecycle/treecycle.h"

#include <climits>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// A child that ends the way `how` says: exit code, or a negative signal.
pid_t child_ending(int how, int delay_ms = 0)
{
    fflush(nullptr);
    pid_t p = fork();
    if (p == 0) {
        usleep(delay_ms * 1000);
        if (how < 0) raise(-how);
        _exit(how);
    }
    return p;
}

int count_of_failed(const std::string &err)
{
    int n = 0;
    for (size_t p = err.find(": Failed.\n"); p != std::string::npos;
         p = err.find(": Failed.\n", p + 1))
        n++;
    return n;
}

bool dir_is_empty(const std::string &dir)
{
    std::string out;
    return shell("ls -A '" + dir + "'", &out) == 0 && out.empty();
}

int wait_status_of(int how)
{
    pid_t p = child_ending(how);
    int st;
    waitpid(p, &st, 0);
    return st;
}

struct Quiet : ::testing::Test {
    void SetUp() override
    {
        program_name = "treecycle";
        trace1 = stderr;
        trace2 = nullptr;
        trace2_fname = nullptr;
    }
};
} // namespace

TEST(TreecycleStatus, MapStatus)
{
    EXPECT_EQ(map_status(wait_status_of(0)), 0);
    EXPECT_EQ(map_status(wait_status_of(1)), 124);
    EXPECT_EQ(map_status(wait_status_of(2)), 124);
    EXPECT_EQ(map_status(wait_status_of(121)), 121);
    EXPECT_EQ(map_status(wait_status_of(122)), 122);
    EXPECT_EQ(map_status(wait_status_of(123)), 124);
    EXPECT_EQ(map_status(wait_status_of(-SIGKILL)), 123);
    EXPECT_EQ(map_status(wait_status_of(-SIGTERM)), 123);
}

TEST_F(Quiet, GuardWaitReportsAndClassifies)
{
    struct {
        int how;
        int result;
        const char *report;
    } cases[] = {
        {0, 0, ""},
        {121, 121, ""},
        {122, 122, ""},
        {1, 124, "treecycle: diff failed; status = {signal=0, exit=1}\n"},
        {2, 124, "treecycle: diff failed; status = {signal=0, exit=2}\n"},
        {-SIGKILL, 123, "treecycle: diff failed; status = {signal=9, exit=0}\n"},
    };
    for (auto &c : cases) {
        child_ending(c.how);
        testing::internal::CaptureStderr();
        int r = guard_wait("diff");
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r, c.result) << c.how;
        EXPECT_EQ(err, c.report) << c.how;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(guard_wait("rm"), 124);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "treecycle: wait() failed; 10=[ECHILD] No child processes\n");
}

TEST_F(Quiet, FailFork)
{
    testing::internal::CaptureStderr();
    errno = EAGAIN;
    EXPECT_EQ(fail_fork(), 121);
    errno = ENOMEM;
    EXPECT_EQ(fail_fork(), 121);
    errno = EPERM;
    EXPECT_EQ(fail_fork(), 124);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "treecycle: fork() failed; 11=[EAGAIN] Resource temporarily unavailable\n"
              "treecycle: fork() failed; 12=[ENOMEM] Cannot allocate memory\n"
              "treecycle: fork() failed; 1=[EPERM] Operation not permitted\n");
}

TEST_F(Quiet, GuardedMkdirAndChdir)
{
    TempDir t;
    guard_mkdir((t / "d").c_str(), 0777);
    EXPECT_TRUE(file_exists(t / "d"));
    EXPECT_EXIT(guard_mkdir((t / "d").c_str(), 0777), ::testing::ExitedWithCode(124),
                "treecycle: !ERROR: mkdir\\('.*/d',777\\) failed; 17=\\[EEXIST\\] File exists\n");
    EXPECT_EXIT(guard_chdir("/from", (t / "none").c_str()), ::testing::ExitedWithCode(1),
                "!ERROR: chdir\\('.*/none'\\) \\[from /from\\] failed; 2=\\[ENOENT\\]");
    EXPECT_EXIT(guard_chdir(nullptr, (t / "none").c_str()), ::testing::ExitedWithCode(1),
                "!ERROR: chdir\\('.*/none'\\) failed; 2=\\[ENOENT\\]");
}

TEST_F(Quiet, NukeDirectoryAndMove)
{
    TempDir t;
    make_tree(t / "tree", {{"a/", ""}, {"a/b", "x"}, {"c", "y"}});
    EXPECT_EQ(nuke_directory((t / "tree").c_str()), 0);
    EXPECT_FALSE(file_exists(t / "tree"));
    // Nothing there: no remover is started (no child to wait for).
    EXPECT_EQ(nuke_directory((t / "tree").c_str()), 0);
    write_file(t / "core", "c");
    EXPECT_EQ(run_mv((t / "core").c_str(), (t / "core.1").c_str()), 0);
    EXPECT_EQ(read_file(t / "core.1"), "c");
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_mv((t / "core").c_str(), (t / "core.2").c_str()), 124);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("treecycle: mv failed; status = {signal=0, exit=1}\n"), std::string::npos)
        << err;
}

TEST_F(Quiet, ToolStartGivesUpWithResourceStatusAfterTenAttempts)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change user";
    // After a change of user beyond the process limit, exec fails with EAGAIN.
    // The user must already run a process when this one changes to it.
    tool_retry_pause = 0;
    fflush(nullptr);
    pid_t holder = fork();
    if (holder == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        pause();
        _exit(0);
    }
    usleep(100000);
    pid_t p = fork();
    if (p == 0) {
        rlimit rl = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &rl) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(99);
        const char *argv[] = {"true", nullptr};
        exec_tool("/bin/true", argv);
    }
    int st;
    waitpid(p, &st, 0);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 122);
    tool_retry_pause = 10;
    // Any other exec failure ends the child with 124 at once.
    p = fork();
    if (p == 0) {
        const char *argv[] = {"none", nullptr};
        exec_tool("/nonexistent/tool", argv);
    }
    waitpid(p, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), 124);
}

TEST(TreecycleArith, InstancesForSpace)
{
    EXPECT_EQ(instances_for_space(990, 100), 1);
    EXPECT_EQ(instances_for_space(549, 100), 0);
    EXPECT_EQ(instances_for_space(550, 100), 1);
    // At least 8K per instance beyond the copies.
    EXPECT_EQ(instances_for_space(80, 0), 10);
    EXPECT_EQ(instances_for_space(88, 1), 6);
    // Free space beyond 2 TiB and trees beyond 2 GiB.
    EXPECT_EQ(instances_for_space(3LL << 30, 1), (3LL << 30) / 13);
    EXPECT_EQ(instances_for_space(1LL << 50, 0), INT_MAX);
    EXPECT_EQ(instances_for_space(20LL << 30, 4LL << 20), 930);
    // A reserve larger than the free space, or no free space known.
    EXPECT_EQ(instances_for_space(-100, 10), 0);
    EXPECT_EQ(instances_for_space(-1, 0), 0);
}

TEST(TreecycleArith, InstancesForProcesses)
{
    EXPECT_EQ(instances_for_processes(1000, 25), 36);
    EXPECT_EQ(instances_for_processes(100, 25), 0);
    EXPECT_EQ(instances_for_processes(50, 25), 0);
    EXPECT_EQ(instances_for_processes(-1, 25), -1);
    EXPECT_EQ(instances_for_processes(1000, 0), -1);
    EXPECT_EQ(instances_for_processes(4000000000LL, 1), INT_MAX);
}

TEST(TreecycleArith, UnknownProcessLimitLeavesTheCountToTheDiskSpace)
{
    EXPECT_EQ(combine_instance_counts(425, -1), 425);
    EXPECT_EQ(combine_instance_counts(425, instances_for_processes(-1, 25)), 425);
    EXPECT_EQ(combine_instance_counts(425, instances_for_processes(1000, 0)), 425);
    EXPECT_EQ(combine_instance_counts(425, 0), 0);
    EXPECT_EQ(combine_instance_counts(10, 36), 10);
    EXPECT_EQ(combine_instance_counts(0, 36), 0);
}

TEST(TreecycleArith, ElapsedTime)
{
    EXPECT_EQ(std::string(show_elapsed_time(307)), "   0:05:07");
    EXPECT_EQ(std::string(show_elapsed_time(0)), "   0:00:00");
    EXPECT_EQ(std::string(show_elapsed_time(90061)), "  25:01:01");
    EXPECT_EQ(std::string(show_elapsed_time(INT_MAX)), "596523:14:07");
}

TEST_F(Quiet, FaultDrawsInCommandLineOrder)
{
    const char *a1[] = {"treecycle",        "-fault-diff", "-fault-cpio", "-fault-file-add",
                        "-fault-file-drop", "src",         nullptr};
    srandom(1);
    int unknown;
    EXPECT_EQ(parse_options(6, (char **)a1, &unknown), 5);
    EXPECT_EQ(unknown, 0);
    int d = fault_diff, c = fault_cpio, add = fault_file_add, drop = fault_file_drop;
    srandom(1);
    int expect[4];
    for (int &x : expect) x = (int)(random() % 5) + 1;
    EXPECT_EQ(d, expect[0]);
    EXPECT_EQ(c, expect[1]);
    EXPECT_EQ(add, expect[2]);
    EXPECT_EQ(drop, expect[3]);
    const char *a2[] = {"treecycle", "-fault-cpio", "-fault-diff", "-x", "-n", "s", nullptr};
    srandom(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_options(6, (char **)a2, &unknown), 5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "!ERROR: treecycle: Unknown option, '-x'.\n");
    EXPECT_EQ(unknown, 1);
    EXPECT_EQ(fault_cpio, d);
    EXPECT_EQ(fault_diff, c);
    EXPECT_EQ(opt_commit, 0);
    opt_commit = 1;
}

TEST_F(Quiet, PathBuilders)
{
    dst_directory = "/export/dst";
    EXPECT_EQ(tbase_dir(7, 3), "/export/dst/tbase.007.3");
    EXPECT_EQ(dcout_dir(7, 3), "/export/dst/dcout.007/P3");
    strcpy(start_cwd, "/export/test");
    char *abs = get_directory("data");
    EXPECT_STREQ(abs, "/export/test/data");
    free(abs);
    abs = get_directory("/abs/x");
    EXPECT_STREQ(abs, "/abs/x");
    free(abs);
    instance = 7;
    src_directory = "/export/src";
    init_single_paths();
    EXPECT_EQ(tbase_ref_path("tbase", 2), "/export/dst/dcout.007/tbase2");
    EXPECT_EQ(tbase_ref_path("ref.src.", 3), "/export/dst/dcout.007/ref.src.3");
    EXPECT_STREQ(single_info[3].src_dir, "/export/dst/tbase.007.1");
    EXPECT_EQ(single_info[3].src_dir, tbase[1]);
    EXPECT_EQ(single_info[2].src_dir, src_directory);
    init_single_stats();
    EXPECT_EQ(refcount[1], 2);
    for (int k = 2; k <= 5; k++) EXPECT_EQ(refcount[k], 1);
    free(dcout[4]);
    dcout[4] = estrsave("noslash");
    EXPECT_EXIT(tbase_ref_path("tbase", 4), ::testing::ExitedWithCode(1),
                "!ERROR: treecycle::tbase_ref_path\\(\\): INTERNAL ERROR: p1==NULL\n");
}

// wait_for_all_threads with real children: a resource status never hides
// a real failure, whichever comes first.
namespace
{
struct Jobs : Quiet {
    TempDir t{"tcjobs"};
    std::string dst, run;
    void SetUp() override
    {
        Quiet::SetUp();
        dst = t / "dst";
        run = t / "run";
        make_dirs(dst);
        make_dirs(run);
        ASSERT_EQ(chdir(run.c_str()), 0);
        dst_directory = dst.c_str();
        src_directory = "/nonexistent-src";
        instance = 1;
        start_time = time(nullptr);
        init_single_paths();
        mkdir(make_dcout_dir(1).c_str(), 0777);
        init_single_refs();
        for (int k = 1; k <= 5; k++) make_dirs(tbase[k]);
    }
    void TearDown() override { (void)!chdir("/"); }
    bool trees_kept()
    {
        for (int k = 1; k <= 5; k++)
            if (!file_exists(tbase[k])) return false;
        return file_exists(make_dcout_dir(1));
    }
};
} // namespace

TEST_F(Jobs, ShortageAfterFailure)
{
    child_ending(1, 0);
    child_ending(121, 200);
    testing::internal::CaptureStderr();
    EXPECT_EQ(wait_for_all_threads(), 124);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of_failed(err), 1);
    EXPECT_TRUE(file_exists(t / "TRC7.failed"));
    EXPECT_TRUE(trees_kept());
}

TEST_F(Jobs, FailureAfterShortage)
{
    child_ending(122, 0);
    child_ending(-SIGKILL, 200);
    child_ending(1, 400);
    testing::internal::CaptureStderr();
    EXPECT_EQ(wait_for_all_threads(), 123);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of_failed(err), 1);
    EXPECT_TRUE(file_exists(t / "TRC7.failed"));
    EXPECT_TRUE(trees_kept());
}

TEST_F(Jobs, ShortageAloneRemovesTheTrees)
{
    child_ending(0, 0);
    child_ending(121, 100);
    testing::internal::CaptureStderr();
    EXPECT_EQ(wait_for_all_threads(), 121);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(file_exists(t / "TRC7.failed"));
    EXPECT_TRUE(dir_is_empty(dst));
}

TEST_F(Jobs, AllPassedAndCleanupRemovesUnreferencedCopies)
{
    child_ending(0, 0);
    EXPECT_EQ(wait_for_all_threads(), 0);
    // Jobs release their references as singles do after a passed comparison.
    for (int j = 1; j <= 5; j++) {
        if (j == 3) {
            ASSERT_EQ(unlink_tbase_ref("ref.src.", j), 0);
        }
        ASSERT_EQ(unlink_tbase_ref("ref.dst.", j), 0);
        write_file(dcout[j], "");
    }
    EXPECT_EQ(TRC7_double_cleanup(), 0);
    EXPECT_TRUE(dir_is_empty(dst));
}

TEST_F(Jobs, CleanupKeepsWhatIsStillReferenced)
{
    for (int j = 1; j <= 5; j++) {
        if (j != 4) {
            ASSERT_EQ(unlink_tbase_ref("ref.dst.", j), 0);
        }
        write_file(dcout[j], "");
    }
    struct stat st;
    ASSERT_EQ(stat(tbase_ref_path("tbase", 1).c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u); // ref.src.3 is still there
    testing::internal::CaptureStderr();
    EXPECT_EQ(TRC7_double_cleanup(), 124);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("rmdir('" + make_dcout_dir(1) + "') failed; 39=[ENOTEMPTY]"),
              std::string::npos)
        << err;
    EXPECT_TRUE(file_exists(tbase[1]));
    EXPECT_TRUE(file_exists(tbase[4]));
    EXPECT_FALSE(file_exists(tbase[2]));
    EXPECT_TRUE(file_exists(dcout[4]));
}
