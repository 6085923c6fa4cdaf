// Capture files, and the blocks that the programs send and receive.
#include "serial/serial.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int open_fixed(const char *path, int flags)
{
    // Fixed names in /tmp, written as root: what another user planted there
    // must not take the data or hold the program. A link is not followed; a
    // FIFO would block the open or, once full, the writes for ever, so the
    // open does not wait and only a regular file is kept.
    int f = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
    if (f < 0) return -1;
    struct stat st;
    int fl = -1;
    if (fstat(f, &st) == 0) {
        if (S_ISREG(st.st_mode))
            fl = fcntl(f, F_GETFL);
        else
            errno = EACCES; // as the kernel refuses another user's FIFO in a sticky directory
    }
    if (fl >= 0 && fcntl(f, F_SETFL, fl & ~O_NONBLOCK) == 0) return f;
    int e = errno;
    close(f);
    errno = e;
    return -1;
}

int open_capture(const char *path)
{
    return open_fixed(path, O_RDWR | O_APPEND | O_CREAT);
}

bool append(int file, const void *data, size_t n)
{
    return write(file, data, n) == (ssize_t)n;
}

static const char obuf[BLOCK + 1] = "QwErHMZa@nYBTc$%n4nUal80J&*k5l"; // the pattern

void send_blocks(Run &run, const Sender &s, time_t deadline)
{
    while (time(nullptr) < deadline) {
        size_t done = 0;
        do {
            ssize_t n = write(run.fd, obuf + done, BLOCK - done);
            if (n < 0) fail(s.write_failed); // a refused write is no byte count
            if (s.capture >= 0 && !append(s.capture, obuf + done, n)) fail(s.capture_failed);
            run.cnt += n;
            done += n;
            if (s.report) printf("W%d %d/%lld\n", (int)getpid(), (int)n, run.cnt);
            if (s.limit > 0 && run.cnt >= s.limit) {
                printf("MAX\n");
                close(run.fd);
                exit(0);
            }
        } while (s.resume && done < BLOCK);
        if (s.capture >= 0 && !append(s.capture, "\n", 1)) fail(s.capture_failed);
    }
    if (s.capture >= 0) (void)!write(s.capture, "\n", 1);
    if (s.marker) (void)!write(run.fd, s.marker, s.marker_len);
}

constexpr long PAUSE_BYTES = 110700; // 3690 blocks

Ending receive_blocks(Run &run, const Receiver &r)
{
    long paused = 0;
    for (;;) {
        char *pos = run.ibuf;
        size_t left = BLOCK;
        while (left > 0) {
            ssize_t n = read(run.fd, pos, left);
            if (n == 0) {
                printf("EOF\n");
                return AT_EOF;
            }
            if (n < 0) fail(r.read_failed);
            if (const char *bang = (const char *)memrchr(pos, '!', n)) {
                size_t p = bang - pos;
                run.cnt += p;
                if (r.capture >= 0 && (!append(r.capture, pos, p) || !append(r.capture, "\n", 1)))
                    fail(r.capture_failed);
                return AT_MARKER;
            }
            if (r.capture >= 0 && !append(r.capture, pos, n)) fail(r.capture_failed);
            run.cnt += n;
            paused += n;
            pos += n;
            left -= n;
        }
        if (r.capture >= 0 && !append(r.capture, "\n", 1)) fail(r.capture_failed);
        // Reads stay within a block, so the count meets the mark exactly.
        if (r.pace && paused == PAUSE_BYTES) {
            sleep(1);
            paused = 0;
        }
    }
}

void read_block(Run &run, bool verbose, const Msg &read_failed)
{
    size_t got = 0;
    while (got < BLOCK) {
        ssize_t n = read(run.fd, run.ibuf + got, BLOCK - got);
        if (n == 0) {
            printf("EOF\n");
            close(run.fd);
            exit(0);
        }
        if (n < 0) fail(read_failed); // nothing to fill the block from
        if (verbose) printf("R%d %d\n", (int)getpid(), (int)n);
        run.cnt += n;
        got += n;
    }
}

long long flow_rate(long long bytes, long long ns)
{
    if (ns <= 0) ns = 1;
    return (long long)((__int128)bytes * 1000000000 / ns);
}
