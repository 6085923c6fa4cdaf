#include "platform/sighold.h"

#include <csignal>

void sig_set(int sig, void (*handler)(int))
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = 0; // no SA_RESTART, no SA_RESETHAND
    sigaction(sig, &sa, nullptr);
}

static void change(int how, std::initializer_list<int> sigs)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : sigs) sigaddset(&set, sig);
    sigprocmask(how, &set, nullptr);
}

void sig_hold(std::initializer_list<int> sigs)
{
    change(SIG_BLOCK, sigs);
}

void sig_release(std::initializer_list<int> sigs)
{
    change(SIG_UNBLOCK, sigs);
}
