// The pass-through and host-name layers on their own (no SCSI device here:
// the lab's virtual machine runs commands that complete).
#include "platform/hostname.h"
#include "platform/scsi_passthrough.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

TEST(PassThrough, FailuresCarryErrno)
{
    errno = 0;
    EXPECT_EQ(scsi_open("/nonexistent/sg0"), -1);
    EXPECT_EQ(errno, ENOENT);
    TempDir dir;
    write_file(dir / "plain", "x");
    int fd = scsi_open((dir / "plain").c_str());
    ASSERT_GE(fd, 0);
    unsigned char cdb[16] = {0x12, 0, 0, 0, 200}, buffer[8000];
    // A plain file refuses the command; a request the layer cannot send is
    // refused before it reaches the device.
    const struct {
        ScsiRequest rq;
        int err;
    } cases[] = {{{cdb, buffer, sizeof buffer, 6}, ENOTTY},
                 {{cdb, buffer, sizeof buffer, 0}, EINVAL},
                 {{cdb, buffer, sizeof buffer, 17}, EINVAL},
                 {{cdb, nullptr, sizeof buffer, 6}, EINVAL},
                 {{nullptr, buffer, sizeof buffer, 6}, EINVAL}};
    for (auto c : cases) {
        errno = 0;
        EXPECT_EQ(scsi_command(fd, &c.rq), -1);
        EXPECT_EQ(errno, c.err) << (int)c.rq.cdb_length;
    }
    scsi_close(fd);
}

TEST(HostName, WholeNameOrCutAndTerminated)
{
    char host[256] = "", name[100], small[3] = {'x', 'x', 'x'};
    gethostname(host, sizeof host - 1);
    host_name(name, sizeof name);
    EXPECT_EQ(std::string(name), host);
    host_name(small, sizeof small);
    EXPECT_EQ(std::string(small, 3), std::string(host).substr(0, 2) + '\0');
}
