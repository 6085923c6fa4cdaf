// Signal handlers that stay installed, and holding signals.
//
// netsink relies on: `sig_set` installing a handler (or SIG_DFL) that stays
// installed, with the signal held while the handler runs, and with a system
// call that the handler interrupts failing with EINTR (it is not restarted);
// `sig_hold` adding the signal to the process's held set, so that one that
// arrives stays pending; `sig_release` removing it, so that a pending one is
// acted on before the call returns.
#pragma once

void sig_set(int sig, void (*handler)(int));
void sig_hold(int sig);
void sig_release(int sig);
