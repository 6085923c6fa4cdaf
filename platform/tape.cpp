#include "platform/tape.h"

#include <sys/ioctl.h>
#include <sys/mtio.h>

const char *const TAPE_DEVICE = "/dev/st0";

int tape_rewind(int fd)
{
    struct mtop op = {};
    op.mt_op = MTREW;
    op.mt_count = 1;
    return ioctl(fd, MTIOCTOP, &op) < 0 ? -1 : 0;
}
