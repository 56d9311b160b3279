#include "pipe_signal.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cerrno>

namespace kestova {
namespace {

constexpr int kWriteSignals[WriteSignalGuard::kSignals] = {SIGPIPE, SIGXFSZ};

sigset_t SetOf(int signal)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    return set;
}

}  // namespace

void BlockWriteSignals(WriteSignalGuard& guard)
{
    sigset_t pending;
    const bool known = sigpending(&pending) == 0;
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kWriteSignals) {
        sigaddset(&set, signal);
    }
    sigset_t old;
    const bool masked = pthread_sigmask(SIG_BLOCK, &set, &old) == 0;
    for (int i = 0; i < WriteSignalGuard::kSignals; ++i) {
        guard.wasPending[i] = known && sigismember(&pending, kWriteSignals[i]) == 1;
        guard.blocked[i] = masked && sigismember(&old, kWriteSignals[i]) == 0;
    }
    guard.active = true;
}

void RestoreWriteSignals(WriteSignalGuard& guard)
{
    if (!guard.active) {
        return;
    }
    const int saved = errno;
    for (int i = 0; i < WriteSignalGuard::kSignals; ++i) {
        const sigset_t set = SetOf(kWriteSignals[i]);
        if (!guard.wasPending[i]) {
            const timespec now = {0, 0};
            while (sigtimedwait(&set, nullptr, &now) == kWriteSignals[i]) {
            }
        }
        if (guard.blocked[i]) {
            pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        }
    }
    guard = WriteSignalGuard{};
    errno = saved;
}

}  // namespace kestova
