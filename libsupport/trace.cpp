// The trace facility: each message goes to up to two destinations, with every
// standard stream flushed before it and the destination flushed after it, so
// that the lines of many processes sharing one log stay whole and in order.
#include "libsupport/support.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

const char *program_path = "";
const char *program_name = "";
FILE *trace1 = nullptr;
FILE *trace2 = nullptr;
const char *trace1_fname = nullptr;
const char *trace2_fname = nullptr;
int opt_verbose = 0;

void eprintf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

std::string strprintf(const char *fmt, ...)
{
    va_list ap, ap2;
    va_start(ap, fmt);
    va_copy(ap2, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s(n > 0 ? n : 0, '\0');
    if (n > 0) vsnprintf(s.data(), n + 1, fmt, ap2);
    va_end(ap2);
    return s;
}

static bool same_fd(FILE *t, FILE *std)
{
    return t && fileno(t) == fileno(std);
}

void trace_flush()
{
    if (trace1) fflush(trace1);
    if (trace2) fflush(trace2);
    if (!same_fd(trace1, stdout) && !same_fd(trace2, stdout)) fflush(stdout);
    if (!same_fd(trace1, stderr) && !same_fd(trace2, stderr)) fflush(stderr);
}

// While a destination is being opened, a failure report goes only to the
// destinations already open: it must not try the same file again.
static bool opening = false;

static void open_destination(FILE **dest, const char *fname)
{
    if (*dest || !fname) return;
    int fd = append_to_logfile(fname);
    *dest = fdopen(fd, "a");
}

static void trace_set()
{
    if (opening) return;
    opening = true;
    open_destination(&trace1, trace1_fname);
    open_destination(&trace2, trace2_fname);
    opening = false;
}

enum class form { plain, prefixed, with_errno };

static void vtrace(form f, int err, const char *fmt, va_list ap)
{
    trace_flush();
    trace_set();
    FILE *dest[2] = {trace1, trace2};
    for (int i = 0; i < 2; i++) {
        FILE *t = dest[i];
        if (!t) continue;
        va_list aq;
        va_copy(aq, ap);
        if (f != form::plain) fprintf(t, "%s: ", program_name);
        vfprintf(t, fmt, aq);
        va_end(aq);
        if (f == form::with_errno)
            fprintf(t, i == 0 ? "; %d=[%s] %s\n" : "; %d=%s=%s\n", err, errno_id(err),
                    strerror(err));
        fflush(t);
    }
}

void trace(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vtrace(form::plain, 0, fmt, ap);
    va_end(ap);
}

void trace_p(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vtrace(form::prefixed, 0, fmt, ap);
    va_end(ap);
}

void trace_errno(const char *fmt, ...)
{
    int err = errno;
    va_list ap;
    va_start(ap, fmt);
    vtrace(form::with_errno, err, fmt, ap);
    va_end(ap);
    errno = err;
}
