#include "tests/support/libstate.h"

#include "libsupport/support.h"

void reset_libsupport(const char *name)
{
    if (trace1 && trace1 != stderr && trace1 != stdout) fclose(trace1);
    if (trace2 && trace2 != stderr && trace2 != stdout) fclose(trace2);
    program_name = name;
    trace1 = stderr;
    trace2 = nullptr;
    trace1_fname = trace2_fname = nullptr;
    opt_verbose = 0;
}
