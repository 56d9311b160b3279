#include "test_files.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <codecvt>
#include <cstdio>
#include <cstdlib>
#include <locale>

#include <zlib.h>

#include "tiff_encoders.h"

namespace testing_files {

Picture MakePicture(uint32_t width, uint32_t height, uint32_t seed)
{
    Picture picture{width, height, {}};
    picture.rgb.resize(size_t{3} * width * height);
    size_t i = 0;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < 3; ++c) {
                picture.rgb[i++] = static_cast<uint8_t>(x * 7 + y * 31 + c * 85 + seed + (x >> 8) * 3);
            }
        }
    }
    return picture;
}

Picture Shown(const Picture& stored, uint32_t orientation)
{
    // 5 to 8: stored row 0 is the shown picture's left side (5, 8) or right
    // side (6, 7), stored column 0 its top (5, 6) or bottom (7, 8).
    const bool exchanged = orientation >= 5;
    Picture shown{exchanged ? stored.height : stored.width, exchanged ? stored.width : stored.height, stored.rgb};
    for (uint32_t y = 0; y < shown.height; ++y) {
        for (uint32_t x = 0; x < shown.width; ++x) {
            uint32_t fromX = orientation == 2 || orientation == 3 ? stored.width - 1 - x : x;
            uint32_t fromY = orientation == 3 || orientation == 4 ? stored.height - 1 - y : y;
            if (exchanged) {
                fromY = orientation == 5 || orientation == 8 ? x : stored.height - 1 - x;
                fromX = orientation <= 6 ? y : stored.width - 1 - y;
            }
            for (size_t c = 0; c < 3; ++c) {
                shown.rgb[(size_t{y} * shown.width + x) * 3 + c] =
                    stored.rgb[(size_t{fromY} * stored.width + fromX) * 3 + c];
            }
        }
    }
    return shown;
}

Bytes BmpFile(const Picture& picture, const BmpForm& form)
{
    const uint32_t rowBytes = 3 * picture.width;
    const uint32_t stride = form.padRows ? (rowBytes + 3) / 4 * 4 : rowBytes;
    const uint32_t offset = 14 + form.infoSize + form.gap;
    uint32_t pixelBytes = stride * picture.height;
    if (form.padRows && !form.padLastRow && picture.height > 0) {
        pixelBytes -= stride - rowBytes;
    }

    Bytes file;
    file.push_back('B');
    file.push_back('M');
    PutLe(file, offset + pixelBytes, 4);  // bfSize
    PutLe(file, 0, 4);                    // bfReserved1, bfReserved2
    PutLe(file, offset, 4);               // bfOffBits
    PutLe(file, form.infoSize, 4);        // biSize
    PutLe(file, picture.width, 4);        // biWidth
    const auto height = static_cast<int32_t>(picture.height);
    PutLe(file, static_cast<uint32_t>(form.topDown ? -height : height), 4);  // biHeight
    PutLe(file, 1, 2);                    // biPlanes
    PutLe(file, 24, 2);                   // biBitCount
    PutLe(file, 0, 4);                    // biCompression
    PutLe(file, pixelBytes, 4);           // biSizeImage
    file.resize(offset, 0);               // the rest of the info header, then the gap

    for (uint32_t stored = 0; stored < picture.height; ++stored) {
        const uint32_t y = form.topDown ? stored : picture.height - 1 - stored;
        const uint8_t* row = picture.rgb.data() + size_t{rowBytes} * y;
        for (uint32_t x = 0; x < picture.width; ++x) {
            file.push_back(row[3 * x + 2]);
            file.push_back(row[3 * x + 1]);
            file.push_back(row[3 * x]);
        }
        if (form.padRows && (form.padLastRow || stored + 1 < picture.height)) {
            file.resize(file.size() + (stride - rowBytes), 0);
        }
    }
    return file;
}

