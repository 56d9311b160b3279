// Writes the fuzzers' seed corpora: small pictures of odd sizes in the forms
// each direction reads, the damaged files the tests refuse, TIFFs of every
// form the library reads, pictures whose conversion writes far more than
// the file holds, and streams for the codec targets.
// Usage: make_seeds BMP_DIR TIFF_DIR [LZW_DIR PACKBITS_DIR DEFLATE_DIR [CCITT_DIR]]

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <tuple>

#include "bmp_forms.h"
#include "ccitt_seeds.h"
#include "test_files.h"
#include "tiff_encoders.h"

using namespace testing_files;

namespace {

int g_count = 0;

void Seed(const std::string& dir, const Bytes& bytes)
{
    WriteFile(dir + "/seed-" + std::to_string(++g_count), bytes);
}

// A TIFF of any form the library reads, its samples a pattern of column,
// row and sample (alpha 255), its chunks stored in order, then the values
// that do not fit their entries, then the directory.
struct Form {
    uint32_t width = 5, height = 4;
    uint32_t photometric = 2, bits = 8, samples = 3, extra = 2;  // ExtraSamples, with 4 samples
    uint32_t compression = 1, predictor = 1, fillOrder = 1, planar = 1, orientation = 1;
    uint32_t faxOptions = 0;  // T4Options for compression 3
    uint32_t rowsPerStrip = 0;  // 0: one strip
    uint32_t tileWidth = 0, tileLength = 0;  // 0: strips
    bool little = true, big = false;
    bool sampleFormat = false;  // SampleFormat 1, unsigned integers, for each sample
};

Bytes Compress(const Form& form, const Bytes& raw, uint32_t width, uint32_t rows)
{
    switch (form.compression) {
    case 2:
    case 3:
    case 4: return CcittEncode(form.compression, form.faxOptions, raw, width, rows);
    case 5: return tiff_encoders::Lzw(raw.data(), raw.size());
    case 8:
    case 32946: return tiff_encoders::Deflate(raw.data(), raw.size());
    case 32773: return tiff_encoders::PackBits(raw.data(), raw.size());
    default: return raw;
    }
}

// A chunk's rows as decoded: each padded to a byte, differenced for
// Predictor 2.
Bytes ChunkRows(const Form& f, uint32_t plane, uint32_t x0, uint32_t y0, uint32_t width, uint32_t rows)
{
    const uint32_t perPixel = f.planar == 2 ? 1 : f.samples;
    Bytes raw;
    for (uint32_t y = y0; y < y0 + rows; ++y) {
        const size_t start = raw.size();
        uint32_t bits = 0;
        uint32_t count = 0;
        for (uint32_t x = x0; x < x0 + width; ++x) {
            for (uint32_t k = 0; k < perPixel; ++k) {
                const uint32_t s = f.planar == 2 ? plane : k;
                const uint32_t mask = (1u << f.bits) - 1;
                uint32_t v = (x * 7 + y * 13 + s * 50) & mask;
                if (s == 3 || x >= f.width || y >= f.height) {
                    v = s == 3 ? mask : 0;
                }
                bits = bits << f.bits | v;
                count += f.bits;
                if (count == 8) {
                    raw.push_back(static_cast<uint8_t>(bits));
                    bits = count = 0;
                }
            }
        }
        if (count > 0) {
            raw.push_back(static_cast<uint8_t>(bits << (8 - count)));
        }
        for (size_t i = raw.size(); f.predictor == 2 && i-- > start + perPixel;) {
            raw[i] = static_cast<uint8_t>(raw[i] - raw[i - perPixel]);
        }
    }
    return raw;
}

uint8_t Reversed(uint8_t byte)
{
    uint8_t r = 0;
    for (int k = 0; k < 8; ++k) {
        r = static_cast<uint8_t>(r << 1 | ((byte >> k) & 1));
    }
    return r;
}

Bytes MakeTiff(const Form& f)
{
    const bool tiled = f.tileWidth > 0;
    const uint32_t chunkWidth = tiled ? f.tileWidth : f.width;
    const uint32_t chunkHeight = tiled ? f.tileLength : f.rowsPerStrip > 0 ? f.rowsPerStrip : f.height;
    const uint32_t across = (f.width + chunkWidth - 1) / chunkWidth;
    const uint32_t down = (f.height + chunkHeight - 1) / chunkHeight;
    const uint32_t planes = f.planar == 2 ? f.samples : 1;
    Bytes file;
    auto put = [&](uint64_t value, int size) {
        for (int i = 0; i < size; ++i) {
            file.push_back(static_cast<uint8_t>(value >> 8 * (f.little ? i : size - 1 - i)));
        }
    };
    file = {static_cast<uint8_t>(f.little ? 'I' : 'M'), static_cast<uint8_t>(f.little ? 'I' : 'M')};
    put(f.big ? 43 : 42, 2);
    if (f.big) {
        put(8, 2);
        put(0, 2);
    }
    const size_t directoryAt = file.size();
    put(0, f.big ? 8 : 4);
    std::vector<uint64_t> offsets, counts;
    for (uint32_t plane = 0; plane < planes; ++plane) {
        for (uint32_t chunk = 0; chunk < across * down; ++chunk) {
            const uint32_t y0 = chunk / across * chunkHeight;
            const uint32_t rows = tiled ? chunkHeight : std::min(chunkHeight, f.height - y0);
            Bytes stored =
                Compress(f, ChunkRows(f, plane, chunk % across * chunkWidth, y0, chunkWidth, rows), chunkWidth, rows);
            if (f.fillOrder == 2) {
                std::transform(stored.begin(), stored.end(), stored.begin(), Reversed);
            }
            offsets.push_back(file.size());
            counts.push_back(stored.size());
            file.insert(file.end(), stored.begin(), stored.end());
        }
    }
    constexpr uint16_t kShort = 3, kLong = 4, kLong8 = 16;
    const uint16_t offsetType = f.big ? kLong8 : kLong;
    std::vector<std::tuple<uint16_t, uint16_t, std::vector<uint64_t>>> entries = {
        {256, kLong, {f.width}}, {257, kLong, {f.height}},
        {258, kShort, std::vector<uint64_t>(f.samples, f.bits)}, {259, kShort, {f.compression}},
        {262, kShort, {f.photometric}}, {266, kShort, {f.fillOrder}}, {274, kShort, {f.orientation}},
        {277, kShort, {f.samples}}, {284, kShort, {f.planar}}, {317, kShort, {f.predictor}}};
    entries.emplace_back(tiled ? 324 : 273, offsetType, offsets);
    entries.emplace_back(tiled ? 325 : 279, offsetType, counts);
    if (tiled) {
        entries.push_back({322, kShort, {f.tileWidth}});
        entries.push_back({323, kShort, {f.tileLength}});
    } else if (f.rowsPerStrip > 0) {
        entries.push_back({278, kLong, {f.rowsPerStrip}});
    }
    if (f.samples == 4) {
        entries.push_back({338, kShort, {f.extra}});
    }
    if (f.compression == 3) {
        entries.push_back({292, kLong, {f.faxOptions}});
    }
    if (f.sampleFormat) {
        entries.emplace_back(339, kShort, std::vector<uint64_t>(f.samples, 1));
    }
    if (f.photometric == 3) {
        std::vector<uint64_t> map;
        for (uint32_t c = 0; c < 3; ++c) {
            for (uint32_t i = 0; i < (1u << f.bits); ++i) {
                map.push_back(((i * 37 + c * 85) & 0xFF) * 257);
            }
        }
        entries.push_back({320, kShort, map});
    }
    std::sort(entries.begin(), entries.end());
    // Values that do not fit their entries, then the directory.
    const int fieldSize = f.big ? 8 : 4;
    std::vector<uint64_t> places;
    for (const auto& [tag, type, values] : entries) {
        const int size = type == kShort ? 2 : type == kLong ? 4 : 8;
        places.push_back(file.size());
        if (values.size() * size > size_t(fieldSize)) {
            for (const uint64_t value : values) {
                put(value, size);
            }
        }
    }
    file.resize((file.size() + 1) / 2 * 2);
    const uint64_t directory = file.size();
    put(entries.size(), f.big ? 8 : 2);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [tag, type, values] = entries[i];
        const int size = type == kShort ? 2 : type == kLong ? 4 : 8;
        put(tag, 2);
        put(type, 2);
        put(values.size(), fieldSize);
        if (values.size() * size > size_t(fieldSize)) {
            put(places[i], fieldSize);
            continue;
        }
        for (const uint64_t value : values) {
            put(value, size);
        }
        put(0, fieldSize - int(values.size()) * size);
    }
    put(0, fieldSize);  // no next directory
    for (int i = 0; i < fieldSize; ++i) {
        file[directoryAt + i] = static_cast<uint8_t>(directory >> 8 * (f.little ? i : fieldSize - 1 - i));
    }
    return file;
}

