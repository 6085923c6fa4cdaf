// Mount-table queries on real file systems, and process creation at the
// process limit.
#include "libsupport/support.h"
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

TEST(MountQueries, FirstEntryFreeSpaceAndUsage)
{
    MountNs ns;
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    TempDir dir("fsof");
    ASSERT_TRUE(ns.tmpfs(dir / "a", "/dev/dsk/c0t3d0s6", "size=16m"));
    make_dirs(dir / "b");
    ASSERT_TRUE(ns.bind(dir / "a", dir / "b"));
    // A file system mounted twice: the first entry of the table.
    write_file(dir / "b/file", "x");
    const mount_entry *m = filesystem_of((dir / "b/file").c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->mnt_special + " " + m->mnt_mountp + " " + m->mnt_fstype,
              "/dev/dsk/c0t3d0s6 " + dir / "a tmpfs");
    EXPECT_EQ(filesystem_of((dir / "nothing").c_str()), nullptr);
    // 4 MiB in a tmpfs of 16 MiB: 4096K used, 12288K free, less the file of one page.
    make_dirs(dir / "a/sub");
    long before = du((dir / "a").c_str());
    ASSERT_TRUE(ns.tmpfs(dir / "a/sub", "tmpfs", "size=16m"));
    write_file(dir / "a/sub/big", std::string(4 << 20, 'z'));
    EXPECT_EQ(du((dir / "a").c_str()), before); // what is mounted inside is not counted
    EXPECT_EQ(du((dir / "a/sub").c_str()), 4096);
    EXPECT_EQ(df((dir / "a/sub").c_str()), 12288);
    EXPECT_EQ(df((dir / "a").c_str()), 16384 - 4);
    EXPECT_EQ(df((dir / "none").c_str()), -1);
}

// At the process limit, ft_fork pauses once for 2 seconds and gives up.
TEST(Processes, FtForkGivesUpAfterOnePause)
{
    std::string why, out;
    if (!have_root(&why)) GTEST_SKIP() << why;
    in_child(
        [] {
            // An unprivileged user with one process allowed: this one.
            struct rlimit rl = {1, 1};
            if (setgid(65534) || setuid(65534) || setrlimit(RLIMIT_NPROC, &rl)) _exit(2);
            auto t0 = std::chrono::steady_clock::now();
            pid_t r = ft_fork();
            if (r == 0) _exit(0);
            int err = errno;
            auto s = std::chrono::steady_clock::now() - t0;
            printf("%d %d %d", (int)r, err, s > std::chrono::milliseconds(1900));
        },
        &out);
    EXPECT_EQ(out, "-1 11 1");
}

} // namespace
