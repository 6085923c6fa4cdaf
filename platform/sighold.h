// Signal handlers that stay installed, and holding signals.
//
// netsink relies on: `sig_set` installing a handler (or SIG_DFL) that stays
// installed, with the signal held while the handler runs, and with a system
// call that the handler interrupts failing with EINTR (it is not restarted);
// `sig_hold` adding the signals to the process's held set, so that one that
// arrives stays pending; `sig_release` removing them, so that pending ones
// are acted on before the call returns. Each is one system call for the
// whole list. When several released signals are pending, the highest-numbered
// is acted on first (SIGTERM before SIGINT before SIGHUP), as releasing them
// one at a time from the highest down would: Linux takes pending signals
// lowest first and gives each its own handler frame, and the frame set up
// last runs first.
#pragma once
#include <initializer_list>

void sig_set(int sig, void (*handler)(int));
void sig_hold(std::initializer_list<int> sigs);
void sig_release(std::initializer_list<int> sigs);
