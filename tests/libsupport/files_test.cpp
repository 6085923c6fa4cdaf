// Files, disk usage, mount-table queries and processes.
#include "libsupport/support.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

struct Files : ::testing::Test {
    TempDir dir{"files"};
    void SetUp() override
    {
        program_name = "prog";
        trace1 = stderr;
        trace2 = nullptr;
    }
    void TearDown() override { trace1 = nullptr; }
};

TEST_F(Files, IsValidDirectory)
{
    write_file(dir / "f", "x");
    EXPECT_TRUE(is_valid_directory(dir.path.c_str()));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(is_valid_directory((dir / "f").c_str()));
    EXPECT_FALSE(is_valid_directory((dir / "none").c_str()));
    EXPECT_FALSE(is_valid_directory((dir / "f/x").c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prog: " + dir / "f" + " is not a directory.\n" + "prog: " + dir / "none" +
                  " does not exist.\n" + "prog: stat('" + dir / "f/x" + "') failed; 20=[ENOTDIR] " +
                  strerror(ENOTDIR) + "\n");
}

TEST_F(Files, WriteStringReplacesContent)
{
    std::string f = dir / "pid";
    write_file(f, "a much longer earlier content\n");
    write_string_to_file("1234", f.c_str());
    EXPECT_EQ(read_file(f), "1234");
    make_file(f.c_str());
    EXPECT_EQ(read_file(f), "");
    int fd = init_logfile(f.c_str());
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_APPEND | O_SYNC), O_APPEND | O_SYNC);
    close(fd);
}

TEST_F(Files, WriteFailureShowsTwentyCharacters)
{
    EXPECT_EXIT(write_string_to_file("abcdefghijklmnopqrstuvwxyz0123", "/dev/full"),
                ::testing::ExitedWithCode(1),
                "^prog: !ERROR: write\\('/dev/full','abcdefghijklmnopqrst',30\\) failed; "
                "28=\\[ENOSPC\\] ");
    std::string d = dir / "no/dir/file";
    EXPECT_EXIT(make_file(d.c_str()), ::testing::ExitedWithCode(1),
                "^prog: open\\('.*no/dir/file',O_CREAT\\|O_TRUNC\\|O_WRONLY,0666\\) failed; "
                "2=\\[ENOENT\\]");
    EXPECT_EXIT(
        init_logfile(d.c_str()), ::testing::ExitedWithCode(1),
        "^prog: !ERROR: open\\('.*',O_CREAT\\|O_TRUNC\\|O_WRONLY\\|O_APPEND\\|O_SYNC,0666\\) "
        "failed; 2=\\[ENOENT\\]");
}

TEST_F(Files, DuCountsBlocksOfTheTree)
{
    make_dirs(dir / "empty");
    struct stat st;
    ASSERT_EQ(stat((dir / "empty").c_str(), &st), 0);
    EXPECT_EQ(du((dir / "empty").c_str()), (long)(st.st_blocks + 1) / 2);

    std::string t = dir / "tree";
    make_tree(t, {{"a/b/", ""}, {"a/f", std::string(100000, 'x')}, {"g", "y"}});
    link((t + "/g").c_str(), (t + "/a/g2").c_str());
    long k = du(t.c_str());
    EXPECT_GE(k, 100000 / 1024);
    EXPECT_LT(k, 100000 / 1024 + 64);
    EXPECT_EXIT(du((dir / "none").c_str()), ::testing::ExitedWithCode(1),
                "^prog::du: ftw\\('.*none'\\) returned -1\n$");
}

TEST_F(Files, CloseAllLeavesOnlyTheLowDescriptors)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 40);
        close_all(3);
        int n = 0;
        DIR *d = opendir("/proc/self/fd");
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.' && atoi(e->d_name) > 2 && atoi(e->d_name) != dirfd(d)) n++;
        _exit(n);
    }
    close(fds[0]);
    close(fds[1]);
    int st;
    waitpid(pid, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), 0);
}

} // namespace
