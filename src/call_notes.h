// What one conversion carries beside its two files: the caller's limit on
// the picture's pixels and on the destination's kind, the colour to
// flatten transparency over, and why the call was refused. It lives on the
// call's stack and the call's SourceFile points to it, so every reader
// reaches it: a reader records the reason where it refuses, in the line
// that refuses, and a conversion that succeeds pays nothing for it.
#pragma once

#include <cstdint>

#include "kestovatiff.h"
#include "picture_limits.h"
#include "status.h"

namespace kestova {

struct CallNotes {
    uint64_t maxPixels = kMaxPixels;  // the caller's limit, where smaller than the sides allow
    int folder = -1;                  // POSIX: the directory a relative destination is taken in
    uint32_t background = 0;          // 0xRRGGBB, for KESTOVA_FLAG_FLATTEN
    uint32_t flags = 0;               // the caller's KESTOVA_FLAG_* (none for the two plain exports)
    int32_t reason = KESTOVA_REASON_NONE;
    uint64_t value = 0;
};

// Records why the call fails and returns `status`, for `return Refuse(...)`
// at a refusal. Only the first reason is kept: it is recorded where the
// refusal happened, and the callers that pass the failure on know less.
// Nothing is recorded without notes (a reader's tests, a scratch file).
inline Status Refuse(CallNotes* notes, Status status, KestovaReason reason, uint64_t value = 0)
{
    if (notes != nullptr && notes->reason == KESTOVA_REASON_NONE) {
        notes->reason = reason;
        notes->value = value;
    }
    return status;
}

// Whether the caller asked for `flag` (a KESTOVA_FLAG_*).
inline bool Asked(const CallNotes* notes, uint32_t flag)
{
    return notes != nullptr && (notes->flags & flag) != 0;
}

// Whether the caller asked for samples deeper than 8 bits to be reduced
// to 8 (KESTOVA_FLAG_REDUCE); without it they are refused.
inline bool ReduceAllowed(const CallNotes* notes) { return Asked(notes, KESTOVA_FLAG_REDUCE); }

// Whether a picture of `pixels` stays within the call's limit; false with
// the reason recorded.
inline bool PixelsAllowed(CallNotes* notes, uint64_t pixels)
{
    const uint64_t limit = notes != nullptr ? notes->maxPixels : kMaxPixels;
    if (pixels <= limit) {
        return true;
    }
    (void)Refuse(notes, Status::TooLarge, KESTOVA_REASON_PICTURE_LIMIT, pixels);
    return false;
}

}  // namespace kestova
