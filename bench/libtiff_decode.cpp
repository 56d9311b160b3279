// libtiff's pure decoding time, the yardstick for the library's TIFF
// reading: every strip or tile of a file decoded into one buffer and
// dropped, nothing written. Prints milliseconds, the best of N runs.
// Usage: libtiff_decode FILE [RUNS]
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool DecodeAll(const char* path, unsigned& check)
{
    TIFF* tiff = TIFFOpen(path, "r");
    if (tiff == nullptr) {
        return false;
    }
    const bool tiled = TIFFIsTiled(tiff) != 0;
    std::vector<unsigned char> chunk(static_cast<size_t>(tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff)));
    const uint32_t chunks = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    bool ok = true;
    for (uint32_t i = 0; ok && i < chunks; ++i) {
        const tmsize_t got = tiled ? TIFFReadEncodedTile(tiff, i, chunk.data(), -1)
                                   : TIFFReadEncodedStrip(tiff, i, chunk.data(), -1);
        ok = got > 0;
        check += ok ? chunk[static_cast<size_t>(got) / 2] : 0;  // keeps the decoding from being optimised away
    }
    TIFFClose(tiff);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: libtiff_decode FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    double best = 1e30;
    unsigned check = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (!DecodeAll(argv[1], check)) {
            std::fprintf(stderr, "libtiff_decode: %s: not decoded\n", argv[1]);
            return 1;
        }
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("%.0f\n", best + 0 * check);
    return 0;
}
