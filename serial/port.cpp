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

void fail(const Msg &m)
{
    switch (m.how) {
    case OUT: fputs(m.text, stdout); break;
    case ERR: fputs(m.text, stderr); break;
    case PERROR:
        if (m.path) {
            int e = errno;
            perror(m.path);
            errno = e;
        }
        perror(m.text);
        break;
    }
    exit(1);
}

// File scope for the signal handler: the run it closes and reports, and how.
static Run run;
static SighupAction sighup_action;

static void sighup(int)
{
    if (sighup_action != SIG_CLOSE) printf("!WARNING: killed %lld\n", run.cnt);
    if (sighup_action == SIG_REPORT_FLUSH && term_flush(run.fd) != 0) {
        printf("!ERROR: Failed to flush both the input and output queues.");
        exit(1);
    }
    close(run.fd);
    if (sighup_action == SIG_REPORT_DEVNAM && run.fdf >= 0) close(run.fdf);
    exit(0);
}

Run &install_sighup(SighupAction action)
{
    sighup_action = action;
    sig_set_group({SIGHUP, SIGINT, SIGTERM}, sighup);
    return run;
}

void setup(Run &r, const Options &o, const Port &port, unsigned char vmin)
{
    r.fd = open(o.device, port.mode);
    if (r.fd < 0) fail(port.open_failed);
    TermParams t;
    if (term_get(r.fd, &t) != 0) fail(port.get_failed);
    t.iflag = port.iflag;
    t.oflag = port.oflag;
    t.cflag = port.cflag;
    t.lflag = port.lflag;
    t.speed = o.speed->rate;
    t.vmin = vmin;
    t.vtime = 0;
    if (term_set(r.fd, &t) != 0) fail(port.set_failed);
}

int setup_drained(Run &r, const Options &o, const Drained &d)
{
    // Reads return at once while the port is emptied, then wait for data.
    setup(r, o,
          {O_RDWR, T_IXON | T_IXOFF, 0, T_CS8 | T_CREAD, 0, d.open_failed, d.get_failed,
           d.set_failed},
          0);
    time_t deadline = time(nullptr) + 4;
    memset(r.ibuf, 0, BLOCK);
    while (time(nullptr) < deadline) {
        ssize_t n = read(r.fd, r.ibuf, BLOCK);
        if (n == 0) break;
        if (n > 0) {
            r.ibuf[n] = '\0';
            fprintf(stderr, "portlisten:%s", r.ibuf);
        }
    }
    TermParams t;
    if (term_get(r.fd, &t) != 0) fail(d.get_again_failed);
    t.vmin = 1;
    t.vtime = 0;
    if (term_set(r.fd, &t) != 0) fail(d.set_again_failed);
    int capture = open_capture(d.capture);
    if (capture < 0) fail(d.capture_failed);
    return capture;
}
