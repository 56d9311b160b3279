// Conversion speed against a plain buffered copy of the same file, measured
// side by side in each iteration so that both see the same machine state,
// page cache warm.
// Counters: MB/s of the conversion (source bytes), MB/s of the copy, and
// ratio = conversion time / copy time (the goal is at most 1.25).

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kestovatiff.h"

namespace {

struct Shape {
    uint32_t width;
    uint32_t height;
};

const Shape kShapes[] = {{4096, 4096}, {4095, 4097}, {65535, 64}, {1, 65535}, {7, 65535}};

std::string DataDir()
{
    const char* dir = std::getenv("KESTOVATIFF_BENCH_DIR");
    return dir != nullptr && *dir != '\0' ? dir : KESTOVATIFF_BENCH_DEFAULT_DIR;
}

std::u16string Ascii16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void PutLe(std::FILE* stream, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) {
        std::fputc(static_cast<int>((value >> (8 * i)) & 0xFF), stream);
    }
}

// A BMP in the library's own layout, with pixels that vary along both sides.
bool MakeBmp(const std::string& path, Shape shape)
{
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) {
        return false;
    }
    const uint32_t rowBytes = 3 * shape.width;
    std::fputc('B', stream);
    std::fputc('M', stream);
    PutLe(stream, 54 + rowBytes * shape.height, 4);
    PutLe(stream, 0, 4);
    PutLe(stream, 54, 4);
    PutLe(stream, 40, 4);
    PutLe(stream, shape.width, 4);
    PutLe(stream, shape.height, 4);
    PutLe(stream, 1, 2);
    PutLe(stream, 24, 2);
    PutLe(stream, 0, 4);
    PutLe(stream, rowBytes * shape.height, 4);
    for (int i = 0; i < 4; ++i) {
        PutLe(stream, 0, 4);
    }
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t y = 0; y < shape.height; ++y) {
        for (uint32_t i = 0; i < rowBytes; ++i) {
            row[i] = static_cast<uint8_t>(i * 7 + y * 13);
        }
        std::fwrite(row.data(), 1, row.size(), stream);
    }
    return std::fclose(stream) == 0;
}

// How the TIFF read back holds the picture: the library's own strips, one
// plane a sample (a strip each), or chunky tiles of 256 x 256.
enum class TiffForm { Strips, Planes, Tiles };

// The picture MakeBmp makes, as an uncompressed TIFF of `form` (planes or
// tiles), made here since the library writes strips only.
bool MakeTiff(const std::string& path, Shape shape, TiffForm form)
{
    constexpr uint32_t kTile = 256;
    const uint32_t w = shape.width;
    const uint32_t h = shape.height;
    const bool tiles = form == TiffForm::Tiles;
    const uint32_t across = tiles ? (w + kTile - 1) / kTile : 1;
    const uint32_t chunks = tiles ? across * ((h + kTile - 1) / kTile) : 3;
    const uint32_t chunkBytes = tiles ? 3 * kTile * kTile : w * h;
    // Sample c (red, green, blue) of pixel x of TIFF row y: BMP row h - 1 - y.
    auto sample = [&](uint32_t x, uint32_t y, uint32_t c) {
        return static_cast<uint8_t>((3 * x + 2 - c) * 7 + (h - 1 - y) * 13);
    };
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) {
        return false;
    }
    const uint32_t ifd = 8 + chunks * chunkBytes;
    std::fputs("II*", stream);
    std::fputc(0, stream);
    PutLe(stream, ifd, 4);
    for (uint32_t chunk = 0; chunk < chunks; ++chunk) {
        for (uint32_t i = 0; i < chunkBytes; ++i) {
            if (!tiles) {
                std::fputc(sample(i % w, i / w, chunk), stream);
                continue;
            }
            const uint32_t x = chunk % across * kTile + i / 3 % kTile;
            const uint32_t y = chunk / across * kTile + i / 3 / kTile;
            std::fputc(x < w && y < h ? sample(x, y, i % 3) : 0, stream);
        }
    }
    const uint32_t entries = tiles ? 11 : 10;
    const uint32_t arrays = ifd + 2 + 12 * entries + 4;  // the chunks' offsets, then their byte counts
    PutLe(stream, entries, 2);
    auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        PutLe(stream, tag, 2);
        PutLe(stream, type, 2);
        PutLe(stream, count, 4);
        PutLe(stream, value, 4);
    };
    entry(256, 4, 1, w);
    entry(257, 4, 1, h);
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    if (!tiles) {
        entry(273, 4, chunks, arrays);
    }
    entry(277, 3, 1, 3);
    if (!tiles) {
        entry(278, 4, 1, h);
        entry(279, 4, chunks, arrays + 4 * chunks);
    }
    entry(284, 3, 1, tiles ? 1 : 2);
    if (tiles) {
        entry(322, 4, 1, kTile);
        entry(323, 4, 1, kTile);
        entry(324, 4, chunks, arrays);
        entry(325, 4, chunks, arrays + 4 * chunks);
    }
    PutLe(stream, 0, 4);
    for (uint32_t chunk = 0; chunk < chunks; ++chunk) {
        PutLe(stream, 8 + chunk * chunkBytes, 4);
    }
    for (uint32_t chunk = 0; chunk < chunks; ++chunk) {
        PutLe(stream, chunkBytes, 4);
    }
    return std::fclose(stream) == 0;
}