Bytes ExpectedTiff(const Picture& picture)
{
    const uint32_t p = 3 * picture.width * picture.height;
    Bytes file = {'M', 'M', 0, 42};
    PutBe(file, p + 8, 4);
    file.insert(file.end(), picture.rgb.begin(), picture.rgb.end());

    constexpr uint32_t kShort = 3;
    constexpr uint32_t kLong = 4;
    struct Entry {
        uint32_t tag, type, count, value;
    };
    const Entry entries[] = {
        {256, kShort, 1, picture.width & 0xFFFF},   // ImageWidth
        {257, kShort, 1, picture.height & 0xFFFF},  // ImageLength
        {258, kShort, 3, p + 182},                  // BitsPerSample
        {259, kShort, 1, 1},                        // Compression: none
        {262, kShort, 1, 2},                        // PhotometricInterpretation: RGB
        {273, kLong, 1, 8},                         // StripOffsets
        {274, kShort, 1, 1},                        // Orientation
        {277, kShort, 1, 3},                        // SamplesPerPixel
        {278, kShort, 1, picture.height & 0xFFFF},  // RowsPerStrip
        {279, kLong, 1, p},                         // StripByteCounts
        {280, kShort, 3, p + 188},                  // MinSampleValue
        {281, kShort, 3, p + 194},                  // MaxSampleValue
        {284, kShort, 1, 1},                        // PlanarConfiguration
        {339, kShort, 3, p + 200},                  // SampleFormat
    };
    PutBe(file, 14, 2);
    for (const Entry& e : entries) {
        PutBe(file, e.tag, 2);
        PutBe(file, e.type, 2);
        PutBe(file, e.count, 4);
        if (e.type == kShort && e.count == 1) {
            PutBe(file, e.value, 2);  // a SHORT sits in the first half
            PutBe(file, 0, 2);
        } else {
            PutBe(file, e.value, 4);
        }
    }
    PutBe(file, 0, 4);  // no next directory
    for (uint32_t value : {8u, 8u, 8u, 0u, 0u, 0u, 255u, 255u, 255u, 1u, 1u, 1u}) {
        PutBe(file, value, 2);
    }
    return file;
}

namespace {

// PackBits: a byte repeated 3 to 128 times as one run, the rest literally.
Bytes PackBits(const Bytes& in)
{
    Bytes out;
    auto repeats = [&](size_t i) {
        size_t n = 1;
        while (i + n < in.size() && n < 128 && in[i + n] == in[i]) {
            ++n;
        }
        return n;
    };
    for (size_t i = 0; i < in.size();) {
        if (const size_t n = repeats(i); n >= 3) {
            out.push_back(static_cast<uint8_t>(257 - n));
            out.push_back(in[i]);
            i += n;
            continue;
        }
        size_t n = 0;
        while (i + n < in.size() && n < 128 && repeats(i + n) < 3) {
            ++n;
        }
        out.push_back(static_cast<uint8_t>(n - 1));
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
                   in.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
    }
    return out;
}

// LZW with a literal code for each byte, in 9 bits, most significant bit
// first: a clear code every 250 bytes keeps the table short of the 511
// entries at which codes widen.
Bytes Lzw(const Bytes& in)
{
    Bytes out;
    uint32_t pending = 0;
    int bits = 0;
    auto put = [&](uint32_t code) {
        pending = pending << 9 | code;
        for (bits += 9; bits >= 8; bits -= 8) {
            out.push_back(static_cast<uint8_t>(pending >> (bits - 8)));
        }
        pending &= (1u << bits) - 1;
    };
    for (size_t i = 0; i < in.size(); ++i) {
        if (i % 250 == 0) {
            put(256);
        }
        put(in[i]);
    }
    put(257);
    if (bits > 0) {
        out.push_back(static_cast<uint8_t>(pending << (8 - bits)));
    }
    return out;
}

Bytes Code(uint32_t compression, const Bytes& in)
{
    switch (compression) {
    case 5: return Lzw(in);
    case 32773: return PackBits(in);
    case 8: {
        uLongf size = compressBound(static_cast<uLong>(in.size()));
        Bytes out(size);
        EXPECT_EQ(compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 6), Z_OK);
        out.resize(size);
        return out;
    }
    default: return in;
    }
}

}  // namespace

