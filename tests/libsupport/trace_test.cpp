// The trace facility and the error names.
#include "libsupport/support.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

struct TraceState : ::testing::Test {
    TempDir dir{"trace"};
    void SetUp() override
    {
        program_name = "prog";
        trace1 = trace2 = nullptr;
        trace1_fname = trace2_fname = nullptr;
    }
    void TearDown() override
    {
        for (FILE **t : {&trace1, &trace2})
            if (*t && *t != stderr && *t != stdout) fclose(*t);
        trace1 = trace2 = nullptr;
        trace1_fname = trace2_fname = nullptr;
    }
    // Runs f in a child process; returns its exit status.
    template <class F> int in_child(F f)
    {
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            f();
            _exit(0);
        }
        int st;
        waitpid(pid, &st, 0);
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
};

TEST_F(TraceState, NoDestinationsWriteNothing)
{
    errno = EIO;
    trace("a %d\n", 1);
    trace_p("b\n");
    trace_errno("c");
    EXPECT_EQ(errno, EIO);
}

TEST_F(TraceState, ErrnoSuffixFormsOnEachDestination)
{
    trace1 = fopen((dir / "one").c_str(), "w");
    trace2 = fopen((dir / "two").c_str(), "w");
    trace("plain %s\n", "text");
    trace_p("prefixed\n");
    errno = ENOENT;
    trace_errno("stat('%s') failed", "/x");
    const std::string e = strerror(ENOENT);
    EXPECT_EQ(read_file(dir / "one"),
              "plain text\nprog: prefixed\nprog: stat('/x') failed; 2=[ENOENT] " + e + "\n");
    EXPECT_EQ(read_file(dir / "two"),
              "plain text\nprog: prefixed\nprog: stat('/x') failed; 2=ENOENT=" + e + "\n");
}

// Flushing standard output first fails here (its descriptor is closed), which
// sets errno; the suffix must still show the caller's errno.
TEST_F(TraceState, ErrnoIsTheOneAtTheCall)
{
    std::string log = dir / "log";
    int st = in_child([&] {
        trace1 = fopen(log.c_str(), "w");
        fputs("pending", stdout);
        close(1);
        errno = EACCES;
        trace_errno("open");
        _exit(errno == EACCES ? 0 : 3);
    });
    EXPECT_EQ(st, 0);
    EXPECT_EQ(read_file(log), "prog: open; 13=[EACCES] " + std::string(strerror(EACCES)) + "\n");
}

TEST_F(TraceState, LogOpenedOnDemandAndSharedWithChildren)
{
    std::string log = dir / "run.log";
    close(init_logfile(log.c_str()));
    trace2_fname = log.c_str();
    trace("parent 1\n");
    ASSERT_NE(trace2, nullptr);
    pid_t pid = ft_fork();
    if (pid == 0) {
        // The child's stream is its own: it reopens the log by name.
        if (trace2 != nullptr) _exit(4);
        trace("child\n");
        _exit(trace2 != nullptr ? 0 : 5);
    }
    int st;
    waitpid(pid, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), 0);
    trace("parent 2\n");
    EXPECT_EQ(read_file(log), "parent 1\nchild\nparent 2\n");
}

// A log that cannot be opened is reported once, on the destination that is
// open, and ends the process with status 1.
TEST_F(TraceState, OpenFailureReportsOnceAndExits)
{
    std::string one = dir / "one";
    std::string missing = dir / "no/such/log";
    int st = in_child([&] {
        trace1 = fopen(one.c_str(), "w");
        trace2_fname = missing.c_str();
        trace_p("never shown\n");
        _exit(9);
    });
    EXPECT_EQ(st, 1);
    EXPECT_EQ(read_file(one), "prog: open('" + missing +
                                  "',O_WRONLY|O_APPEND|O_SYNC,0666) failed; 2=[ENOENT] " +
                                  strerror(ENOENT) + "\n");
}

TEST_F(TraceState, PlantedLinkAtLogIsNotFollowed)
{
    std::string victim = dir / "victim", link = dir / "log", one = dir / "one";
    write_file(victim, "keep\n");
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    int st = in_child([&] {
        trace1 = fopen(one.c_str(), "w");
        trace2_fname = link.c_str();
        trace("x\n");
        _exit(0);
    });
    EXPECT_EQ(st, 1);
    EXPECT_EQ(read_file(victim), "keep\n");
    EXPECT_NE(read_file(one).find("; 40=[ELOOP]"), std::string::npos);
}

TEST(ErrnoId, NamesAndBounds)
{
    EXPECT_STREQ(errno_id(-1), "<undef>");
    EXPECT_STREQ(errno_id(0), "<undef>");
    EXPECT_STREQ(errno_id(ECANCELED + 1), "<undef>"); // the largest value with a name
    EXPECT_STREQ(errno_id(41), "<undef>");            // no Linux errno has this value
    EXPECT_STREQ(errno_id(ECANCELED), "ECANCELED");
    EXPECT_STREQ(errno_id(ESTALE), "ESTALE");
    EXPECT_STREQ(errno_id(EPERM), "EPERM");
    EXPECT_STREQ(errno_id(EDEADLOCK), "EDEADLK");
    EXPECT_STREQ(errno_id(ENOTSUP), "EOPNOTSUPP");
    EXPECT_STREQ(errno_id(EINPROGRESS), "EINPROGRESS");
}

TEST(Sname, LastComponent)
{
    EXPECT_STREQ(sname("/usr/bin/cpio"), "cpio");
    EXPECT_STREQ(sname("a/b/"), "b/");
    EXPECT_STREQ(sname("/"), "/");
    EXPECT_STREQ(sname("name"), "name");
    EXPECT_STREQ(sname(""), "");
    EXPECT_STREQ(sname("//a//b"), "b");
}

TEST(Df, GrainKeepsTheProductSmall)
{
    uint64_t g;
    EXPECT_EQ(df_kbytes(3, 512, &g), 1);
    EXPECT_EQ(g, 512u);
    EXPECT_EQ(df_kbytes(3, 8192, &g), 24);
    EXPECT_EQ(g, 1024u);
    EXPECT_EQ(df_kbytes(1024, 1000, &g), 1000);
    EXPECT_EQ(g, 8u);
    // 2^40 blocks of 64 KiB: the product of the raw numbers would not fit in 64 bits.
    EXPECT_EQ(df_kbytes(1ULL << 40, 65536, &g), (long)(1LL << 46));
    EXPECT_EQ(gcd(12, 0), 12u);
    EXPECT_EQ(gcd(0, 5), 5u);
}

} // namespace
