#include "pixel_swap.h"

#include <algorithm>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KESTOVA_HAVE_SSSE3_PATH 1
#include <immintrin.h>
#endif

namespace kestova {
namespace {

void SwapPixelsScalar(uint8_t* pixels, size_t size)
{
    for (size_t i = 0; i + 2 < size; i += 3) {
        std::swap(pixels[i], pixels[i + 2]);
    }
}

// Exchanges rows a and b, swapping each pixel on the way.
void ExchangeRowsScalar(uint8_t* a, uint8_t* b, size_t size)
{
    for (size_t i = 0; i + 2 < size; i += 3) {
        const uint8_t a0 = a[i];
        const uint8_t a1 = a[i + 1];
        const uint8_t a2 = a[i + 2];
        a[i] = b[i + 2];
        a[i + 1] = b[i + 1];
        a[i + 2] = b[i];
        b[i] = a2;
        b[i + 1] = a1;
        b[i + 2] = a0;
    }
}

void ReverseBytesScalar(uint8_t* bytes, size_t size) { std::reverse(bytes, bytes + size); }

#if KESTOVA_HAVE_SSSE3_PATH

// 16 bytes hold five whole pixels and one byte of a sixth: one byte shuffle
// reverses the five. The sixth byte is stored unchanged and put right by
// the next step, 15 bytes on; one last step covers the last 16 bytes. Each
// step's bytes are loaded before any step stores over them, so the steps
// work in place, and no load waits on a store it overlaps.
#define KESTOVA_SSSE3 __attribute__((target("ssse3")))

KESTOVA_SSSE3 inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
KESTOVA_SSSE3 inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

KESTOVA_SSSE3 inline __m128i Swapped(__m128i v)
{
    return _mm_shuffle_epi8(v, _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15));
}

// The step over the last 16 bytes of a run of at least 18. It starts on the
// last byte of a pixel, whose swapped value (its pixel's first byte) lies
// before the 16 loaded, so that byte is taken too, and put in with its
// neighbour.
struct LastStep {
    __m128i bytes;
    int firstTwo;
};

KESTOVA_SSSE3 inline LastStep LoadLastStep(const uint8_t* run, size_t size)
{
    const size_t last = size - 16;  // last % 3 == 2
    return {Load(run + last), run[last - 2] | (run[last + 3] << 8)};
}

KESTOVA_SSSE3 inline void StoreLastStep(uint8_t* run, size_t size, const LastStep& step)
{
    const __m128i shifted = _mm_setr_epi8(0, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
    Store(run + size - 16, _mm_insert_epi16(_mm_shuffle_epi8(step.bytes, shifted), step.firstTwo, 0));
}

KESTOVA_SSSE3 void SwapPixelsSsse3(uint8_t* pixels, size_t size)
{
    if (size < 18) {
        SwapPixelsScalar(pixels, size);
        return;
    }
    const LastStep lastStep = LoadLastStep(pixels, size);
    const size_t last = size - 16;
    __m128i current = Load(pixels);
    size_t i = 0;
    for (; i + 15 < last; i += 15) {
        const __m128i next = Load(pixels + i + 15);
        Store(pixels + i, Swapped(current));
        current = next;
    }
    Store(pixels + i, Swapped(current));
    StoreLastStep(pixels, size, lastStep);
}

// Exchanges rows a and b in one pass: each step stores what it loaded from
// one row into the other.
KESTOVA_SSSE3 inline void ExchangeRowsSsse3(uint8_t* a, uint8_t* b, size_t size)
{
    if (size < 18) {
        ExchangeRowsScalar(a, b, size);
        return;
    }
    const LastStep lastOfA = LoadLastStep(a, size);
    const LastStep lastOfB = LoadLastStep(b, size);
    const size_t last = size - 16;
    __m128i fromA = Load(a);
    __m128i fromB = Load(b);
    size_t i = 0;
    for (; i + 15 < last; i += 15) {
        const __m128i nextA = Load(a + i + 15);
        const __m128i nextB = Load(b + i + 15);
        Store(a + i, Swapped(fromB));
        Store(b + i, Swapped(fromA));
        fromA = nextA;
        fromB = nextB;
    }
    Store(a + i, Swapped(fromB));
    Store(b + i, Swapped(fromA));
    StoreLastStep(a, size, lastOfB);
    StoreLastStep(b, size, lastOfA);
}

// Both ends at once, towards the middle.
KESTOVA_SSSE3 void ReverseBytesSsse3(uint8_t* bytes, size_t size)
{
    const __m128i backwards = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    size_t low = 0;
    size_t high = size;
    for (; high - low >= 32; low += 16, high -= 16) {
        const __m128i front = Load(bytes + low);
        const __m128i back = Load(bytes + high - 16);
        Store(bytes + low, _mm_shuffle_epi8(back, backwards));
        Store(bytes + high - 16, _mm_shuffle_epi8(front, backwards));
    }
    ReverseBytesScalar(bytes + low, high - low);
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

#endif

// Reverses the order of `count` rows of `rowBytes` bytes, swapping each
// pixel: rows are exchanged in pairs from both ends, the middle one swapped
// where it is. One loop per instruction set, so that the exchange of
// narrow rows is inlined.
void ReverseRowsScalar(uint8_t* block, size_t count, size_t rowBytes)
{
    for (size_t i = 0, j = count - 1; i < j; ++i, --j) {
        ExchangeRowsScalar(block + i * rowBytes, block + j * rowBytes, rowBytes);
    }
    if (count % 2 == 1) {
        SwapPixelsScalar(block + count / 2 * rowBytes, rowBytes);
    }
}

#if KESTOVA_HAVE_SSSE3_PATH
KESTOVA_SSSE3 void ReverseRowsSsse3(uint8_t* block, size_t count, size_t rowBytes)
{
    for (size_t i = 0, j = count - 1; i < j; ++i, --j) {
        ExchangeRowsSsse3(block + i * rowBytes, block + j * rowBytes, rowBytes);
    }
    if (count % 2 == 1) {
        SwapPixelsSsse3(block + count / 2 * rowBytes, rowBytes);
    }
}
#endif

void ReverseRows(uint8_t* block, size_t count, size_t rowBytes)
{
#if KESTOVA_HAVE_SSSE3_PATH
    if (HasSsse3()) {
        ReverseRowsSsse3(block, count, rowBytes);
        return;
    }
#endif
    ReverseRowsScalar(block, count, rowBytes);
}

void ReverseBytes(uint8_t* bytes, size_t size)
{
#if KESTOVA_HAVE_SSSE3_PATH
    if (HasSsse3()) {
        ReverseBytesSsse3(bytes, size);
        return;
    }
#endif
    ReverseBytesScalar(bytes, size);
}

}  // namespace

void SwapPixels(uint8_t* pixels, size_t size)
{
#if KESTOVA_HAVE_SSSE3_PATH
    if (HasSsse3()) {
        SwapPixelsSsse3(pixels, size);
        return;
    }
#endif
    SwapPixelsScalar(pixels, size);
}

void SwapRows(uint8_t* block, size_t count, size_t stride, size_t rowBytes, bool reversed)
{
    if (count == 0) {
        return;
    }
    if (stride != rowBytes) {
        // Padding out first: each row moves down, never onto one not yet moved.
        for (size_t i = 1; i < count; ++i) {
            std::memmove(block + i * rowBytes, block + i * stride, rowBytes);
        }
    }
    if (!reversed) {
        SwapPixels(block, count * rowBytes);
    } else if (rowBytes == 3) {
        // One pixel a row: reversing every byte reverses the rows and swaps
        // each pixel at once.
        ReverseBytes(block, count * rowBytes);
    } else {
        ReverseRows(block, count, rowBytes);
    }
}

}  // namespace kestova
