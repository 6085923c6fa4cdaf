// The pass-through and host-name layers on their own (no SCSI device here:
// the rig in the virtual machine runs commands that complete).
#include "platform/hostname.h"
#include "platform/scsi_passthrough.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

static std::string this_host()
{
    char name[256] = "";
    gethostname(name, sizeof name - 1);
    return name;
}

TEST(PassThrough, OpenAndCommandFailuresCarryErrno)
{
    errno = 0;
    EXPECT_EQ(scsi_open("/nonexistent/sg0"), -1);
    EXPECT_EQ(errno, ENOENT);

    TempDir dir;
    write_file(dir.path + "/plain", "x");
    int fd = scsi_open((dir.path + "/plain").c_str());
    ASSERT_GE(fd, 0);
    unsigned char cdb[16] = {0x12, 0, 0, 0, 200, 0};
    unsigned char buffer[8000];
    ScsiRequest rq{cdb, buffer, sizeof buffer, 6};
    errno = 0;
    EXPECT_EQ(scsi_command(fd, &rq), -1);
    EXPECT_EQ(errno, ENOTTY);

    // A request the layer cannot send is refused before it reaches the device.
    ScsiRequest bad{cdb, buffer, sizeof buffer, 0};
    errno = 0;
    EXPECT_EQ(scsi_command(fd, &bad), -1);
    EXPECT_EQ(errno, EINVAL);
    bad.cdb_length = 17;
    EXPECT_EQ(scsi_command(fd, &bad), -1);
    bad = {cdb, nullptr, sizeof buffer, 6};
    EXPECT_EQ(scsi_command(fd, &bad), -1);
    scsi_close(fd);
}

TEST(HostName, WholeNameOrCutAndTerminated)
{
    char name[100];
    host_name(name, sizeof name);
    EXPECT_EQ(std::string(name), this_host());

    char small[3];
    memset(small, 'x', sizeof small);
    host_name(small, sizeof small);
    EXPECT_EQ(small[2], '\0');
    EXPECT_EQ(std::string(small), this_host().substr(0, strlen(small)));
}