Bytes TiffFile(const Picture& picture, const TiffForm& form)
{
    auto put = [&](Bytes& out, uint32_t value, int size) {
        form.littleEndian ? PutLe(out, value, size) : PutBe(out, value, size);
    };
    const bool tiled = form.tileSide != 0;
    const uint32_t chunkWidth = tiled ? form.tileSide : picture.width;
    const uint32_t chunkHeight = tiled ? form.tileSide : form.rowsPerStrip == 0 ? picture.height : form.rowsPerStrip;
    const uint32_t across = tiled ? (picture.width + chunkWidth - 1) / chunkWidth : 1;
    const uint32_t down = picture.height == 0 ? 1 : (picture.height + chunkHeight - 1) / chunkHeight;
    const uint32_t planes = form.planar ? 3 : 1;
    const uint32_t samples = 3 / planes;  // a chunk's pixel

    Bytes file = {static_cast<uint8_t>(form.littleEndian ? 'I' : 'M'),
                  static_cast<uint8_t>(form.littleEndian ? 'I' : 'M')};
    put(file, 42, 2);
    put(file, 0, 4);  // directory offset, set below
    const auto chunks = form.chunks.empty() ? across * down * planes : static_cast<uint32_t>(form.chunks.size());
    std::vector<uint32_t> offsets(chunks), counts(chunks);
    for (uint32_t index = chunks; index-- > 0;) {
        const uint32_t plane = index / (across * down);
        const uint32_t x0 = index % across * chunkWidth;
        const uint32_t y0 = index / across % down * chunkHeight;
        const uint32_t rows = tiled ? chunkHeight : std::min(chunkHeight, picture.height - y0);
        Bytes chunk;
        for (uint32_t y = y0; form.chunks.empty() && y < y0 + rows; ++y) {
            const size_t rowStart = chunk.size();
            for (uint32_t x = x0; x < x0 + chunkWidth; ++x) {
                for (uint32_t c = plane; c < plane + samples; ++c) {
                    const bool inside = x < picture.width && y < picture.height;
                    chunk.push_back(inside ? picture.rgb[(size_t{y} * picture.width + x) * 3 + c] : 0);
                }
            }
            for (size_t i = chunk.size(); form.predictor && i-- > rowStart + samples;) {
                chunk[i] = static_cast<uint8_t>(chunk[i] - chunk[i - samples]);
            }
        }
        Bytes coded = form.chunks.empty() ? Code(form.compression, chunk) : form.chunks[index];
#if KESTOVATIFF_WITH_JPEG
        if (form.compression == 7 && form.chunks.empty()) {
            for (size_t i = 0; form.jpeg.components == 1 && i < chunk.size() / 3; ++i) {
                chunk[i] = chunk[3 * i];
            }
            coded = tiff_encoders::Jpeg(chunk.data(), chunkWidth, rows, form.jpeg);
        }
#endif
        offsets[index] = static_cast<uint32_t>(file.size());
        counts[index] = static_cast<uint32_t>(coded.size());
        file.insert(file.end(), coded.begin(), coded.end());
    }
    if (file.size() % 2 != 0) {
        file.push_back(0);
    }

    const uint16_t stripType = form.shortStripFields ? 3 : 4;
    std::vector<TiffEntry> entries = {
        {256, 4, {picture.width}}, {257, 4, {picture.height}},      {258, 3, {8, 8, 8}},
        {259, 3, {form.compression}}, {262, 3, {2}},                {277, 3, {3}},
        {284, 3, {form.planar ? 2u : 1u}},
    };
    if (tiled) {
        entries.insert(entries.end(), {{322, 4, {chunkWidth}}, {323, 4, {chunkHeight}}, {324, 4, offsets},
                                       {325, 4, counts}});
    } else {
        entries.push_back({273, stripType, offsets});
    }
    if (form.rowsPerStrip != 0 && !tiled) {
        entries.push_back({278, 4, {form.rowsPerStrip}});
    }
    if (form.stripByteCounts && !tiled) {
        entries.push_back({279, stripType, counts});
    }
    if (form.predictor) {
        entries.push_back({317, 3, {2}});
    }
    std::vector<TiffEntry> changes;
#if KESTOVATIFF_WITH_JPEG
    if (form.compression == 7) {
        const bool grey = form.jpeg.components == 1;
        changes.insert(changes.end(), {{258, 3, grey ? std::vector<uint32_t>{8} : std::vector<uint32_t>{8, 8, 8}},
                                       {262, 3, {grey ? 1u : form.jpeg.ycbcr ? 6u : 2u}},
                                       {277, 3, {grey ? 1u : 3u}}});
        const Bytes tables = form.jpeg.abbreviated ? tiff_encoders::JpegTables(form.jpeg) : Bytes{};
        if (!tables.empty()) {
            changes.push_back({347, 7, std::vector<uint32_t>(tables.begin(), tables.end())});
        }
    }
#endif
    changes.insert(changes.end(), form.changes.begin(), form.changes.end());
    for (const TiffEntry& change : changes) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const TiffEntry& e) { return e.tag == change.tag; }),
                      entries.end());
        if (!change.values.empty()) {
            entries.push_back(change);
        }
    }
    entries.insert(entries.end(), form.duplicates.begin(), form.duplicates.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });

    auto typeSize = [](uint16_t type) { return type == 3 ? 2 : type == 4 || type == 5 ? 4 : 1; };
    const uint32_t directory = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) {
        file[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(
            form.littleEndian ? directory >> (8 * i) : directory >> (8 * (3 - i)));
    }
    uint32_t arrays = directory + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    Bytes values;
    put(file, static_cast<uint32_t>(entries.size()), 2);
    for (const TiffEntry& e : entries) {
        const int size = typeSize(e.type);
        const auto count = static_cast<uint32_t>(e.type == 5 ? e.values.size() / 2 : e.values.size());
        put(file, e.tag, 2);
        put(file, e.type, 2);
        put(file, count, 4);
        Bytes bytes;
        for (uint32_t v : e.values) {
            put(bytes, v, size);
        }
        if (bytes.size() <= 4) {
            bytes.resize(4, 0);  // left-justified in the value field
            file.insert(file.end(), bytes.begin(), bytes.end());
        } else {
            put(file, arrays + static_cast<uint32_t>(values.size()), 4);
            values.insert(values.end(), bytes.begin(), bytes.end());
        }
    }
    put(file, 0, 4);  // no next directory
    file.insert(file.end(), values.begin(), values.end());
    return file;
}

