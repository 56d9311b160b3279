// The conversions allocate nothing on the heap: malloc and its kin are
// counted around each call. A plain program rather than a GoogleTest suite,
// since the framework itself allocates. The one exception is libjpeg's own
// memory for JPEG-compressed TIFFs: there the most held at once is
// measured instead, and must not grow with the picture's height.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <malloc.h>

#include "kestovatiff.h"
#include "test_files.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* pointer, size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);
extern "C" void __libc_free(void* pointer);

namespace {
unsigned long g_allocations = 0;
long long g_held = 0;  // bytes allocated and not yet freed, and the most since last reset
long long g_most = 0;

void* Held(void* pointer)
{
    g_held += static_cast<long long>(malloc_usable_size(pointer));
    g_most = g_held > g_most ? g_held : g_most;
    return pointer;
}
}  // namespace

extern "C" void* malloc(size_t size)
{
    ++g_allocations;
    return Held(__libc_malloc(size));
}
extern "C" void* calloc(size_t count, size_t size)
{
    ++g_allocations;
    return Held(__libc_calloc(count, size));
}
extern "C" void* realloc(void* pointer, size_t size)
{
    ++g_allocations;
    g_held -= static_cast<long long>(malloc_usable_size(pointer));
    return Held(__libc_realloc(pointer, size));
}
extern "C" void* memalign(size_t alignment, size_t size)
{
    ++g_allocations;
    return Held(__libc_memalign(alignment, size));
}
extern "C" void free(void* pointer)
{
    g_held -= static_cast<long long>(malloc_usable_size(pointer));
    __libc_free(pointer);
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

    // A 300 x 200 run-length BMP, 8 bits: runs of 100 pixels of entries 0
    // to 2 in each row, written bottom row first and put at their places.
    const std::string rle = std::string(dir) + "/rle.bmp";
    f = std::fopen(rle.c_str(), "wb");
    const unsigned char rleHeader[54] = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0, 40, 0, 0, 0,
                                         0x2C, 1, 0, 0, 200, 0, 0, 0, 1, 0, 8, 0, 1, 0, 0, 0};
    std::fwrite(rleHeader, 1, sizeof rleHeader, f);
    const unsigned char palette[12] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
    std::fwrite(palette, 1, sizeof palette, f);
    for (int row = 0; row < 200; ++row) {
        const unsigned char runs[8] = {100, 0, 100, 1, 100, 2, 0, 0};
        std::fwrite(runs, 1, sizeof runs, f);
    }
    const unsigned char end[2] = {0, 1};
    std::fwrite(end, 1, sizeof end, f);
    std::fclose(f);

    // TIFFs coded, tiled, turned and in planes, which lend their decoders
    // the output buffer and put planes in a scratch file; rows and columns
    // exchanged, through a scratch file of their own.
    using testing_files::TiffForm;
    TiffForm forms[6];
    forms[0].compression = 5;
    forms[0].predictor = true;
    forms[0].tileSide = 32;
    forms[0].changes = {{274, 3, {3}}};
    forms[1].compression = 8;
    forms[1].rowsPerStrip = 7;
    forms[1].changes = {{274, 3, {2}}};
    forms[2].compression = 32773;
    forms[2].planar = true;
    forms[3].compression = 8;
    forms[3].planar = true;
    forms[3].tileSide = 16;
    forms[4].compression = 5;
    forms[4].rowsPerStrip = 3;
    forms[4].changes = {{274, 3, {5}}};
    forms[5].planar = true;
    forms[5].changes = {{274, 3, {7}}};
    std::u16string coded16[6];
    for (int i = 0; i < 6; ++i) {
        const std::string name = std::string(dir) + "/coded" + std::to_string(i) + ".tif";
        testing_files::WriteFile(name, testing_files::TiffFile(testing_files::MakePicture(300, 200, 7), forms[i]));
        coded16[i].assign(name.begin(), name.end());
    }
    // YCbCr, subsampled 4 x 2 in LZW strips, mirrored, and 2 x 2 in Deflate
    // tiles, turned: rows of blocks through the piece buffer and the window.
    TiffForm ycbcrForms[2];
    ycbcrForms[0].compression = 5;
    ycbcrForms[0].rowsPerStrip = 8;
    ycbcrForms[0].changes = {{274, 3, {2}}};
    ycbcrForms[1].compression = 8;
    ycbcrForms[1].tileSide = 32;
    ycbcrForms[1].changes = {{274, 3, {3}}};
    std::u16string ycbcr16[2];
    for (int i = 0; i < 2; ++i) {
        const std::string name = std::string(dir) + "/ycbcr" + std::to_string(i) + ".tif";
        testing_files::WriteFile(name, testing_files::YCbCrTiffFile(testing_files::MakePicture(3000, 20, 7),
                                                                    i == 0 ? 4 : 2, 2, ycbcrForms[i]));
        ycbcr16[i].assign(name.begin(), name.end());
    }

    // Deflate in one strip of 1.3 MB decoded, past libdeflate's arena:
    // zlib streams it, where strips of 7 rows above are inflated whole.
    TiffForm wholeForm;
    wholeForm.compression = 8;
    wholeForm.predictor = true;
    const std::string deflated = std::string(dir) + "/deflated.tif";
    testing_files::WriteFile(deflated, testing_files::TiffFile(testing_files::MakePicture(700, 620, 7), wholeForm));
    const std::u16string deflated16(deflated.begin(), deflated.end());

    // Group 4 fax codes.
    const std::string fax = std::string(dir) + "/fax.tif";
    testing_files::Picture faxShown;
    testing_files::WriteFile(fax, testing_files::FaxTiff(200, faxShown));
    const std::u16string fax16(fax.begin(), fax.end());

    const std::u16string bmp16(bmp.begin(), bmp.end());
    const std::u16string rle16(rle.begin(), rle.end());
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
    // KestovaConvert with every option it does, and the reason written back.
    auto convert = [](const char16_t* source, const char16_t* dest) {
        KestovaOptions options = {sizeof options, KESTOVA_FLAG_PADDED_ROWS, 1u << 30, 0, 0, 0, 0};
        return KestovaConvert(source, dest, &options);
    };
    auto limited = [](const char16_t* source, const char16_t* dest) {
        KestovaOptions options = {sizeof options, 0, 1, 0, 0, 0, 0};
        const int32_t result = KestovaConvert(source, dest, &options);
        return options.reason == KESTOVA_REASON_PICTURE_LIMIT ? result : KESTOVATIFF_OK;
    };
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
        {"Bmp2Tiff, run lengths", Bmp2Tiff, rle16.c_str(), tiff16.c_str(), KESTOVATIFF_OK},
        {"Bmp2Tiff, run lengths to a device", Bmp2Tiff, rle16.c_str(), u"/dev/null", KESTOVATIFF_OK},
        {"Tiff2Bmp, LZW tiles turned", Tiff2Bmp, coded16[0].c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp, Deflate strips mirrored", Tiff2Bmp, coded16[1].c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp, Deflate strip past the arena", Tiff2Bmp, deflated16.c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp, PackBits planes", Tiff2Bmp, coded16[2].c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp, Deflate planes in tiles", Tiff2Bmp, coded16[3].c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp, LZW tiles to a device", Tiff2Bmp, coded16[0].c_str(), u"/dev/null", KESTOVATIFF_OK},
        {"Tiff2Bmp, Deflate planes to a device", Tiff2Bmp, coded16[3].c_str(), u"/dev/null", KESTOVATIFF_OK},
        {"Tiff2Bmp, LZW strips exchanged", Tiff2Bmp, coded16[4].c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp, planes exchanged to a device", Tiff2Bmp, coded16[5].c_str(), u"/dev/null", KESTOVATIFF_OK},
        {"Tiff2Bmp, fax group 4", Tiff2Bmp, fax16.c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"KestovaConvert, padded LZW tiles", convert, coded16[0].c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"KestovaConvert, run lengths", convert, rle16.c_str(), tiff16.c_str(), KESTOVATIFF_OK},
        {"KestovaConvert, past the limit", limited, bmp16.c_str(), tiff16.c_str(), KESTOVATIFF_ERROR_TOO_LARGE},
        {"Tiff2Bmp, YCbCr 4 x 2 LZW strips", Tiff2Bmp, ycbcr16[0].c_str(), back16.c_str(), KESTOVATIFF_OK},
        {"Tiff2Bmp, YCbCr 2 x 2 Deflate tiles", Tiff2Bmp, ycbcr16[1].c_str(), back16.c_str(), KESTOVATIFF_OK},
    };
#if KESTOVATIFF_WITH_JPEG
    // JPEG: libjpeg's memory, the most held at once, for strips of 16 rows
    // 300 and 3000 wide, 200 and 2000 high, and for tiles: the same for
    // both heights, and within 64 KiB plus 200 bytes a pixel of width.
    struct JpegCall {
        const char* name;
        uint32_t width, height, tileSide;
        std::u16string path;
        long long most;
    } jpegCalls[] = {
        {"Tiff2Bmp, JPEG strips 300 x 200", 300, 200, 0, {}, 0},
        {"Tiff2Bmp, JPEG strips 300 x 2000", 300, 2000, 0, {}, 0},
        {"Tiff2Bmp, JPEG strips 3000 x 200", 3000, 200, 0, {}, 0},
        {"Tiff2Bmp, JPEG strips 3000 x 2000", 3000, 2000, 0, {}, 0},
        {"Tiff2Bmp, JPEG tiles 300 x 200", 300, 200, 32, {}, 0},
    };
    for (JpegCall& call : jpegCalls) {
        testing_files::TiffForm form;
        form.compression = 7;
        form.jpeg.abbreviated = true;
        form.rowsPerStrip = 16;
        form.tileSide = call.tileSide;
        const std::string name = std::string(dir) + "/jpeg.tif";
        const testing_files::Picture picture = testing_files::MakePicture(call.width, call.height, 3);
        testing_files::WriteFile(name, testing_files::TiffFile(picture, form));
        call.path.assign(name.begin(), name.end());
        g_most = g_held;
        const long long before = g_held;
        const int32_t result = Tiff2Bmp(call.path.c_str(), back16.c_str());
        call.most = g_most - before;
        const bool ok = result == KESTOVATIFF_OK && g_held == before &&
            call.most <= 64 * 1024 + 200 * static_cast<long long>(call.width);
        std::printf("%s %s: result %d, at most %lld bytes of libjpeg's held, %lld left\n", ok ? "ok    " : "FAILED",
                    call.name, result, call.most, g_held - before);
        failed += ok ? 0 : 1;
        std::remove(name.c_str());
    }
    for (int i = 0; i < 4; i += 2) {
        if (jpegCalls[i].most != jpegCalls[i + 1].most) {
            std::printf("FAILED libjpeg's memory grows with the height: %lld, %lld bytes\n", jpegCalls[i].most,
                        jpegCalls[i + 1].most);
            ++failed;
        }
    }
#endif
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
    std::remove(rle.c_str());
    std::remove(fax.c_str());
    for (const std::u16string& name : coded16) {
        std::remove(std::string(name.begin(), name.end()).c_str());
    }
    for (const std::u16string& name : ycbcr16) {
        std::remove(std::string(name.begin(), name.end()).c_str());
    }
    std::remove(dir);
    return failed == 0 ? 0 : 1;
}
