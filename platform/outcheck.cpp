#include "platform/outcheck.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdio_ext.h>
#include <unistd.h>

static const char *program;

static void close_output()
{
    bool pending = __fpending(stdout) != 0;
    bool failed_before = ferror(stdout) != 0;
    errno = 0;
    bool failed_now = fclose(stdout) != 0;
    if (failed_before || (failed_now && (pending || errno != EBADF))) {
        // An earlier failed write left no error number behind.
        int e = failed_now ? errno : 0;
        fprintf(stderr, "%s: standard output: %s\n", program, e ? strerror(e) : "write error");
        _exit(1);
    }
}

void check_output_at_exit(const char *name)
{
    program = name;
    atexit(close_output);
}
