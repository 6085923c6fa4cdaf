#include "platform/sighold.h"

#include <csignal>

static sigset_t set_of(std::initializer_list<int> sigs)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : sigs) sigaddset(&set, sig);
    return set;
}

void sig_set_group(std::initializer_list<int> sigs, void (*handler)(int), bool restart)
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sa.sa_mask = set_of(sigs);
    sa.sa_flags = restart ? SA_RESTART : 0;
    for (int sig : sigs) sigaction(sig, &sa, nullptr);
}

void sig_hold(std::initializer_list<int> sigs)
{
    sigset_t set = set_of(sigs);
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void sig_release(std::initializer_list<int> sigs)
{
    sigset_t set = set_of(sigs);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void sig_set(int sig, void (*handler)(int))
{
    sig_set_group({sig}, handler, false);
}
