// Writing to a pipe whose reader has gone raises SIGPIPE, whose default
// action kills the process: the host, for a library. While the library
// writes to a pipe or socket, SIGPIPE is blocked on the calling thread, so
// the write fails with EPIPE instead, and a SIGPIPE the write left pending
// is taken away before the signal is unblocked again. A SIGPIPE that was
// pending before, or a mask that already blocked it, is left as it was.
#pragma once

namespace kestova {

struct PipeSignalGuard {
    bool blocked = false;     // this guard blocked SIGPIPE, and unblocks it
    bool wasPending = false;  // a SIGPIPE was pending before: not ours to take
    bool active = false;
};

void BlockPipeSignal(PipeSignalGuard& guard);

// Safe on a guard that was never set up. errno is kept as it was.
void RestorePipeSignal(PipeSignalGuard& guard);

}  // namespace kestova
