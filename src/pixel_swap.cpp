#include "pixel_swap.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KESTOVA_HAVE_SSSE3_PATH 1
#include <immintrin.h>
#endif

namespace kestova {
namespace {

void SwapPixelsScalar(uint8_t* __restrict to, const uint8_t* __restrict from, size_t size)
{
    for (size_t i = 0; i < size; i += 3) {
        to[i] = from[i + 2];
        to[i + 1] = from[i + 1];
        to[i + 2] = from[i];
    }
}

void SwapRowsScalar(uint8_t* to, const uint8_t* block, size_t count, size_t stride, size_t rowBytes,
                    bool reversed)
{
    for (size_t i = 0; i < count; ++i) {
        const size_t row = reversed ? count - 1 - i : i;
        SwapPixelsScalar(to + i * rowBytes, block + row * stride, rowBytes);
    }
}

#if KESTOVA_HAVE_SSSE3_PATH

// 16 bytes hold five whole pixels and one byte of a sixth: one byte shuffle
// reverses the five. The sixth byte is stored unchanged and put right by
// the next step, 15 bytes on.
#define KESTOVA_SSSE3 __attribute__((target("ssse3")))

KESTOVA_SSSE3 inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
KESTOVA_SSSE3 inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Swaps a run of at least 16 bytes with vector steps only: steps of 15 from
// the start, then one step over the last 16 bytes. That step starts on the
// last byte of a pixel, whose swapped value (the pixel's first byte) lies
// outside the 16 loaded, so it is put in separately, with its neighbour.
KESTOVA_SSSE3 inline void SwapRunSsse3(uint8_t* to, const uint8_t* from, size_t size)
{
    const __m128i head = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    const __m128i tail = _mm_setr_epi8(0, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
    size_t i = 0;
    for (; i + 16 <= size; i += 15) {
        Store(to + i, _mm_shuffle_epi8(Load(from + i), head));
    }
    if (i < size) {
        const size_t last = size - 16;  // the last byte of a pixel: last % 3 == 2
        const int firstTwo = from[last - 2] | (from[last + 3] << 8);
        Store(to + last, _mm_insert_epi16(_mm_shuffle_epi8(Load(from + last), tail), firstTwo, 0));
    }
}

// One pixel a row, rows reversed: the whole block backwards, byte by byte.
KESTOVA_SSSE3 void ReverseBytesSsse3(uint8_t* to, const uint8_t* from, size_t size)
{
    const __m128i backwards = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        Store(to + i, _mm_shuffle_epi8(Load(from + size - i - 16), backwards));
    }
    for (; i < size; ++i) {
        to[i] = from[size - 1 - i];
    }
}

KESTOVA_SSSE3 void SwapPixelsSsse3(uint8_t* to, const uint8_t* from, size_t size)
{
    if (size < 16) {
        SwapPixelsScalar(to, from, size);
    } else {
        SwapRunSsse3(to, from, size);
    }
}

KESTOVA_SSSE3 void SwapRowsSsse3(uint8_t* to, const uint8_t* block, size_t count, size_t stride, size_t rowBytes,
                                 bool reversed)
{
    if (stride == rowBytes && (!reversed || rowBytes == 3)) {
        if (reversed) {
            ReverseBytesSsse3(to, block, count * rowBytes);
        } else {
            SwapPixelsSsse3(to, block, count * rowBytes);
        }
        return;
    }
    if (rowBytes < 16) {
        SwapRowsScalar(to, block, count, stride, rowBytes, reversed);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const size_t row = reversed ? count - 1 - i : i;
        SwapRunSsse3(to + i * rowBytes, block + row * stride, rowBytes);
    }
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

#endif

}  // namespace

void SwapPixels(uint8_t* to, const uint8_t* from, size_t size)
{
#if KESTOVA_HAVE_SSSE3_PATH
    if (HasSsse3()) {
        SwapPixelsSsse3(to, from, size);
        return;
    }
#endif
    SwapPixelsScalar(to, from, size);
}

void SwapRows(uint8_t* to, const uint8_t* block, size_t count, size_t stride, size_t rowBytes, bool reversed)
{
#if KESTOVA_HAVE_SSSE3_PATH
    if (HasSsse3()) {
        SwapRowsSsse3(to, block, count, stride, rowBytes, reversed);
        return;
    }
#endif
    if (stride == rowBytes && !reversed) {
        SwapPixelsScalar(to, block, count * rowBytes);
    } else {
        SwapRowsScalar(to, block, count, stride, rowBytes, reversed);
    }
}

}  // namespace kestova
