// Signal handlers that stay installed, and holding signals.
//
// netsink relies on: `sig_set` installing a handler (or SIG_DFL) that stays
// installed, with the signal held while the handler runs, and with a system
// call that the handler interrupts failing with EINTR (it is not restarted);
// `sig_hold` adding the signals to the process's held set, so that one that
// arrives stays pending; `sig_release` removing them, so that pending ones
// are acted on before the call returns. Each is one system call for the
// whole list.
//
// netsink and the serial programs rely on: `sig_set_group` installing one
// handler for each of the signals, with all of them held while it runs: a
// second of them that arrives then stays pending, instead of running the
// handler again inside the first run (which printed its line twice, or hung
// in the exit that the first run had begun). A system call that the handler
// interrupts is restarted, as with `signal`, unless `restart` is false: then
// it fails with EINTR (or returns what it had moved).
#pragma once
#include <initializer_list>

void sig_set(int sig, void (*handler)(int));
void sig_set_group(std::initializer_list<int> sigs, void (*handler)(int), bool restart = true);
void sig_hold(std::initializer_list<int> sigs);
void sig_release(std::initializer_list<int> sigs);
