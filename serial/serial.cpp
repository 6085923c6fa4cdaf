#include "serial/serial.h"

#include "platform/termio.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

const char obuf[BLOCK + 1] = "QwErHMZa@nYBTc$%n4nUal80J&*k5l";
char ibuf[BLOCK + 1];
int fd = -1;
long long cnt = 0;
int fdf = -1;
const char *port_path = "";

void report(const Msg &m)
{
    switch (m.how) {
    case OUT: fputs(m.text, stdout); break;
    case ERR: fputs(m.text, stderr); break;
    case PATH_PERROR: {
        int e = errno;
        perror(port_path);
        errno = e;
        perror(m.text);
        break;
    }
    case PERROR: perror(m.text); break;
    }
}

void fail(const Msg &m)
{
    report(m);
    exit(1);
}

const Speed speed_table[14] = {
    {"300", 300},       {"1200", 1200},     {"2400", 2400},     {"4800", 4800},
    {"9600", 9600},     {"19200", 19200},   {"38400", 38400},   {"57600", 57600},
    {"76800", 76800},   {"115200", 115200}, {"153600", 153600}, {"230400", 230400},
    {"307200", 307200}, {"460800", 460800},
};

const Speed *find_speed(const char *value, int rows)
{
    for (int i = 0; i < rows; i++)
        if (strcmp(value, speed_table[i].text) == 0) return &speed_table[i];
    return nullptr;
}

const Speed &convert_speed(const char *value, int rows, const char *line1, const char *line2)
{
    const Speed *s = find_speed(value, rows);
    if (!s) {
        fputs(line1, stdout);
        fputs(line2, stdout);
        exit(1);
    }
    return *s;
}

long to_long(const char *text)
{
    return strtol(text, nullptr, 10); // held to LONG_MIN..LONG_MAX
}

int to_int(const char *text)
{
    long v = to_long(text);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v;
}

long budget(const char *name, const Msg &missing)
{
    const char *v = getenv(name);
    if (!v) fail(missing);
    return to_long(v);
}

time_t deadline_after(time_t start, long seconds)
{
    time_t d;
    if (__builtin_add_overflow(start, seconds, &d))
        d = seconds > 0 ? std::numeric_limits<time_t>::max() : std::numeric_limits<time_t>::min();
    return d;
}

static SighupAction sighup_action;

static void sighup(int)
{
    if (sighup_action != SIG_CLOSE) printf("!WARNING: killed %lld\n", cnt);
    if (sighup_action == SIG_REPORT_FLUSH && term_flush(fd) != 0) {
        printf("!ERROR: Failed to flush both the input and output queues.");
        exit(1);
    }
    close(fd);
    if (sighup_action == SIG_REPORT_DEVNAM && fdf >= 0) close(fdf);
    exit(0);
}

void install_sighup(SighupAction action)
{
    sighup_action = action;
    signal(SIGHUP, sighup);
    signal(SIGINT, sighup);
    signal(SIGTERM, sighup);
}

void setup(const char *path, const Port &port, const Speed &speed, unsigned char vmin)
{
    port_path = path;
    fd = open(path, port.mode);
    if (fd < 0) fail(port.open_failed);
    TermParams t;
    if (term_get(fd, &t) != 0) fail(port.get_failed);
    t.iflag = port.iflag;
    t.oflag = port.oflag;
    t.cflag = port.cflag;
    t.lflag = port.lflag;
    t.speed = speed.rate;
    t.vmin = vmin;
    t.vtime = 0;
    if (term_set(fd, &t) != 0) fail(port.set_failed);
}

void set_blocking(const Msg &get_failed, const Msg &set_failed)
{
    TermParams t;
    if (term_get(fd, &t) != 0) fail(get_failed);
    t.vmin = 1;
    t.vtime = 0;
    if (term_set(fd, &t) != 0) fail(set_failed);
}

void drain_input()
{
    time_t deadline = time(nullptr) + 4;
    memset(ibuf, 0, BLOCK);
    while (time(nullptr) < deadline) {
        ssize_t n = read(fd, ibuf, BLOCK);
        if (n == 0) break;
        if (n > 0) {
            ibuf[n] = '\0';
            fprintf(stderr, "portlisten:%s", ibuf);
        }
    }
}

int open_capture(const char *path)
{
    // Fixed names in /tmp, written as root: a link planted there must not
    // redirect the write.
    return open(path, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW, 0666);
}

bool append(int file, const void *data, size_t n)
{
    return write(file, data, n) == (ssize_t)n;
}

void send_blocks(const Sender &s, time_t deadline)
{
    while (time(nullptr) < deadline) {
        const char *pos = obuf;
        size_t left = BLOCK;
        while (left > 0) {
            ssize_t n = write(fd, pos, left);
            if (n < 0) fail(s.write_failed); // a refused write is no byte count
            if (s.capture >= 0 && !append(s.capture, pos, n)) fail(s.capture_failed);
            cnt += n;
            pos += n;
            left -= n;
        }
        if (s.capture >= 0 && !append(s.capture, "\n", 1)) fail(s.capture_failed);
    }
    if (s.capture >= 0) (void)!write(s.capture, "\n", 1);
    (void)!write(fd, s.marker, s.marker_len);
}

Ending receive_blocks(const Receiver &r)
{
    long paused = 0;
    for (;;) {
        char *pos = ibuf;
        size_t left = BLOCK;
        while (left > 0) {
            ssize_t n = read(fd, pos, left);
            if (n == 0) {
                printf("EOF\n");
                return AT_EOF;
            }
            if (n < 0) fail(r.read_failed);
            if (const char *bang = (const char *)memrchr(pos, '!', n)) {
                size_t p = bang - pos;
                cnt += p;
                if (r.capture >= 0 && (!append(r.capture, pos, p) || !append(r.capture, "\n", 1)))
                    fail(r.capture_failed);
                return AT_MARKER;
            }
            if (r.capture >= 0 && !append(r.capture, pos, n)) fail(r.capture_failed);
            cnt += n;
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

void read_block(bool verbose, const Msg &read_failed)
{
    size_t got = 0;
    while (got < BLOCK) {
        ssize_t n = read(fd, ibuf + got, BLOCK - got);
        if (n == 0) {
            printf("EOF\n");
            close(fd);
            exit(0);
        }
        if (n < 0) fail(read_failed); // nothing to fill the block from
        if (verbose) printf("R%d %d\n", (int)getpid(), (int)n);
        cnt += n;
        got += n;
    }
}

long long flow_rate(long long bytes, long long ns)
{
    if (ns <= 0) ns = 1;
    return (long long)((__int128)bytes * 1000000000 / ns);
}
