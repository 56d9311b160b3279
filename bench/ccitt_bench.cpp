// The fax decoder alone on a Group 4 page: 2480 x 3508 (an A4 page at 300
// dpi) of text-like content, written by libtiff in one strip, decoded from
// memory by our decoder and, on the same file, by libtiff
// (TIFFReadEncodedStrip). Counters: MB/s of decoded 1-bit rows, and
// ratio = our time / libtiff's.
// Usage: ccitt_bench [Google Benchmark options]

#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/ccitt.h"

namespace {

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;
constexpr uint32_t kRowBytes = (kWidth + 7) / 8;

// Lines of type: glyphs of 5 x 7 cells of 4 pixels, chosen at random, with
// words, margins and paragraph gaps; black as 1 bits.
std::vector<uint8_t> Page()
{
    std::vector<uint8_t> page(size_t{kRowBytes} * kHeight, 0);
    uint32_t random = 1;
    auto next = [&random] { return random = random * 1103515245u + 12345u; };
    std::vector<uint64_t> glyphs(96);
    for (uint64_t& glyph : glyphs) {
        glyph = (uint64_t{next()} << 32 | next()) & ((uint64_t{1} << 35) - 1);
    }
    for (uint32_t top = 300; top + 40 < kHeight - 300; top += 50) {
        if (next() % 9 == 0) {
            continue;  // a paragraph's gap
        }
        for (uint32_t left = 300; left + 24 < kWidth - 300; left += 24) {
            if (next() % 6 == 0) {
                continue;  // between words
            }
            const uint64_t glyph = glyphs[next() % glyphs.size()];
            for (uint32_t y = 0; y < 28; ++y) {
                for (uint32_t x = 0; x < 20; ++x) {
                    if ((glyph >> (y / 4 * 5 + x / 4) & 1) != 0) {
                        const uint32_t px = left + x;
                        page[size_t{top + y} * kRowBytes + px / 8] |= static_cast<uint8_t>(0x80 >> (px % 8));
                    }
                }
            }
        }
    }
    return page;
}

struct G4File {
    std::string path;
    std::vector<uint8_t> strip;  // its one strip, as stored
};

const G4File& File()
{
    static const G4File file = [] {
        G4File f;
        f.path = "/tmp/ccitt_bench_" + std::to_string(::getpid()) + ".tif";
        std::vector<uint8_t> page = Page();
        TIFF* tiff = TIFFOpen(f.path.c_str(), "w");
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kHeight);
        for (uint32_t y = 0; y < kHeight; ++y) {
            TIFFWriteScanline(tiff, &page[size_t{y} * kRowBytes], y);
        }
        TIFFClose(tiff);
        tiff = TIFFOpen(f.path.c_str(), "r");
        f.strip.resize(static_cast<size_t>(TIFFRawStripSize(tiff, 0)));
        TIFFReadRawStrip(tiff, 0, f.strip.data(), static_cast<tmsize_t>(f.strip.size()));
        TIFFClose(tiff);
        return f;
    }();
    return file;
}

double OursOnce(std::vector<uint8_t>& rows)
{
    alignas(16) static uint8_t arena[kestova::kCcittArenaBytes];
    const G4File& file = File();
    const auto start = std::chrono::steady_clock::now();
    kestova::CcittDecoder decoder;
    kestova::CcittStart(decoder, kestova::CcittCoding::T6, 0, kWidth, arena);
    kestova::ByteSource source = kestova::MemorySource(file.strip.data(), file.strip.size());
    if (kestova::CcittRead(decoder, source, rows.data(), rows.size()) != kestova::Status::Ok) {
        (void)std::fputs("the page does not decode\n", stderr);
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double LibtiffOnce(std::vector<uint8_t>& rows)
{
    const auto start = std::chrono::steady_clock::now();
    TIFF* tiff = TIFFOpen(File().path.c_str(), "r");
    TIFFReadEncodedStrip(tiff, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
    TIFFClose(tiff);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CcittG4Page(benchmark::State& state)
{
    std::vector<uint8_t> ours(size_t{kRowBytes} * kHeight);
    std::vector<uint8_t> theirs(ours.size());
    double oursSeconds = 0;
    double theirSeconds = 0;
    for (auto _ : state) {
        const double seconds = OursOnce(ours);
        oursSeconds += seconds;
        theirSeconds += LibtiffOnce(theirs);
        state.SetIterationTime(seconds);
    }
    if (ours != theirs) {
        state.SkipWithError("the decoders disagree");
    }
    state.counters["MBps"] = static_cast<double>(ours.size()) * static_cast<double>(state.iterations()) / 1e6 /
                             oursSeconds;
    state.counters["ratio_to_libtiff"] = oursSeconds / theirSeconds;
    state.counters["stored_KiB"] = static_cast<double>(File().strip.size()) / 1024;
}
BENCHMARK(BM_CcittG4Page)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    (void)std::remove(File().path.c_str());
    return 0;
}
