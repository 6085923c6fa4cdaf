// The port: its set-up, the failures that name it, and the signal handler
// that closes it.
#include "serial/serial.h"

#include "platform/sighold.h"
#include "platform/termio.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static const char *port_path = "";

void fail(const Msg &m)
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
    exit(1);
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
    sig_set_group({SIGHUP, SIGINT, SIGTERM}, sighup);
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