// Every form the library reads, each a few ways.
void TiffForms(const std::string& dir)
{
    std::vector<Form> forms;
    for (const uint32_t compression : {1, 5, 8, 32773, 32946}) {
        Form f;
        f.compression = compression;
        f.rowsPerStrip = 2;
        forms.push_back(f);
        f.predictor = compression == 5 || compression == 8 ? 2 : 1;
        f.little = false;
        f.width = 9;
        forms.push_back(f);
    }
    for (const uint32_t photometric : {0, 1, 3}) {
        for (const uint32_t bits : {1, 2, 4, 8}) {
            Form f;
            f.photometric = photometric;
            f.bits = bits;
            f.samples = 1;
            f.width = 11;
            f.compression = bits == 4 ? 5 : bits == 2 ? 32773 : 1;
            forms.push_back(f);
        }
    }
    Form f;
    f.samples = 1;
    f.bits = 1;
    f.photometric = 0;  // bilevel, white at zero, in runs
    f.compression = 32773;
    f.width = 17;
    forms.push_back(f);
    f.fillOrder = 2;
    forms.push_back(f);
    f.compression = 5;
    forms.push_back(f);
    // The fax codings: modified Huffman, group 3 (1-D, 2-D, fill bits) and
    // 4, white or black at zero, in strips and tiles, either FillOrder.
    for (const uint32_t options : {0u, 1u, 4u, 5u}) {
        f.compression = 3;
        f.faxOptions = options;
        f.photometric = options % 2;
        f.fillOrder = options == 4 ? 2 : 1;
        f.rowsPerStrip = 3;
        forms.push_back(f);
    }
    f.faxOptions = 0;
    f.rowsPerStrip = 0;
    for (const uint32_t compression : {2u, 4u}) {
        for (const bool tiles : {false, true}) {
            f.compression = compression;
            f.fillOrder = tiles ? 2 : 1;
            f.tileWidth = f.tileLength = tiles ? 16 : 0;
            forms.push_back(f);
        }
    }
    f.fillOrder = 1;
    f.tileWidth = f.tileLength = 0;
    f.width = 2000;  // group 4 (the last above), a page-wide row
    f.height = 30;
    forms.push_back(f);
    for (const uint32_t extra : {1, 2}) {
        Form rgba;
        rgba.samples = 4;
        rgba.extra = extra;
        rgba.compression = extra == 1 ? 8 : 1;
        forms.push_back(rgba);
    }
    Form strips;
    strips.height = 9;
    strips.rowsPerStrip = 1;
    strips.compression = 5;
    forms.push_back(strips);
    for (const uint32_t compression : {1, 5}) {
        Form planar;
        planar.planar = 2;
        planar.compression = compression;
        planar.rowsPerStrip = 3;
        planar.height = 5;
        forms.push_back(planar);
        planar.samples = 4;
        forms.push_back(planar);
    }
    for (const uint32_t orientation : {1, 2, 3, 4, 5, 6, 7, 8}) {
        Form turned;
        turned.orientation = orientation;
        turned.rowsPerStrip = 3;
        turned.width = 7;
        forms.push_back(turned);
        turned.tileWidth = turned.tileLength = 16;
        turned.compression = 8;
        forms.push_back(turned);
        if (orientation >= 5) {  // rows and columns exchanged, planes too
            turned.planar = 2;
            turned.compression = 5;
            forms.push_back(turned);
        }
    }
    for (const bool little : {true, false}) {
        Form big;
        big.big = true;
        big.little = little;
        big.compression = little ? 1 : 8;
        big.rowsPerStrip = 3;
        forms.push_back(big);
    }
    // Each codec tiled and in planes, with the predictor where it applies.
    for (const uint32_t compression : {1, 5, 8, 32773, 32946}) {
        const uint32_t predictor = compression == 1 || compression == 32773 ? 1 : 2;
        Form tiled;
        tiled.width = 20;
        tiled.height = 17;
        tiled.tileWidth = tiled.tileLength = 16;
        tiled.compression = compression;
        tiled.predictor = predictor;
        forms.push_back(tiled);
        tiled.planar = 2;
        forms.push_back(tiled);
        Form planar;
        planar.planar = 2;
        planar.compression = compression;
        planar.predictor = predictor;
        planar.rowsPerStrip = 3;
        planar.height = 5;
        planar.sampleFormat = true;
        forms.push_back(planar);
    }
    for (const uint32_t compression : {1, 5}) {
        Form reversed;  // FillOrder 2 on 8-bit samples
        reversed.fillOrder = 2;
        reversed.compression = compression;
        reversed.rowsPerStrip = 3;
        forms.push_back(reversed);
        reversed.samples = 1;
        reversed.photometric = 1;
        reversed.sampleFormat = true;
        forms.push_back(reversed);
    }
    for (const uint32_t compression : {8, 32773}) {
        Form bigTiles;
        bigTiles.big = true;
        bigTiles.little = compression == 8;
        bigTiles.width = 33;
        bigTiles.height = 18;
        bigTiles.tileWidth = 16;
        bigTiles.tileLength = 32;
        bigTiles.compression = compression;
        forms.push_back(bigTiles);
        bigTiles.planar = 2;
        bigTiles.predictor = compression == 8 ? 2 : 1;
        forms.push_back(bigTiles);
    }
    // Pictures whose BMP is many times their file's size, so that a write
    // fails far into them: in strips, tiles and planes (through the
    // library's scratch file).
    Form large;
    large.width = 400;
    large.height = 300;
    large.rowsPerStrip = 16;
    large.compression = 8;
    forms.push_back(large);
    large.planar = 2;
    large.compression = 5;
    large.predictor = 2;
    forms.push_back(large);
    large.tileWidth = large.tileLength = 64;
    large.compression = 32946;
    forms.push_back(large);
    Form wide;  // rows of several pieces
    wide.width = 3000;
    wide.height = 2;
    wide.compression = 8;
    forms.push_back(wide);
    wide.samples = 1;
    wide.bits = 1;
    wide.photometric = 1;
    wide.width = 70000;
    forms.push_back(wide);
    for (const Form& form : forms) {
        Seed(dir, MakeTiff(form));
    }
}

