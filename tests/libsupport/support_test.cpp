// The support library: tracing and error names, command-line words, log and
// marker files, disk usage and what a child keeps.
#include "libsupport/support.h"
#include "tests/support/libstate.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The library's program-wide state as a program without a log starts it.
struct Support : ::testing::Test {
    TempDir dir{"support"};
    void SetUp() override { reset_libsupport("prog"); }
    void TearDown() override { reset_libsupport("prog"); }
};

std::string error_text(int e)
{
    return std::string(errno_id(e)) + "] " + strerror(e) + "\n";
}

TEST(Words, CardinalsAndTimes)
{
    for (const char *s : {"12", " 12 ", "\t12\n", "007", "0", "2147483648"})
        EXPECT_TRUE(iscardinal(s)) << s;
    for (const char *s : {"", "   ", "+3", "-1", "1.5", "1 2", "12x", "x12"})
        EXPECT_FALSE(iscardinal(s)) << s;
    struct {
        const char *text;
        int seconds; // -1: refused
    } times[] = {
        // clang-format off
        {"90", 90}, {"1:30", 90}, {"1:00:00", 3600}, {":30", 30}, {"1:2:3", 3723},
        {"0:90:00", 5400}, {"0:00:00", 0}, {"2147483647", INT_MAX}, {"596523:14:07", INT_MAX},
        {"1:00:00:00", -1}, {"1::0", -1}, {"1:", -1}, {"a", -1}, {"", -1}, {":", -1}, {"::1", -1},
        {"1:2x", -1}, {"1 ", -1}, {"2147483648", -1}, {"596523:14:08", -1},
        {"99999999999999999999", -1},
        // clang-format on
    };
    for (auto &t : times) {
        int v = -1;
        EXPECT_EQ(parse_time(t.text, &v), t.seconds >= 0) << t.text;
        EXPECT_EQ(v, t.seconds) << t.text; // unchanged when refused
    }
    EXPECT_EQ(get_cardinal_argument("-i", "2147483647"), INT_MAX);
    EXPECT_EQ(get_cardinal_argument("-i", " 7 "), 7);
}

TEST(Words, ErrnoNamesBaseNamesAndKilobytes)
{
    // clang-format off
    struct { int value; const char *name; } names[] = {
        {-1, "<undef>"}, {0, "<undef>"}, {41, "<undef>"}, {126, "<undef>"}, {125, "ECANCELED"},
        {116, "ESTALE"}, {1, "EPERM"}, {35, "EDEADLK"}, {95, "EOPNOTSUPP"}, {115, "EINPROGRESS"}};
    struct { const char *path, *name; } paths[] = {
        {"/usr/bin/cpio", "cpio"}, {"a/b/", "b/"}, {"/", "/"}, {"name", "name"}, {"", ""},
        {"//a//b", "b"}};
    // The last: 2^40 blocks of 64 KiB, whose product would not fit in 64 bits.
    struct { uint64_t bavail, frsize; long k; uint64_t grain; } df[] = {
        {3, 512, 1, 512}, {3, 8192, 24, 1024}, {1024, 1000, 1000, 8},
        {1ULL << 40, 65536, 1L << 46, 1024}};
    // clang-format on
    for (auto &n : names) EXPECT_STREQ(errno_id(n.value), n.name) << n.value;
    for (auto &p : paths) EXPECT_STREQ(sname(p.path), p.name) << p.path;
    for (auto &d : df) {
        uint64_t g;
        EXPECT_EQ(df_kbytes(d.bavail, d.frsize, &g), d.k) << d.frsize;
        EXPECT_EQ(g, d.grain) << d.frsize;
    }
    EXPECT_EQ(gcd(12, 0) + gcd(0, 5), 17u);
}

TEST_F(Support, TraceFormsOnEachDestination)
{
    trace1 = nullptr;
    errno = EIO;
    trace("a %d\n", 1);
    trace_p("b\n");
    trace_errno("c");
    EXPECT_EQ(errno, EIO);
    trace1 = fopen((dir / "one").c_str(), "w");
    trace2 = fopen((dir / "two").c_str(), "w");
    trace("plain %s\n", "text");
    trace_p("prefixed\n");
    errno = ENOENT;
    trace_errno("stat('%s') failed", "/x");
    const std::string head = "plain text\nprog: prefixed\nprog: stat('/x') failed; 2=";
    EXPECT_EQ(read_file(dir / "one"), head + "[" + error_text(ENOENT));
    EXPECT_EQ(read_file(dir / "two"), head + "ENOENT=" + strerror(ENOENT) + "\n");
}

// The log is opened by name at the first trace; a child (after ft_fork, or
// after closing what it inherited) writes through a stream of its own.
TEST_F(Support, LogOpenedOnDemandAndByEachChild)
{
    std::string log = dir / "run.log";
    close(init_logfile(log.c_str()));
    trace1 = nullptr;
    trace2_fname = log.c_str();
    trace("parent 1\n");
    ASSERT_NE(trace2, nullptr);
    EXPECT_EQ(in_child([] {
                  if (ft_fork() == 0) {
                      if (trace2) _exit(4);
                      trace("child\n");
                      _exit(trace2 ? 0 : 5);
                  }
                  int st;
                  wait_child(-1, &st);
                  close_inherited(3);
                  trace("child %d\n", decode_status(st).exit);
              }),
              0);
    trace("parent 2\n");
    EXPECT_EQ(read_file(log), "parent 1\nchild\nchild 0\nparent 2\n");
}

