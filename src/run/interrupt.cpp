#include "run/interrupt.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "output/console.h"
#include "output/reasons.h"
#include "output/records.h"
#include "sources/keyboard.h"
#include "transport/execmd.h"

static const struct {
    int Number;
    const char *Name;
} kAbortSignals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
static volatile sig_atomic_t g_signal = 0;
static REGISTRY_RUN *g_registry = nullptr;

static void NoteSignal(int sig)
{
    if (g_signal == 0)
        g_signal = sig;
}

void ArmInterrupts(REGISTRY_RUN *registry)
{
    if (!RegistryAwaitsFinalRow(registry))
        return;
    g_registry = registry;
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    // Restarted calls let the request in flight finish (its pipe read, its
    // wait for the tool); a sleep is cut short, which only brings the next
    // checkpoint nearer.
    sa.sa_flags = SA_RESTART;
    static sigset_t shielded;
    sigemptyset(&shielded);
    for (const auto &s : kAbortSignals) {
        struct sigaction old;
        sigaction(s.Number, nullptr, &old);
        if (old.sa_handler != SIG_IGN)
            sigaction(s.Number, &sa, nullptr);
        sigaddset(&shielded, s.Number);
    }
    RequestCheckpoint = EndRunIfInterrupted;
    RequestShieldedSignals = &shielded;
}

void EndRunIfInterrupted()
{
    int sig = g_signal;
    if (sig == 0 || !RegistryAwaitsFinalRow(g_registry))
        return;
    RequestCheckpoint = nullptr;
    RequestShieldedSignals = nullptr;
    const char *name = "a signal";
    for (const auto &s : kAbortSignals) {
        if (s.Number == sig)
            name = s.Name;
    }
    char why[64];
    snprintf(why, sizeof(why), "interrupted by %s", name);
    printf("Error! Run %s; nothing more is sent to the BMC.\n", why);
    RegistryAbortRun(g_registry, 128 + sig, why);
    OverrideFailCause(CAUSE_INTERRUPTED);
    if (!FailBannerShown())
        ShowFailBanner();
    WriteFailRecord();
    DiscardUnreadKeys();
    fflush(stdout);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);  // not reached: the signal's default action ends the process
}