// Streams for the codec targets, after the four bytes that say how they
// are read (see codec_fuzz.h): the rows of pictures of several kinds, long
// runs, bytes that do not compress, a picture long enough to fill the LZW
// table; each whole, cut short, asked for more than it holds and for half,
// in pieces of several sizes and cut in two calls at several places.
void CodecSeeds(const std::string& lzwDir, const std::string& packBitsDir, const std::string& deflateDir)
{
    auto seed = [](const std::string& dir, uint8_t first, size_t size, uint8_t cut, const Bytes& stream) {
        Bytes bytes = {first, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), cut};
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        Seed(dir, bytes);
    };
    std::vector<Bytes> raws;
    Form rgb;
    rgb.width = 40;
    Form bilevel;
    bilevel.samples = 1;
    bilevel.bits = 1;
    bilevel.width = 300;
    Form grey;
    grey.samples = 1;
    grey.bits = 4;
    grey.width = 64;
    grey.height = 9;
    Form long_;  // more strings than the LZW table holds
    long_.width = 160;
    long_.height = 40;
    long_.predictor = 2;
    for (const Form& form : {rgb, bilevel, grey, long_}) {
        raws.push_back(ChunkRows(form, 0, 0, 0, form.width, form.height));
    }
    raws.emplace_back(1000, 0);
    raws.emplace_back(3000, 0xAB);
    Bytes noise(2000);
    uint32_t state = 12345;
    for (uint8_t& byte : noise) {
        state = state * 1103515245 + 12345;
        byte = static_cast<uint8_t>(state >> 16);
    }
    raws.push_back(noise);
    uint8_t first = 0;  // the piece size, and for Deflate the level
    for (const Bytes& raw : raws) {
        const size_t size = std::min<size_t>(raw.size(), 0xFFFF);
        for (const bool oldStyle : {false, true}) {
            const Bytes lzw = tiff_encoders::Lzw(raw.data(), size, oldStyle);
            const auto lzwFirst = static_cast<uint8_t>((first & 0x3F) | (oldStyle ? 0x40 : 0));
            seed(lzwDir, lzwFirst, size, 128, lzw);
            seed(lzwDir, lzwFirst, size / 2, 0, lzw);
            seed(lzwDir, lzwFirst, size, 255, Bytes(lzw.begin(), lzw.end() - 3));
        }
        const Bytes packBits = tiff_encoders::PackBits(raw.data(), size);
        seed(packBitsDir, first, size, 128, packBits);
        seed(packBitsDir, first, size + 1, 0, packBits);
        seed(packBitsDir, first, size / 2, 255, packBits);
        seed(packBitsDir, first, size, 64, Bytes(packBits.begin(), packBits.end() - 2));
        for (const int level : {0, 1, 6, 9}) {
            const Bytes deflate = tiff_encoders::Deflate(raw.data(), size, level);
            const auto deflateFirst = static_cast<uint8_t>(first / 10 * 10 + level);
            seed(deflateDir, deflateFirst, size, 128, deflate);
            seed(deflateDir, deflateFirst, size / 2, 255, deflate);
            seed(deflateDir, deflateFirst, size, 0, Bytes(deflate.begin(), deflate.end() - 5));
        }
        first = static_cast<uint8_t>(first + 13);
    }
}

