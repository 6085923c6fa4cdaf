// Helpers that report and end the process when they fail.
#include "libsupport/support.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

static void *emalloc(size_t n)
{
    void *p = malloc(n ? n : 1);
    if (!p) {
        trace_p("malloc() failed\n");
        exit(1);
    }
    return p;
}

char *estrsave(const char *s)
{
    size_t n = strlen(s) + 1;
    char *p = (char *)emalloc(n);
    memcpy(p, s, n);
    return p;
}

void edup2(int oldfd, int newfd)
{
    if (oldfd == newfd) return;
    if (dup2(oldfd, newfd) < 0) {
        trace_errno("dup2(%d,%d) failed", oldfd, newfd);
        exit(1);
    }
}
