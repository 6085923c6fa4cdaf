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

static void change(int how, int sig)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(how, &set, nullptr);
}

void sig_hold(int sig)
{
    change(SIG_BLOCK, sig);
}

void sig_release(int sig)
{
    change(SIG_UNBLOCK, sig);
}
