// The pairs end to end over a socat cable at 460800, each test in a private
// /tmp, and portlisten's drain phase. Waiting for queued output returns at
// once on a pseudo-terminal, so txpace's final flush may throw away the end
// of the transfer and the marker before the cable has carried them: its
// receiver gets a time limit and the capture files are compared up to what
// arrived (the lab compares them whole on real UARTs). porttalk waits 10
// seconds before its flush, so its pair is compared whole here too.
#include "tests/support/cable.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace
{

using Pair = PrivateTmpTest;

TEST_F(Pair, FlowControl)
{
    play_pairs("flow_control.txt");
}

TEST_F(Pair, ReceiveAndTransmit)
{
    play_pairs("transfer.txt");
}

TEST_F(Pair, ReceiveAndTransmitWithoutTime)
{
    play_pairs("transfer_without_time.txt");
}

TEST_F(Pair, DeviceInputAndOutput)
{
    play_pairs("device.txt");
}

// portlisten first empties its port: nothing queued ends that at once; a
// peer that keeps the queue full holds it there for its 4 seconds, each read
// echoed after "portlisten:" up to its first NUL. The echo goes to a pipe
// read slowly, so that the reader cannot outrun the peer. The peer holds the
// pseudo-terminal's other side itself and tops it up every millisecond:
// through socat the queue ran dry now and then, socat waiting for room that
// had come without waking it.
TEST_F(Pair, DrainPhase)
{
    for (bool flood : {false, true}) {
        SCOPED_TRACE(flood ? "a peer that keeps sending" : "nothing queued");
        unlink("/tmp/portlisten.tmp");
        int side = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(side >= 0 && grantpt(side) == 0 && unlockpt(side) == 0);
        termios raw;
        ASSERT_EQ(tcgetattr(side, &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(side, TCSANOW, &raw), 0);
        pid_t peer = flood ? fork() : -1;
        if (peer == 0) {
            const std::string chunk = repeat(std::string("abcdefg\0", 8), 512);
            for (;;)
                if (write(side, chunk.data(), chunk.size()) < 0) usleep(1000);
        }
        usleep(flood ? 300000 : 0);
        unlink("/tmp/echo");
        ASSERT_EQ(mkfifo("/tmp/echo", 0600), 0);
        int echo = open("/tmp/echo", O_RDONLY | O_NONBLOCK);
        fcntl(echo, F_SETPIPE_SZ, 4096);
        auto started = std::chrono::steady_clock::now();
        pid_t rx =
            spawn({bin_path("portlisten"), "-d", ptsname(side)}, "", "/tmp/rx.out", "/tmp/echo");
        std::string err;
        char buf[64];
        auto take = [&] {
            ssize_t n = read(echo, buf, sizeof buf);
            err.append(buf, std::max<ssize_t>(n, 0));
            return n > 0;
        };
        ASSERT_TRUE(poll_until(30, [&] {
            take();
            usleep(2000);
            return file_exists("/tmp/portlisten.tmp");
        }));
        double drained =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        kill(rx, SIGTERM);
        EXPECT_EQ(wait_for(rx, 20), 0);
        while (take()) {
        }
        close(echo);
        wait_for(peer, 0, SIGKILL);
        close(side);
        // The budget is whole seconds from the start of draining: 3 to 4 seconds.
        EXPECT_EQ(drained > 2.5, flood) << drained;
        EXPECT_EQ(err.find('\0'), std::string::npos);
        int reads = 0;
        for (size_t at = 0; at < err.size(); reads++) {
            ASSERT_EQ(err.compare(at, 11, "portlisten:"), 0) << err.substr(at, 40);
            size_t next = std::min(err.find("portlisten:", at + 11), err.size());
            EXPECT_TRUE(contains("abcdefg", err.substr(at + 11, next - at - 11))) << at;
            at = next;
        }
        EXPECT_TRUE(flood ? reads > 100 : reads == 0) << reads;
    }
}

} // namespace
