// Partly transparent pixels put on a background colour, for a caller who
// asks (KESTOVA_FLAG_FLATTEN): the one rule both readers use.
#pragma once

#include <cstdint>

#include "call_notes.h"

namespace kestova {

// A channel of a partly transparent pixel composited over the background
// channel `under`: colour c of largest value cMost (2^n - 1, or 255 for a
// palette's colours), alpha a of largest aMost, each rounded to nearest:
// associated alpha (the colour already multiplied) gives
// 255 c / cMost + (1 - a / aMost) under, unassociated
// (a / aMost) 255 c / cMost + (1 - a / aMost) under. Exact in integers: the
// sums below are both over aMost * cMost. Associated colours brighter
// than their alpha allows are held at 255.
inline uint8_t Flattened(uint32_t c, uint32_t cMost, uint32_t a, uint32_t aMost, uint32_t under, bool associated)
{
    const uint64_t whole = uint64_t{aMost} * cMost;
    const uint64_t over = 255 * uint64_t{c} * (associated ? aMost : a);
    const uint64_t value = (over + uint64_t{aMost - a} * cMost * under + whole / 2) / whole;
    return static_cast<uint8_t>(value > 255 ? 255 : value);
}

// Whether the call asks for flattening, and its colour as blue, green, red.
inline bool FlattenBackground(const CallNotes* notes, uint8_t (&bgr)[3])
{
    if (!Asked(notes, KESTOVA_FLAG_FLATTEN)) {
        return false;
    }
    bgr[0] = static_cast<uint8_t>(notes->background);
    bgr[1] = static_cast<uint8_t>(notes->background >> 8);
    bgr[2] = static_cast<uint8_t>(notes->background >> 16);
    return true;
}

}  // namespace kestova