TEST_F(Support, FilesAndDirectories)
{
    std::string f = dir / "f", out = dir / "out";
    write_file(f, "a much longer earlier content\n");
    write_string_to_file("1234", f.c_str());
    EXPECT_EQ(read_file(f), "1234");
    make_file(f.c_str());
    EXPECT_EQ(read_file(f), "");
    int fd = init_logfile(f.c_str());
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_APPEND | O_SYNC), O_APPEND | O_SYNC);
    close(fd);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(is_valid_directory(dir.path.c_str()));
    EXPECT_FALSE(is_valid_directory(f.c_str()));
    EXPECT_FALSE(is_valid_directory((dir / "none").c_str()));
    EXPECT_FALSE(is_valid_directory((f + "/x").c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prog: " + f + " is not a directory.\nprog: " + dir / "none" +
                  " does not exist.\nprog: stat('" + f + "/x') failed; 20=[" + error_text(ENOTDIR));
    // A second link to a file counts again.
    make_tree(dir / "t", {{"a/b/", ""}, {"a/f", std::string(100000, 'x')}, {"g", "y"}});
    long before = du((dir / "t").c_str());
    ASSERT_EQ(link((dir / "t/g").c_str(), (dir / "t/a/g2").c_str()), 0);
    struct stat st;
    ASSERT_EQ(stat((dir / "t/g").c_str(), &st), 0);
    EXPECT_EQ(du((dir / "t").c_str()), before + st.st_blocks / 2);
    // Links that cannot be followed (a loop, a dangling one) add nothing and
    // the walk goes on; a directory reached again through a link counts once.
    before = du((dir / "t").c_str());
    for (auto [link, to] : {std::pair{"loopy", "loopy"}, {"dangling", "nowhere"}, {"a/up", ".."}})
        ASSERT_EQ(symlink(to, (dir / "t/" + link).c_str()), 0);
    EXPECT_EQ(du((dir / "t").c_str()), before);
    // A child's output and errors go to one file; it keeps descriptors 0 to 2 only.
    write_file(out, "earlier and longer\n");
    int keep = dup(1);
    EXPECT_EQ(in_child([&] {
                  output_to_file(out.c_str(), O_TRUNC, "open('%s') failed", 7, 3);
                  printf("%d", fcntl(keep, F_GETFD) < 0);
                  fflush(stdout);
                  (void)!write(2, " to both\n", 9);
              }),
              0);
    close(keep);
    EXPECT_EQ(read_file(out), "1 to both\n");
}

// Failures that end the process, each reported once on the destination that
// is open (a log that cannot be opened is not tried again).
TEST_F(Support, FailuresEndTheProcess)
{
    std::string d = dir / "no/dir/file", victim = dir / "victim", link = dir / "link", err;
    write_file(victim, "keep\n");
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    struct {
        std::function<void()> f;
        int status;
        std::string err;
    } cases[] = {
        // clang-format off
        {[] { get_cardinal_argument("-i", "99999999999999999999"); }, 1,
         "prog: -i 99999999999999999999; argument must be <= 2147483647 (INT_MAX).\n"},
        {[] { get_cardinal_argument("-i", "2147483648"); }, 1,
         "prog: -i 2147483648; argument must be <= 2147483647 (INT_MAX).\n"},
        {[] { get_cardinal_argument("-i", "-3"); }, 1, "prog: -i -3; argument must be a cardinal number.\n"},
        {[] { get_cardinal_argument("-i", nullptr); }, 1, "prog: -i option requires an argument\n"},
        {[&] { trace2_fname = d.c_str(); trace_p("never shown\n"); }, 1,
         "prog: open('" + d + "',O_WRONLY|O_APPEND|O_SYNC,0666) failed; 2=[" + error_text(ENOENT)},
        {[&] { trace2_fname = link.c_str(); trace("never shown\n"); }, 1,
         "prog: open('" + link + "',O_WRONLY|O_APPEND|O_SYNC,0666) failed; 40=[" + error_text(ELOOP)},
        {[] { write_string_to_file("abcdefghijklmnopqrstuvwxyz0123", "/dev/full"); }, 1,
         "prog: !ERROR: write('/dev/full','abcdefghijklmnopqrst',30) failed; 28=[" + error_text(ENOSPC)},
        {[&] { make_file(d.c_str()); }, 1,
         "prog: open('" + d + "',O_CREAT|O_TRUNC|O_WRONLY,0666) failed; 2=[" + error_text(ENOENT)},
        {[&] { init_logfile(d.c_str()); }, 1, "prog: !ERROR: open('" + d +
         "',O_CREAT|O_TRUNC|O_WRONLY|O_APPEND|O_SYNC,0666) failed; 2=[" + error_text(ENOENT)},
        {[&] { du((dir / "none").c_str()); }, 1, "prog::du: ftw('" + dir / "none" + "') returned -1\n"},
        {[&] { output_to_file(d.c_str(), 0, "open('%s') failed", 7, 3); }, 7,
         "prog: open('" + d + "') failed; 2=[" + error_text(ENOENT)},
        // Flushing the closed standard output first sets errno; the suffix shows the caller's.
        {[] { fputs("pending", stdout); close(1); errno = EACCES; trace_errno("open"); exit(errno == EACCES ? 1 : 3); }, 1,
         "prog: open; 13=[" + error_text(EACCES)},
        // clang-format on
    };
    for (auto &c : cases) {
        EXPECT_EQ(in_child(c.f, nullptr, &err), c.status) << c.err;
        EXPECT_EQ(err, c.err);
    }
    EXPECT_EQ(read_file(victim), "keep\n");
}

} // namespace
