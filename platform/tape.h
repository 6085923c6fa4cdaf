// Magnetic tape: the default drive and the rewind request.
//
// The tape programs rely on: `TAPE_DEVICE`, the drive they use when none is
// named ("/dev/st0", the first SCSI tape, rewound when closed); `tape_rewind`,
// which rewinds the tape open on fd to its beginning and returns 0, or -1
// with errno set (ENOTTY, for one, when fd is not a tape drive).
#pragma once

extern const char *const TAPE_DEVICE;

int tape_rewind(int fd);
