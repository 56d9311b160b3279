#include "pipe_signal.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cerrno>

namespace kestova {
namespace {

sigset_t PipeSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool PipePending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

void BlockPipeSignal(PipeSignalGuard& guard)
{
    const sigset_t set = PipeSet();
    sigset_t old;
    guard.wasPending = PipePending();
    guard.blocked = pthread_sigmask(SIG_BLOCK, &set, &old) == 0 && sigismember(&old, SIGPIPE) == 0;
    guard.active = true;
}

void RestorePipeSignal(PipeSignalGuard& guard)
{
    if (!guard.active) {
        return;
    }
    const int saved = errno;
    if (!guard.wasPending) {
        const sigset_t set = PipeSet();
        const timespec now = {0, 0};
        while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
        }
    }
    if (guard.blocked) {
        const sigset_t set = PipeSet();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
    guard = PipeSignalGuard{};
    errno = saved;
}

}  // namespace kestova
