#include "platform/hostname.h"

#include <unistd.h>

void host_name(char *buf, size_t size)
{
    if (size == 0) return;
    if (gethostname(buf, size) != 0) {
        buf[0] = '\0';
        return;
    }
    // A name cut to fit the buffer comes back without its terminator.
    buf[size - 1] = '\0';
}
