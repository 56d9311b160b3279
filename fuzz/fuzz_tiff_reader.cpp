// The whole TIFF reading path from memory: the directory, the chunks, the
// decoders and the pixels, writing the BMP to an anonymous memory file
// (planar pictures still decode through the library's scratch file). Any
// bytes must be refused or read; a BMP read must have exactly its layout's
// size, and equal the picture decoded again chunk by chunk here, each pixel
// put at its place by the orientation independently of the library's row
// placement.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "bmp/bmp_layout.h"
#include "fuzz_support.h"
#include "output_stream.h"
#include "picture_limits.h"
#include "tiff/tiff_chunk.h"
#include "tiff/tiff_image.h"
#include "tiff/tiff_pixels.h"
#include "tiff/tiff_planes.h"
#include "tiff/tiff_rows.h"
#include "tiff/tiff_transpose.h"
#include "tiff/tiff_ycbcr_rows.h"

using namespace kestova;
using fuzz_support::Fail;

namespace {

using Bytes = std::vector<uint8_t>;

// Pictures up to this size are decoded again and compared.
constexpr uint64_t kCompareBytes = uint64_t{16} << 20;

Status WriteBmp(SourceFile& source, const TiffImage& image, int fd)
{
    OutputFile file;
    file.mode = OutputMode::Stream;
    file.fd = fd;
    auto out = std::make_unique<OutputStream>(file);
    uint8_t headers[kBmpHeadersSize];
    FormatBmpHeaders(BmpWidthOf(image), BmpHeightOf(image), headers);
    out->PutBytes(headers, sizeof headers);
    Status status = Status::Ok;
    if (TiffTransposed(image)) {
        TiffPixelFormat format;
        status = image.planar ? Status::Ok : PrepareTiffPixels(source, image, format);
        if (status == Status::Ok) {
            status = WriteTiffTransposed(source, image, format, *out);
        }
    } else if (image.planar) {
        status = WriteTiffPlanes(source, image, *out);
    } else {
        TiffPixelFormat format;
        status = PrepareTiffPixels(source, image, format);
        out->MoveTo(kBmpHeadersSize + PixelBytes(image.width, image.height));
        if (status == Status::Ok) {
            status = TiffSubsampled(image) ? WriteYCbCrRows(source, image, format, *out)
                                           : WriteTiffRows(source, image, format, *out);
        }
    }
    const Status finished = out->Finish();
    return status != Status::Ok ? status : finished;
}

// Every chunk decoded into the stored picture, blue, green, red, row after
// row as stored; planes gathered first.
Status DecodeStored(SourceFile& source, const TiffImage& image, Bytes& stored)
{
    alignas(16) static uint8_t arena[std::max({kLzwArenaBytes, kDeflateArenaBytes, kJpegArenaBytes})];
    static const std::unique_ptr<uint8_t[]> piece(new uint8_t[kChunkPieceBytes]);
    const uint64_t pixels = uint64_t{image.width} * image.height;
    TiffPixelFormat format;
    if (const Status status = PrepareTiffPixels(source, image, format); status != Status::Ok) {
        return status;
    }
    Bytes planes(image.planar ? pixels * image.samples : 0);
    stored.assign(3 * pixels, 0);
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    auto decoder = std::make_unique<ChunkDecoder>();
    Status status = Status::Ok;
    for (uint64_t index = 0; status == Status::Ok && index < image.chunksPerPlane * (image.planar ? image.samples : 1);
         ++index) {
        const uint64_t plane = index / image.chunksPerPlane;
        const uint64_t chunk = index % image.chunksPerPlane;
        const uint64_t x0 = chunk % image.across * image.chunkWidth;
        const auto down = static_cast<uint32_t>(chunk / image.across);
        uint64_t offset = 0;
        uint64_t bytes = 0;
        status = TiffChunkPlace(source, image, offsets, counts, index, offset, bytes);
        if (status == Status::Ok) {
            status = StartChunk(*decoder, source, image, down, offset, bytes, arena);
        }
        // As far as the reader's plan decodes the chunk: the last row of
        // tiles may end at the picture's last pixel (DecodedWhole).
        for (uint32_t row = 0; status == Status::Ok && row < DecodedRows(image, down); ++row) {
            const uint64_t y = uint64_t{down} * image.chunkHeight + row;
            const uint64_t inside = std::min<uint64_t>(image.chunkWidth, image.width - x0);
            const uint64_t visible = y < image.height ? inside : 0;
            status = DecodeChunkRow(*decoder, image, piece.get(), visible, DecodedPixels(image, down, row, inside),
                                    WholeRowsFrom(image, down, row), [&](const uint8_t* samples, uint64_t first, uint64_t n) {
                                        const uint64_t at = y * image.width + x0 + first;
                                        if (image.planar) {
                                            std::copy(samples, samples + n, &planes[plane * pixels + at]);
                                            return Status::Ok;
                                        }
                                        return TiffToBgr(format, &stored[3 * at], samples, 0, n)
                                                   ? Status::Ok
                                                   : Status::NotSupported;
                                    });
        }
        if (status == Status::Ok && DecodedWhole(image, down)) {
            status = FinishChunk(*decoder);
        }
    }
    EndChunk(*decoder);
    // Planes interleaved, then each pixel converted as its colour says
    // (RGB, with its alpha, or YCbCr).
    for (uint64_t k = 0; status == Status::Ok && image.planar && k < pixels; ++k) {
        uint8_t samples[4] = {};
        for (uint64_t s = 0; s < image.samples && s < 4; ++s) {
            samples[s] = planes[s * pixels + k];
        }
        if (!TiffToBgr(format, &stored[3 * k], samples, 0, 1)) {
            return Status::NotSupported;
        }
    }
    return status;
}

// The BMP's pixel area: bottom row first, each row as shown. Shown row r
// (from the top), column c is stored row y, column x:
//
//   1 r, c           2 r, W-1-c          3 H-1-r, W-1-c      4 H-1-r, c
//   5 c, r           6 H-1-c, r          7 H-1-c, W-1-r      8 c, W-1-r
//
// 5 to 8 show H columns and W rows.
Bytes ExpectedPixels(const TiffImage& image, const Bytes& stored)
{
    const uint64_t width = image.width;
    const uint64_t height = image.height;
    const uint32_t o = image.orientation;
    const uint64_t shownWidth = o >= 5 ? height : width;
    const uint64_t shownHeight = o >= 5 ? width : height;
    Bytes bmp(3 * width * height);
    for (uint64_t b = 0; b < shownHeight; ++b) {
        const uint64_t r = shownHeight - 1 - b;
        for (uint64_t c = 0; c < shownWidth; ++c) {
            uint64_t y = o <= 2 ? r : height - 1 - r;
            uint64_t x = o == 2 || o == 3 ? width - 1 - c : c;
            if (o >= 5) {
                y = o == 5 || o == 8 ? c : height - 1 - c;
                x = o <= 6 ? r : width - 1 - r;
            }
            const uint64_t from = 3 * (y * width + x);
            std::copy(&stored[from], &stored[from] + 3, &bmp[3 * (b * shownWidth + c)]);
        }
    }
    return bmp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("fuzz-bmp", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) {
        Fail("no memory file");
    }
    SourceFile source = MemorySourceFile(data, size);
    // The limit on pixels, and the reduction of deep samples and flattening
    // the input's hash draws, as KestovaConvert sets them: the second
    // decoding below reads with the same notes.
    const KestovaOptions options = fuzz_support::DrawnOptions(fuzz_support::InputHash(data, size));
    CallNotes notes;
    notes.maxPixels = options.maxPixels;
    notes.flags = options.flags;
    notes.background = options.background;
    source.notes = &notes;
    TiffImage image;
    Status status = ReadTiffImage(source, image);
    if (status == Status::Ok) {
        status = WriteBmp(source, image, fd);
    }
    if (status != Status::Ok && status != Status::NotSupported && status != Status::TooLarge) {
        Fail("a TIFF in memory refused as neither unsupported nor too large", static_cast<long long>(status));
    }
    struct stat written {};
    fstat(fd, &written);
    const uint64_t bmpSize = kBmpHeadersSize + PixelBytes(image.width, image.height);
    if (status != Status::Ok) {
        if (static_cast<uint64_t>(written.st_size) > bmpSize) {
            Fail("a refused TIFF wrote past its BMP", written.st_size);
        }
        return 0;
    }
    if (static_cast<uint64_t>(written.st_size) != bmpSize) {
        Fail("the BMP is not its layout's size", written.st_size);
    }
    // Subsampled YCbCr's data units are not decoded a second way here: the
    // peer tests check them against TIFF 6.0's formulas.
    if (bmpSize - kBmpHeadersSize > kCompareBytes || TiffSubsampled(image)) {
        return 0;
    }
    Bytes stored;
    if (DecodeStored(source, image, stored) != Status::Ok) {
        Fail("the picture read does not decode again chunk by chunk");
    }
    const Bytes expected = ExpectedPixels(image, stored);
    Bytes bmp(expected.size());
    if (pread(fd, bmp.data(), bmp.size(), kBmpHeadersSize) != static_cast<ssize_t>(bmp.size())) {
        Fail("cannot read the BMP back");
    }
    if (bmp != expected) {
        Fail("the BMP's pixels differ from the picture decoded chunk by chunk");
    }
    return 0;
}
