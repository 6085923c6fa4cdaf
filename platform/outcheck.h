// Standard output at exit.
//
// The C library flushes standard output when a process exits but drops any
// error: lines lost to a full disk or a closed file would pass unseen and the
// program still end with status 0. Every program calls `check_output_at_exit`
// first in main: when the process exits (exit, or a return from main) its
// standard output is flushed and closed, and if that fails the program
// prints "NAME: standard output: ERROR-TEXT" on standard error ("write error"
// when an earlier write failed and left no error number) and ends with
// status 1 instead. A standard output that was closed before the program
// started, with nothing written to it, is no failure.
#pragma once

void check_output_at_exit(const char *name);