// The baseline: what any program that reads a file and writes it again
// costs, with ordinary stdio buffering and 64 KiB blocks.
bool PlainCopy(const std::string& from, const std::string& to)
{
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    static char block[64 * 1024];
    bool ok = in != nullptr && out != nullptr;
    size_t got;
    while (ok && (got = std::fread(block, 1, sizeof block, in)) > 0) {
        ok = std::fwrite(block, 1, got, out) == got;
    }
    if (in != nullptr) {
        std::fclose(in);
    }
    if (out != nullptr) {
        ok = std::fclose(out) == 0 && ok;
    }
    return ok;
}

bool SameFiles(const std::string& a, const std::string& b)
{
    std::FILE* x = std::fopen(a.c_str(), "rb");
    std::FILE* y = std::fopen(b.c_str(), "rb");
    bool same = x != nullptr && y != nullptr;
    static char bx[64 * 1024];
    static char by[64 * 1024];
    while (same) {
        const size_t nx = std::fread(bx, 1, sizeof bx, x);
        const size_t ny = std::fread(by, 1, sizeof by, y);
        same = nx == ny && std::memcmp(bx, by, nx) == 0;
        if (nx == 0) {
            break;
        }
    }
    if (x != nullptr) {
        std::fclose(x);
    }
    if (y != nullptr) {
        std::fclose(y);
    }
    return same;
}

double FileMegabytes(const std::string& path)
{
    struct stat info {};
    stat(path.c_str(), &info);
    return static_cast<double>(info.st_size) / 1e6;
}

enum class Direction { BmpToTiff, TiffToBmp };

void BM_Convert(benchmark::State& state, Direction direction, Shape shape, TiffForm form)
{
    const char* formName = form == TiffForm::Planes ? "-planes" : form == TiffForm::Tiles ? "-tiles" : "";
    const std::string base =
        DataDir() + "/" + std::to_string(shape.width) + "x" + std::to_string(shape.height) + formName;
    const std::string bmp = base + ".bmp";
    const std::string tiff = base + ".tif";
    const std::string back = base + "-back.bmp";
    // Make the sources, and check the output before timing anything: the
    // round trip must give the BMP back byte for byte.
    const auto makeTiff = [&] {
        return form == TiffForm::Strips ? Bmp2Tiff(Ascii16(bmp).c_str(), Ascii16(tiff).c_str()) == KESTOVATIFF_OK
                                        : MakeTiff(tiff, shape, form);
    };
    if (!MakeBmp(bmp, shape) || !makeTiff() ||
        Tiff2Bmp(Ascii16(tiff).c_str(), Ascii16(back).c_str()) != KESTOVATIFF_OK || !SameFiles(bmp, back)) {
        state.SkipWithError("the round trip did not reproduce the BMP");
        return;
    }
    const std::string source = direction == Direction::BmpToTiff ? bmp : tiff;
    const std::string dest = base + (direction == Direction::BmpToTiff ? "-out.tif" : "-out.bmp");
    const std::string copy = base + "-copy";
    const std::u16string source16 = Ascii16(source);
    const std::u16string dest16 = Ascii16(dest);
    auto convert = [&] {
        return (direction == Direction::BmpToTiff ? Bmp2Tiff : Tiff2Bmp)(source16.c_str(), dest16.c_str());
    };
    // Warm the page cache. Each timed run then writes a new file: replacing
    // an existing one adds the file system's cost of freeing its blocks
    // (tens of milliseconds for 50 MB on a disk mounted with discard), which
    // would drown what is measured here.
    PlainCopy(source, copy);
    convert();

    using Clock = std::chrono::steady_clock;
    double convertSeconds = 0;
    double copySeconds = 0;
    for (auto _ : state) {
        std::remove(copy.c_str());
        std::remove(dest.c_str());
        const auto start = Clock::now();
        PlainCopy(source, copy);
        const auto copied = Clock::now();
        if (convert() != KESTOVATIFF_OK) {
            state.SkipWithError("conversion failed");
            break;
        }
        const auto converted = Clock::now();
        const double seconds = std::chrono::duration<double>(converted - copied).count();
        state.SetIterationTime(seconds);
        convertSeconds += seconds;
        copySeconds += std::chrono::duration<double>(copied - start).count();
    }
    const double megabytes = FileMegabytes(source) * static_cast<double>(state.iterations());
    state.counters["MBps"] = megabytes / convertSeconds;
    state.counters["copy_MBps"] = megabytes / copySeconds;
    state.counters["ratio"] = convertSeconds / copySeconds;
    std::remove(copy.c_str());
    std::remove(dest.c_str());
    std::remove(back.c_str());
}

void RegisterAll()
{
    for (const Shape& shape : kShapes) {
        for (const Direction direction : {Direction::BmpToTiff, Direction::TiffToBmp}) {
            const std::string name = std::string(direction == Direction::BmpToTiff ? "Bmp2Tiff/" : "Tiff2Bmp/") +
                                     std::to_string(shape.width) + "x" + std::to_string(shape.height);
            benchmark::RegisterBenchmark(name.c_str(), BM_Convert, direction, shape, TiffForm::Strips)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
        }
    }
    // Uncompressed planes and tiles against the same copy (the goal is at
    // most 1.3).
    for (const auto& [form, name] : {std::pair{TiffForm::Planes, "Tiff2Bmp/planes/4096x4096"},
                                     std::pair{TiffForm::Tiles, "Tiff2Bmp/tiles256/4096x4096"}}) {
        benchmark::RegisterBenchmark(name, BM_Convert, Direction::TiffToBmp, kShapes[0], form)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
