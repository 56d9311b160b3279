// The conversions allocate nothing on the heap: malloc and its kin are
// counted around each call. A plain program rather than a GoogleTest suite,
// since the framework itself allocates.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kestovatiff.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* pointer, size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);

namespace {
unsigned long g_allocations = 0;
}

extern "C" void* malloc(size_t size)
{
    ++g_allocations;
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size)
{
    ++g_allocations;
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size)
{
    ++g_allocations;
    return __libc_realloc(pointer, size);
}
extern "C" void* memalign(size_t alignment, size_t size)
{
    ++g_allocations;
    return __libc_memalign(alignment, size);
}

int main()
{
    char dir[] = "/tmp/kvt-heap-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        return 1;
    }
    const std::string bmp = std::string(dir) + "/in.bmp";
    const std::string tiff = std::string(dir) + "/out.tif";
    const std::string back = std::string(dir) + "/back.bmp";
    // A 300 x 200 BMP, wide enough to need several reads.
    std::FILE* f = std::fopen(bmp.c_str(), "wb");
    const unsigned char header[54] = {'B', 'M', 0x76, 0xBF, 2, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                      0x2C, 1, 0, 0, 200, 0, 0, 0, 1, 0, 24};
    std::fwrite(header, 1, sizeof header, f);
    for (int i = 0; i < 300 * 200 * 3; ++i) {
        std::fputc(i & 0xFF, f);
    }
    std::fclose(f);

    const std::u16string bmp16(bmp.begin(), bmp.end());
    const std::u16string tiff16(tiff.begin(), tiff.end());
    const std::u16string back16(back.begin(), back.end());
    const std::u16string missing16 = bmp16 + u".missing";
    int failed = 0;
    // The count must see an allocation, or the test proves nothing.
    const unsigned long control = g_allocations;
    std::free(std::malloc(64));
    if (g_allocations == control) {
        std::printf("FAILED malloc is not being counted\n");
        return 1;
    }
    struct Call {
        const char* name;
        int32_t (*convert)(const char16_t*, const char16_t*);
        const char16_t* source;
        const char16_t* dest;
        int32_t expected;
    } calls[] = {
        {"Bmp2Tiff", Bmp2Tiff, bmp16.c_str(), tiff16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp", Tiff2Bmp, tiff16.c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Bmp2Tiff, replacing", Bmp2Tiff, bmp16.c_str(), tiff16.c_str(), KESTOVATIFF_OK},
        {"Bmp2Tiff, missing source", Bmp2Tiff, missing16.c_str(), tiff16.c_str(), KESTOVATIFF_ERROR_SOURCE},
    };
    for (const Call& call : calls) {
        const unsigned long before = g_allocations;
        const int32_t result = call.convert(call.source, call.dest);
        const unsigned long made = g_allocations - before;
        const bool ok = result == call.expected && made == 0;
        std::printf("%s %s: result %d, %lu heap allocations\n", ok ? "ok    " : "FAILED", call.name, result, made);
        failed += ok ? 0 : 1;
    }
    std::remove(bmp.c_str());
    std::remove(tiff.c_str());
    std::remove(back.c_str());
    std::remove(dir);
    return failed == 0 ? 0 : 1;
}
