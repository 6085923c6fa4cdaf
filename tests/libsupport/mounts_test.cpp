// Mount-table queries and the process limit, on real file systems and users.
#include "libsupport/support.h"
#include "tests/support/mountns.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

TEST(MountQueries, FilesystemOfDoubleMountGivesFirstEntry)
{
    MountNs ns;
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    TempDir dir("fsof");
    ASSERT_TRUE(ns.tmpfs(dir / "a", "/dev/dsk/c0t3d0s6"));
    make_dirs(dir / "b");
    ASSERT_TRUE(ns.bind(dir / "a", dir / "b"));
    write_file(dir / "b/file", "x");
    program_name = "prog";
    const mount_entry *m = filesystem_of((dir / "b/file").c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->mnt_special, "/dev/dsk/c0t3d0s6");
    EXPECT_EQ(m->mnt_mountp, dir / "a");
    EXPECT_EQ(m->mnt_fstype, "tmpfs");
    EXPECT_EQ(filesystem_of((dir / "nothing").c_str()), nullptr);
}

TEST(MountQueries, DfAndDuOnARealFileSystem)
{
    MountNs ns;
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    TempDir dir("du");
    std::string t = dir / "tree";
    make_tree(t, {{"sub/", ""}, {"small", "x"}});
    long before = du(t.c_str());
    // What is mounted inside the tree is not counted.
    ASSERT_TRUE(ns.tmpfs(t + "/sub", "tmpfs", "size=16m"));
    write_file(t + "/sub/big", std::string(4 << 20, 'z'));
    EXPECT_LE(du(t.c_str()), before);
    EXPECT_GE(du((t + "/sub").c_str()), 4096);
    long k = df((t + "/sub").c_str());
    EXPECT_GT(k, 16 * 1024 - 4096 - 64);
    EXPECT_LT(k, 16 * 1024 - 4096 + 64);
    EXPECT_EQ(df((dir / "none").c_str()), -1);
}

// With the process limit reached, ft_fork pauses once for 2 seconds and gives up.
TEST(Processes, FtForkGivesUpAfterOnePause)
{
    std::string why;
    if (!have_root(&why)) GTEST_SKIP() << why;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // An unprivileged user with one process allowed: this one.
        struct rlimit rl = {1, 1};
        if (setgid(65534) || setuid(65534) || setrlimit(RLIMIT_NPROC, &rl)) _exit(2);
        auto t0 = std::chrono::steady_clock::now();
        pid_t r = ft_fork();
        if (r == 0) _exit(0);
        int err = errno;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        dprintf(fds[1], "%d %d %.2f", (int)r, err, s);
        _exit(0);
    }
    close(fds[1]);
    char buf[64] = {};
    ssize_t n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    ASSERT_GT(n, 0);
    int r, err;
    double s;
    ASSERT_EQ(sscanf(buf, "%d %d %lf", &r, &err, &s), 3);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, EAGAIN);
    EXPECT_GE(s, 1.9);
    EXPECT_LT(s, 3.5);
}

} // namespace
