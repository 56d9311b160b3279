// The BMP forms other than 24 bits, each against the 24-bit conversion of
// the same picture, timed side by side in every iteration (page cache warm,
// each writing a new file). Counters: MB/s of the form's conversion (its
// source bytes), and ratio = its time / the 24-bit conversion's time (the
// goal is at most 1.5).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kestovatiff.h"

namespace {

constexpr uint32_t kSide = 4096;

std::string FormsDir()
{
    const char* dir = std::getenv("KESTOVATIFF_BENCH_DIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : KESTOVATIFF_BENCH_DEFAULT_DIR);
}

std::u16string Ascii16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void Le(std::vector<uint8_t>& out, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// Palette index of a pixel: runs of 17 along each row, as drawings and
// scans reduced to 256 colours have; and the palette's colours.
uint8_t Index(uint32_t x, uint32_t y) { return static_cast<uint8_t>(x / 17 + y / 5); }
uint8_t Channel(uint8_t index, int c) { return static_cast<uint8_t>(index * (3 + 2 * c) + 40 * c); }

enum class Form { Palette8, Rle8, Bgrx32, Alpha32, Rgb24 };

bool Write(const std::string& path, Form form)
{
    const uint32_t bits = form == Form::Palette8 || form == Form::Rle8 ? 8 : form == Form::Rgb24 ? 24 : 32;
    const uint32_t stride = (kSide * bits / 8 + 3) / 4 * 4;
    std::vector<uint8_t> pixels;
    for (uint32_t stored = 0; stored < kSide; ++stored) {
        const uint32_t y = kSide - 1 - stored;
        if (form == Form::Rle8) {
            for (uint32_t x = 0; x < kSide;) {
                uint32_t run = 1;
                while (x + run < kSide && run < 255 && Index(x + run, y) == Index(x, y)) {
                    ++run;
                }
                pixels.push_back(static_cast<uint8_t>(run));
                pixels.push_back(Index(x, y));
                x += run;
            }
            pixels.push_back(0);  // end of line
            pixels.push_back(0);
            continue;
        }
        const size_t start = pixels.size();
        for (uint32_t x = 0; x < kSide; ++x) {
            const uint8_t index = Index(x, y);
            if (form == Form::Palette8) {
                pixels.push_back(index);
            } else {
                for (int c = 2; c >= 0; --c) {  // blue, green, red
                    pixels.push_back(Channel(index, c));
                }
                if (bits == 32) {
                    pixels.push_back(form == Form::Alpha32 ? 255 : 0);
                }
            }
        }
        pixels.resize(start + stride, 0);
    }
    if (form == Form::Rle8) {
        pixels.push_back(0);  // end of picture
        pixels.push_back(1);
    }
    const bool alpha = form == Form::Alpha32;
    const uint32_t infoSize = alpha ? 124 : 40;
    const uint32_t paletteBytes = bits == 8 ? 1024 : 0;
    const uint32_t offset = 14 + infoSize + paletteBytes;
    std::vector<uint8_t> file = {'B', 'M'};
    Le(file, offset + static_cast<uint32_t>(pixels.size()), 4);
    Le(file, 0, 4);
    Le(file, offset, 4);
    Le(file, infoSize, 4);
    Le(file, kSide, 4);
    Le(file, kSide, 4);
    Le(file, 1, 2);
    Le(file, bits, 2);
    Le(file, form == Form::Rle8 ? 1 : alpha ? 3 : 0, 4);  // BI_RLE8, BI_BITFIELDS, BI_RGB
    Le(file, static_cast<uint32_t>(pixels.size()), 4);
    Le(file, 0, 16);
    if (alpha) {
        for (uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) {
            Le(file, mask, 4);
        }
    }
    file.resize(14 + infoSize, 0);
    for (uint32_t i = 0; i < paletteBytes / 4; ++i) {
        for (int c = 2; c >= 0; --c) {
            file.push_back(Channel(static_cast<uint8_t>(i), c));
        }
        file.push_back(0);
    }
    file.insert(file.end(), pixels.begin(), pixels.end());
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    const bool written = stream != nullptr && std::fwrite(file.data(), 1, file.size(), stream) == file.size();
    return stream != nullptr && std::fclose(stream) == 0 && written;
}

std::vector<uint8_t> Read(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (std::FILE* stream = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(stream)) != EOF) {
            bytes.push_back(static_cast<uint8_t>(c));
        }
        std::fclose(stream);
    }
    return bytes;
}

void BM_Form(benchmark::State& state, Form form)
{
    const std::string base = FormsDir() + "/form" + std::to_string(static_cast<int>(form));
    const std::string source = base + ".bmp";
    const std::string rgb24 = FormsDir() + "/form-24.bmp";
    const std::string dest = base + "-out.tif";
    const std::string dest24 = base + "-24.tif";
    const std::u16string source16 = Ascii16(source);
    const std::u16string rgb16 = Ascii16(rgb24);
    const std::u16string dest16 = Ascii16(dest);
    const std::u16string dest24_16 = Ascii16(dest24);
    // Checked before timing: the form gives the very TIFF the 24-bit file does.
    if (!Write(source, form) || !Write(rgb24, Form::Rgb24) || Bmp2Tiff(source16.c_str(), dest16.c_str()) != KESTOVATIFF_OK ||
        Bmp2Tiff(rgb16.c_str(), dest24_16.c_str()) != KESTOVATIFF_OK || Read(dest) != Read(dest24)) {
        state.SkipWithError("the form does not give the 24-bit file's TIFF");
        return;
    }
    using Clock = std::chrono::steady_clock;
    double formSeconds = 0;
    double rgbSeconds = 0;
    for (auto _ : state) {
        std::remove(dest.c_str());
        std::remove(dest24.c_str());
        const auto start = Clock::now();
        const bool rgbDone = Bmp2Tiff(rgb16.c_str(), dest24_16.c_str()) == KESTOVATIFF_OK;
        const auto middle = Clock::now();
        const bool formDone = Bmp2Tiff(source16.c_str(), dest16.c_str()) == KESTOVATIFF_OK;
        const auto end = Clock::now();
        if (!rgbDone || !formDone) {
            state.SkipWithError("conversion failed");
            break;
        }
        const double seconds = std::chrono::duration<double>(end - middle).count();
        state.SetIterationTime(seconds);
        formSeconds += seconds;
        rgbSeconds += std::chrono::duration<double>(middle - start).count();
    }
    std::FILE* stream = std::fopen(source.c_str(), "rb");
    double megabytes = 0;
    if (stream != nullptr) {
        std::fseek(stream, 0, SEEK_END);
        megabytes = static_cast<double>(std::ftell(stream)) / 1e6;
        std::fclose(stream);
    }
    state.counters["MBps"] = megabytes * static_cast<double>(state.iterations()) / formSeconds;
    state.counters["ratio_to_24bit"] = formSeconds / rgbSeconds;
    std::remove(dest.c_str());
    std::remove(dest24.c_str());
}

const struct Registered {
    Registered()
    {
        const std::pair<const char*, Form> forms[] = {
            {"BmpForm/8bit_palette/4096x4096", Form::Palette8},
            {"BmpForm/rle8/4096x4096", Form::Rle8},
            {"BmpForm/32bit_bgrx/4096x4096", Form::Bgrx32},
            {"BmpForm/32bit_alpha_v5/4096x4096", Form::Alpha32},
        };
        for (const auto& [name, form] : forms) {
            benchmark::RegisterBenchmark(name, BM_Form, form)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);
        }
    }
} g_registered;

}  // namespace
