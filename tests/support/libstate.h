// The support library's program-wide state, as a program sets it at its
// start: tests call this before and after they touch it.
#pragma once

// program_name becomes name, tracing goes to standard error alone (streams
// the test opened are closed), no log file, not verbose.
void reset_libsupport(const char *name);
