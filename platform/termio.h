// Serial ports through the terminal interface.
//
// The programs rely on: `TermParams`, a port's parameters as plain fields
// (the four flag words in this platform's values, named by the T_ constants;
// the control flags without the speed; VMIN and VTIME; the line speed in bits
// per second, the same both ways), with the rest of the port's record carried
// from `term_get` to `term_set` unchanged; `term_set`, which takes effect at
// once and sets any speed of the serial speed table, 300 to 460800, including
// those the platform has no constant for (76800, 153600, 307200);
// `term_drain`, which waits until all queued output has been sent;
// `term_flush`, which discards both queues. Each returns 0, or -1 with errno
// set.
#pragma once

extern const unsigned T_IXON, T_IXOFF, T_OPOST, T_CS8, T_CREAD, T_HUPCL, T_CLOCAL;

struct TermParams {
    unsigned iflag, oflag, cflag, lflag;
    unsigned char vmin, vtime;
    unsigned speed;
    alignas(8) unsigned char record[64]; // the port's own record, as read
};

int term_get(int fd, TermParams *p);
int term_set(int fd, const TermParams *p);
int term_drain(int fd);
int term_flush(int fd);
