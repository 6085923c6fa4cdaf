// The asynchronous transfers through io_uring and through the POSIX
// fallback, in a child so that forcing the fallback stays there.
#include "platform/async_io.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

// The step that went wrong, or 0.
static int transfers(const std::string &path)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    aio_result_t r;
    char buf[16] = {};
    auto done = [&](int started, ssize_t want) {
        return started == 0 && aiowait(nullptr) == &r && r.aio_return == want;
    };
    if (!done(aiowrite(fd, "hello", 5, 0, SEEK_SET, &r), 5)) return 1;
    if (!done(aiowrite(fd, "world", 5, 5, SEEK_SET, &r), 5)) return 2;
    if (!done(aioread(fd, buf, 10, 0, SEEK_SET, &r), 10) || memcmp(buf, "helloworld", 10)) return 3;
    if (!done(aioread(fd, buf, 4, 100, SEEK_SET, &r), 0)) return 4; // past the end
    if (aioread(-1, buf, 4, 0, SEEK_SET, &r) == 0 && (!done(0, -1) || r.aio_errno != EBADF))
        return 5;
    if (aiowait(nullptr) != (aio_result_t *)-1) return 6; // nothing outstanding
    return 0;
}

TEST(AsyncIo, WritesAndReadsAtOffsetsOnBothBackEnds)
{
    for (bool posix : {false, true}) {
        TempDir t("aio");
        std::string out;
        int status = in_child(
            [&] {
                if (posix) aio_force_posix();
                printf("%s %d\n", aio_backend(), transfers(t / "f"));
            },
            &out);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, posix ? "posix 0\n" : "io_uring 0\n");
    }
}
