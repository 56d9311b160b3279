// Two signals are raised by a write itself, and their default action kills
// the process: the host, for a library. SIGPIPE comes from writing to a
// pipe or socket whose reader has gone; SIGXFSZ from writing past the
// file-size limit (RLIMIT_FSIZE, `ulimit -f`). From the opening of the
// destination to its commit, both are blocked on the calling thread, so
// the write fails with EPIPE or EFBIG instead, and whatever such a write
// left pending is taken away before the signals are unblocked again. A
// signal that was pending before, or a mask that already blocked it, is
// left as it was.
#pragma once

namespace kestova {

struct WriteSignalGuard {
    static constexpr int kSignals = 2;  // SIGPIPE, SIGXFSZ
    bool blocked[kSignals] = {};        // this guard blocked the signal, and unblocks it
    bool wasPending[kSignals] = {};     // it was pending before: not ours to take
    bool active = false;
};

void BlockWriteSignals(WriteSignalGuard& guard);

// Safe on a guard that was never set up. errno is kept as it was.
void RestoreWriteSignals(WriteSignalGuard& guard);

}  // namespace kestova