Bytes YCbCrTiffFile(const Picture& picture, uint32_t across, uint32_t down, TiffForm form)
{
    const uint32_t chunkWidth = form.tileSide != 0 ? form.tileSide : picture.width;
    const uint32_t chunkHeight = form.tileSide != 0 ? form.tileSide
        : form.rowsPerStrip != 0                    ? form.rowsPerStrip
                                                    : picture.height;
    size_t next = 0;
    for (uint32_t y0 = 0; y0 < picture.height; y0 += chunkHeight) {
        for (uint32_t x0 = 0; x0 < picture.width; x0 += chunkWidth) {
            const uint32_t rows = form.tileSide != 0 ? chunkHeight : std::min(chunkHeight, picture.height - y0);
            Bytes units(size_t{(rows + down - 1) / down} * ((chunkWidth + across - 1) / across) * (across * down + 2));
            for (uint8_t& code : units) {
                code = picture.rgb[next++ % picture.rgb.size()];
            }
            form.chunks.push_back(Code(form.compression, units));
        }
    }
    form.changes.push_back({262, 3, {6}});
    form.changes.push_back({530, 3, {across, down}});
    return TiffFile(picture, form);
}

Bytes ReadFile(const std::string& path)
{
    Bytes bytes;
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, stream)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    std::fclose(stream);
    return bytes;
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    ASSERT_NE(stream, nullptr) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
    }
    ASSERT_EQ(std::fclose(stream), 0);
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// The standard library's own converter, deprecated but independent of the
// library's code and of the host's.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::u16string U16(const std::string& utf8)
{
    std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t> convert;
    return convert.from_bytes(utf8);
}
#pragma GCC diagnostic pop

void ScratchDir::SetUp()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kvt-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void ScratchDir::TearDown()
{
    nftw(
        dir_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) {
            chmod(path, 0700);  // a test may have taken away permissions
            return remove(path);
        },
        16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> ScratchDir::Names(const std::string& sub) const
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(sub.empty() ? dir_.c_str() : Path(sub).c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes FaxTiff(uint32_t rows, Picture& shown)
{
    // The first row against the white row above it: horizontal mode (001),
    // white 100 (make-up 64, then 36), black 100 (the same), then a
    // vertical 0 (1) for the row's end. Each row after it is the one
    // above: three vertical 0s. Two EOLs end the data.
    std::string codes = "001 11011 00010101 0000001111 000011010100 1";
    for (uint32_t y = 1; y < rows; ++y) {
        codes += "111";
    }
    codes += "000000000001 000000000001";
    shown = Picture{300, rows, Bytes(size_t{300} * rows * 3, 0xFF)};
    for (uint32_t y = 0; y < rows; ++y) {
        std::fill_n(shown.rgb.begin() + (size_t{y} * 300 + 100) * 3, 300, uint8_t{0});
    }
    TiffForm form;
    form.changes = {{258, 3, {1}}, {259, 3, {4}}, {262, 3, {0}}, {277, 3, {1}}};
    form.chunks = {tiff_encoders::FromBitText(codes)};
    return TiffFile({300, rows, {}}, form);
}

}  // namespace testing_files