#if KESTOVATIFF_WITH_JPEG
// JPEG: for the JPEG target, small chunks' streams of each form (YCbCr at
// three samplings, RGB, grey; abbreviated with their tables, or whole; one
// cut short, one progressive) after the nine bytes that frame them (see
// fuzz_jpeg.cpp); for the reader, TIFFs of them in strips and tiles.
void JpegSeeds(const std::string& jpegDir, const std::string& tiffDir)
{
    const Picture picture = MakePicture(21, 13, 6);
    struct Kind {
        int components;
        bool ycbcr;
        int h, v;
    };
    const Kind kinds[] = {{3, true, 2, 2}, {3, true, 1, 1}, {3, true, 2, 1}, {3, false, 1, 1}, {1, false, 1, 1}};
    uint8_t piece = 0;
    for (const Kind& kind : kinds) {
        tiff_encoders::JpegOptions options;
        options.components = kind.components;
        options.ycbcr = kind.ycbcr;
        options.hSampling = kind.h;
        options.vSampling = kind.v;
        Bytes samples = picture.rgb;
        for (size_t i = 0; kind.components == 1 && i < samples.size() / 3; ++i) {
            samples[i] = samples[3 * i];
        }
        const auto colour = static_cast<uint8_t>(kind.components == 1 ? 2 : kind.ycbcr ? 0 : 1);
        for (const bool abbreviated : {true, false}) {
            for (const bool progressive : {false, true}) {
                options.abbreviated = abbreviated;
                options.progressive = progressive && !abbreviated;
                const Bytes tables = abbreviated ? tiff_encoders::JpegTables(options) : Bytes{};
                Bytes stream = tiff_encoders::Jpeg(samples.data(), 21, 13, options);
                for (const bool cut : {false, true}) {
                    Bytes seed = {piece, static_cast<uint8_t>(colour | (abbreviated ? 0x80 : 0)), 21, 0, 13, 0, 0,
                                  static_cast<uint8_t>(tables.size()), static_cast<uint8_t>(tables.size() >> 8)};
                    seed.insert(seed.end(), tables.begin(), tables.end());
                    seed.insert(seed.end(), stream.begin(), stream.end() - (cut ? stream.size() / 2 : 0));
                    Seed(jpegDir, seed);
                    piece = static_cast<uint8_t>(piece + 7);
                }
            }
        }
        options.abbreviated = true;
        options.progressive = false;
        TiffForm form;
        form.compression = 7;
        form.jpeg = options;
        form.rowsPerStrip = 5;
        Seed(tiffDir, TiffFile(picture, form));
        form.tileSide = 16;
        Seed(tiffDir, TiffFile(picture, form));
    }
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 6 && argc != 7 && argc != 8) {
        std::fprintf(stderr,
                     "usage: make_seeds BMP_DIR TIFF_DIR [LZW_DIR PACKBITS_DIR DEFLATE_DIR [CCITT_DIR [JPEG_DIR]]]\n");
        return 2;
    }
    const std::string bmpDir = argv[1];
    const std::string tiffDir = argv[2];
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {2, 3}, {3, 2}, {5, 7}, {0, 0}, {0, 5}, {7, 0}, {13, 1}};
    for (const auto& [width, height] : sizes) {
        const Picture picture = MakePicture(width, height, width * 31 + height);
        Seed(bmpDir, BmpFile(picture));
        for (uint32_t infoSize : {40u, 124u}) {
            BmpForm form;
            form.infoSize = infoSize;
            form.padRows = true;
            form.topDown = infoSize == 124;
            form.gap = infoSize == 124 ? 8 : 0;
            Seed(bmpDir, BmpFile(picture, form));
        }
        Seed(tiffDir, ExpectedTiff(picture));
        if (width > 0 && height > 0) {
            TiffForm form;
            form.littleEndian = true;
            form.rowsPerStrip = 2;
            form.shortStripFields = true;
            Seed(tiffDir, TiffFile(picture, form));
            form.stripByteCounts = false;
            form.littleEndian = false;
            form.changes = {{282, 5, {72, 1}}, {305, 2, {'x', 0}}};
            Seed(tiffDir, TiffFile(picture, form));
        }
    }
    // Palette, run-length and bit-field forms, in every header.
    for (const auto& [width, height] : {std::pair{1u, 1u}, {3u, 2u}, {5u, 3u}, {9u, 5u}}) {
        for (uint16_t bits : {1, 4, 8}) {
            for (uint32_t infoSize : {12u, 16u, 40u, 64u, 124u}) {
                PaletteBmp form = MakePaletteBmp(width, height, bits, bits == 1 ? 0 : 5, width);
                form.infoSize = infoSize;
                form.topDown = infoSize == 16 || infoSize == 124;
                Seed(bmpDir, BmpFile(form));
                if (bits > 1 && infoSize >= 40) {
                    form.topDown = false;
                    form.compression = bits == 8 ? kBiRle8 : kBiRle4;
                    form.rle.skipped = infoSize == 40 ? std::vector<bool>() : SkipPattern(width, height);
                    Seed(bmpDir, BmpFile(form));
                }
            }
        }
        const std::tuple<uint16_t, uint32_t, Masks, uint32_t> directs[] = {
            {16, kBiRgb, {}, 40}, {16, kBiBitfields, {0xF800, 0x07E0, 0x001F, 0}, 52}, {24, kBiRgb, {}, 12},
            {32, kBiRgb, {}, 64}, {32, kBiAlphaBitfields, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 40},
            {32, kBiBitfields, {0xFF00, 0xFF0000, 0xFF000000, 0x7F}, 124}};
        for (const auto& [bits, compression, masks, infoSize] : directs) {
            DirectBmp form = MakeDirectBmp(width, height, bits, compression, masks, height);
            form.infoSize = infoSize;
            form.topDown = infoSize == 124;
            Seed(bmpDir, BmpFile(form));
        }
    }
    // Run lengths that write many times what they hold: a picture in runs,
    // and one of 4 megapixels ended at once (its pixels left as entry 0).
    for (const uint16_t bits : {4, 8}) {
        PaletteBmp form = MakePaletteBmp(200, 150, bits, 5, 7);
        form.compression = bits == 8 ? kBiRle8 : kBiRle4;
        Seed(bmpDir, BmpFile(form));
    }
    PaletteBmp early;
    early.width = early.height = 2048;
    early.compression = kBiRle8;
    early.palette = {0x102030, 0x405060};
    early.pixelData = {0, 1};  // the end of the picture
    Seed(bmpDir, BmpFile(early));
    // Damaged and refused forms, as the tests have them.
    Bytes bmp = BmpFile(MakePicture(3, 3));
    bmp[28] = 8;  // 8 bits per pixel
    Seed(bmpDir, bmp);
    bmp = BmpFile(MakePicture(3, 3));
    bmp.resize(bmp.size() - 5);  // cut in the rows
    Seed(bmpDir, bmp);
    Bytes tiff = ExpectedTiff(MakePicture(3, 2));
    tiff.pop_back();  // arrays cut short
    Seed(tiffDir, tiff);
    TiffForm lzw;
    lzw.changes = {{259, 3, {5}}};
    Seed(tiffDir, TiffFile(MakePicture(4, 4), lzw));
    TiffForms(tiffDir);
    // YCbCr of each subsampling, its sides cutting blocks, in each coding,
    // strips and tiles, with the fields of fractions written out; and in
    // planes, unsubsampled.
    const std::pair<uint32_t, uint32_t> subsamplings[] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}, {4, 1},
                                                          {4, 2}, {4, 4}, {1, 4}, {2, 4}};
    const uint32_t codings[] = {1, 5, 8, 32773};
    for (size_t i = 0; i < std::size(subsamplings); ++i) {
        TiffForm form;
        form.compression = codings[i % 4];
        form.rowsPerStrip = i % 3 == 0 ? 0 : 4;
        form.tileSide = i % 3 == 0 ? 16 : 0;
        form.littleEndian = i % 2 == 0;
        form.changes = {{274, 3, {1 + static_cast<uint32_t>(i % 4)}}};
        if (i % 2 == 1) {
            form.changes.push_back({529, 5, {2126, 10000, 7152, 10000, 722, 10000}});
            form.changes.push_back({532, 5, {16, 1, 235, 1, 128, 1, 240, 1, 128, 1, 240, 1}});
        }
        Seed(tiffDir, YCbCrTiffFile(MakePicture(19, 11, static_cast<uint32_t>(i)), subsamplings[i].first,
                                    subsamplings[i].second, form));
    }
    TiffForm ycbcrPlanes;
    ycbcrPlanes.planar = true;
    ycbcrPlanes.compression = 5;
    ycbcrPlanes.rowsPerStrip = 3;
    ycbcrPlanes.changes = {{262, 3, {6}}, {530, 3, {1, 1}}};
    Seed(tiffDir, TiffFile(MakePicture(7, 5), ycbcrPlanes));
    if (argc >= 6) {
        CodecSeeds(argv[3], argv[4], argv[5]);
    }
    if (argc >= 7) {
        CcittSeeds(argv[6]);
    }
#if KESTOVATIFF_WITH_JPEG
    if (argc == 8) {
        JpegSeeds(argv[7], tiffDir);
    }
#endif
    std::printf("wrote %d seeds\n", g_count);
    return 0;
}
