// The file-system look-up: which entry holds a path, and its type's family.
#include "platform/fstype.h"
#include "tests/support/mountns.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace
{

TEST(Fstype, NetworkVersionsFoldOthersStay)
{
    const char *cases[][2] = {{"nfs", "nfs"},   {"nfs4", "nfs"},  {"nfs3", "nfs"},
                              {"nfsd", "nfsd"}, {"ext4", "ext4"}, {"tmpfs", "tmpfs"},
                              {"", ""}};
    for (auto &c : cases) EXPECT_EQ(fs_family(c[0]), c[1]) << c[0];
}

TEST(Fstype, BaseTypeOfTheFirstEntryHoldingThePath)
{
    MountNs ns;
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    TempDir dir("fstype");
    ASSERT_TRUE(ns.tmpfs(dir / "t", "/dev/dsk/c0t3d0s6"));
    make_dirs(dir / "t/sub");
    EXPECT_EQ(fs_basetype((dir / "t/sub").c_str()), "tmpfs");
    errno = 0;
    EXPECT_EQ(fs_basetype((dir / "t/none").c_str()), "");
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
