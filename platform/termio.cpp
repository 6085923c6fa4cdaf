#include "platform/termio.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstring>
#include <sys/ioctl.h>

// termios2 carries the speed as a number beside the flags, so that every
// speed can be set: the ones Linux names by a constant through it, the
// others (76800, 153600, 307200) through BOTHER.
static_assert(sizeof(termios2) <= sizeof(TermParams::record));

const unsigned T_IXON = IXON, T_IXOFF = IXOFF, T_OPOST = OPOST, T_CS8 = CS8, T_CREAD = CREAD,
               T_HUPCL = HUPCL, T_CLOCAL = CLOCAL;

static const struct {
    unsigned rate;
    unsigned code;
} kSpeedCodes[] = {
    {300, B300},       {1200, B1200},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},
};

static unsigned speed_code(unsigned rate)
{
    for (auto &s : kSpeedCodes)
        if (s.rate == rate) return s.code;
    return BOTHER;
}

int term_get(int fd, TermParams *p)
{
    termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    p->iflag = t.c_iflag;
    p->oflag = t.c_oflag;
    p->cflag = t.c_cflag & ~(CBAUD | CIBAUD);
    p->lflag = t.c_lflag;
    p->vmin = t.c_cc[VMIN];
    p->vtime = t.c_cc[VTIME];
    p->speed = t.c_ospeed;
    memcpy(p->record, &t, sizeof t);
    return 0;
}

int term_set(int fd, const TermParams *p)
{
    termios2 t;
    memcpy(&t, p->record, sizeof t);
    t.c_iflag = p->iflag;
    t.c_oflag = p->oflag;
    // No input speed field: input runs at the output speed.
    t.c_cflag = (p->cflag & ~(CBAUD | CIBAUD)) | speed_code(p->speed);
    t.c_lflag = p->lflag;
    t.c_cc[VMIN] = p->vmin;
    t.c_cc[VTIME] = p->vtime;
    t.c_ispeed = t.c_ospeed = p->speed;
    return ioctl(fd, TCSETS2, &t);
}

int term_drain(int fd)
{
    return ioctl(fd, TCSBRK, 1);
}

int term_flush(int fd)
{
    return ioctl(fd, TCFLSH, TCIOFLUSH);
}
