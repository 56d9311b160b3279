#include "tiff/tiff_image.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

#include "bmp/bmp_layout.h"
#include "codecs/ccitt.h"
#include "picture_limits.h"
#include "tiff/tiff_chunk.h"
#include "tiff/tiff_jpeg.h"

namespace kestova {
namespace {

// A field's one value, or `absent` where the field is not there.
Status ScalarOr(SourceFile& source, const TiffField& field, const TiffFormat& format, uint64_t absent, uint64_t& value)
{
    if (!field.present) {
        value = absent;
        return Status::Ok;
    }
    return ReadTiffScalar(source, field, format, value);
}

// A field that holds one value a sample, all the same (BitsPerSample,
// SampleFormat), or absent.
Status PerSample(SourceFile& source, const TiffField& field, uint16_t tag, const TiffFormat& format, uint64_t samples,
                 uint64_t absent, uint64_t& value)
{
    if (!field.present) {
        value = absent;
        return Status::Ok;
    }
    if (field.count != 1 && field.count != samples) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, tag);
    }
    const Status status = ReadTiffScalar(source, field, format, value, true);
    // Values that differ from sample to sample.
    return status == Status::NotSupported ? Refuse(source, status, KESTOVA_REASON_TIFF_FIELD, tag) : status;
}

bool IsPowerOfTwoBits(uint64_t bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8; }

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// a * b and a + b, or UINT64_MAX where they would pass it.
uint64_t Product(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }
uint64_t Sum(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// The bytes that decoding compressed tiles may cost, beyond twice the
// picture's own. A tile's rows are stored one after another, so reaching
// a row means decoding the whole width of the rows before it, the part
// right of the picture too; and a few megabytes of Deflate can declare
// gigabytes of such bytes (a stored byte gives up to 1032, of LZW more).
// Writers do make tiles larger than small pictures (a 256 x 256 tile for
// a 10 x 10 picture), which this allowance keeps, and tiles no wider and
// no taller than the picture never need more than twice its bytes once
// their rows below it are left undecoded. A picture whose tiles need more
// (a tile 2^31 pixels wide over a picture of two rows: 2 GiB decoded for a
// few pixels) is refused, so that a conversion's work follows the picture
// it declares, not the tiles' sides.
constexpr uint64_t kTileAllowanceBytes = uint64_t{32} << 20;

// Writers tile a narrow picture in their usual tiles too: 16 x 60000
// pixels in tiles of 256 x 256 decode 46 MB of which 3 MB are the
// picture's. So each row the tiles hold may also waste up to a common
// tile side of pixels right of the picture, and each column as many rows
// below it; but this grant never takes the bound past kTileWorkCapBytes,
// what the allowance above already comes to for a 16-megapixel picture
// with alpha (twice 16 megapixels of 4 bytes, and 32 MiB). 160 MiB of Deflate's
// zeros in tiles decode in about 0.35 s of one core.
constexpr uint64_t kCommonTileSide = 512;
constexpr uint64_t kJpegTablesWorkBytes = uint64_t{64} << 20;
constexpr uint64_t kTileWorkCapBytes = uint64_t{160} << 20;

// Sets whether the last row of tiles is decoded whole (every row it holds)
// or only as far as the picture reaches, the first where that keeps within
// the bound above; NotSupported where even the second does not.
Status PlanTileWork(const SourceFile& source, TiffImage& image)
{
    if (!image.tiled || image.compression == TiffCompression::None) {
        return Status::Ok;  // strips hold the picture's rows only; uncompressed tiles lie whole in the file
    }
    const uint64_t planes = image.planar ? image.samples : 1;
    const uint64_t bitsPerPixel = uint64_t{ChunkSamples(image)} * image.bits;
    const uint64_t picture = planes * image.height * CeilDiv(uint64_t{image.width} * bitsPerPixel, 8);
    const uint64_t allowed = 2 * picture + kTileAllowanceBytes;
    // The tiles' rows and columns (each below 2^34), a common side of waste each.
    const uint64_t sides = uint64_t{image.down} * image.chunkHeight + uint64_t{image.across} * image.chunkWidth;
    const uint64_t waste = planes * CeilDiv(sides * kCommonTileSide * bitsPerPixel, 8);
    const uint64_t bound = std::max(allowed, std::min(allowed + waste, kTileWorkCapBytes));
    const uint64_t rowBytes = ChunkRowBytes(image);
    const uint64_t acrossBytes = image.across * rowBytes;  // a row of all the tiles across
    const uint64_t above = uint64_t{image.down - 1} * image.chunkHeight;
    image.wholeLastChunks = Product(planes, Product(above + image.chunkHeight, acrossBytes)) <= bound;
    if (image.wholeLastChunks) {
        return Status::Ok;
    }
    // The rows to the picture's last, and of that one the pieces that hold
    // the picture's pixels.
    const uint64_t lastVisible = image.width - uint64_t{image.across - 1} * image.chunkWidth;
    const uint64_t lastRow = (image.across - 1) * rowBytes +
        std::min(rowBytes, CeilDiv(lastVisible * bitsPerPixel, 8) + kChunkPieceBytes);
    const uint64_t decoded = Product(planes, Sum(Product(image.height - 1, acrossBytes), lastRow));
    return decoded <= bound ? Status::Ok : Refuse(source, Status::NotSupported, KESTOVA_REASON_TILE_WORK, decoded);
}

Status CheckChunks(SourceFile& source, const TiffImage& image)
{
    TiffValueReader offsets(source, image.offsets, image.format);
    TiffValueReader counts(source, image.byteCounts, image.format);
    const uint64_t planes = image.planar ? image.samples : 1;
    uint64_t total = 0;
    uint64_t index = 0;
    for (uint64_t plane = 0; plane < planes; ++plane) {
        for (uint32_t down = 0; down < image.down; ++down) {
            for (uint32_t column = 0; column < image.across; ++column, ++index) {
                uint64_t offset = 0;
                uint64_t bytes = 0;
                if (const Status status =
                        CheckedChunkPlace(source, image, offsets, counts, index, down, total, offset, bytes);
                    status != Status::Ok) {
                    return status;
                }
            }
        }
    }
    return Status::Ok;
}

}  // namespace

Status ReadTiffImage(SourceFile& source, TiffImage& image)
{
    TiffDirectory d;
    if (const Status status = ReadTiffDirectory(source, d); status != Status::Ok) {
        return status;
    }
    const TiffFormat& f = d.format;
    image.format = f;
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t compression = 1;
    uint64_t photometric = 0;
    uint64_t samples = 1;
    uint64_t bits = 1;
    uint64_t sampleFormat = 1;
    uint64_t predictor = 1;
    uint64_t fillOrder = 1;
    uint64_t planar = 1;
    uint64_t orientation = 1;
    uint64_t t4Options = 0;
    uint64_t t6Options = 0;
    for (const Status status : {
             ReadTiffScalar(source, d.imageWidth, f, width),
             ReadTiffScalar(source, d.imageLength, f, height),
             ReadTiffScalar(source, d.photometric, f, photometric),
             ScalarOr(source, d.compression, f, 1, compression),
             ScalarOr(source, d.samplesPerPixel, f, 1, samples),
             ScalarOr(source, d.predictor, f, 1, predictor),
             ScalarOr(source, d.fillOrder, f, 1, fillOrder),
             ScalarOr(source, d.planarConfiguration, f, 1, planar),
             ScalarOr(source, d.orientation, f, 1, orientation),
             ScalarOr(source, d.t4Options, f, 0, t4Options),
             ScalarOr(source, d.t6Options, f, 0, t6Options),
         }) {
        if (status != Status::Ok) {
            return status;
        }
    }
    if (samples < 1 || samples > 4) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_SAMPLES, samples);
    }
    for (const Status status : {
             PerSample(source, d.bitsPerSample, 258, f, samples, 1, bits),
             PerSample(source, d.sampleFormat, 339, f, samples, 1, sampleFormat),
         }) {
        if (status != Status::Ok) {
            return status;
        }
    }

    // The coding.
    switch (compression) {
    case 1: image.compression = TiffCompression::None; break;
    case 5: image.compression = TiffCompression::Lzw; break;
    case 8:
    case 32946: image.compression = TiffCompression::Deflate; break;
    case 32773: image.compression = TiffCompression::PackBits; break;
    case 2: image.compression = TiffCompression::FaxHuffman; break;
    case 3: image.compression = TiffCompression::FaxT4; break;
    case 4: image.compression = TiffCompression::FaxT6; break;
    case 7: image.compression = TiffCompression::Jpeg; break;
    default:  // old-style JPEG, LZMA, ZSTD, WebP, JBIG, LogLuv's and the rest
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_COMPRESSION, compression);
    }
    // The fax codings code bilevel pictures only: one 1-bit sample, white
    // or black at zero (checked with the colour below). Their uncompressed
    // mode, which hardly any writer uses, is refused here, as are rows
    // wider than the decoder's (see kCcittMaxWidth), rather than at the
    // first strip.
    if (IsFax(image.compression)) {
        image.faxOptions = static_cast<uint32_t>(compression == 3 ? t4Options : compression == 4 ? t6Options : 0);
        if ((image.faxOptions & kCcittUncompressed) != 0) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, compression == 3 ? 292 : 293);
        }
        if (photometric != 0 && photometric != 1) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_COLOUR_SPACE, photometric);
        }
        if (bits != 1 || samples != 1) {
            return bits != 1 ? Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 258)
                             : Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_SAMPLES, samples);
        }
    }
    // A predictor belongs to LZW and Deflate; with no coding or PackBits
    // the field means nothing, and readers ignore it. Horizontal
    // differencing is of 8- and 16-bit samples: libtiff defines no sums
    // for samples packed across bytes (9 to 15 bits), so neither does this
    // reader.
    const bool predicted = image.compression == TiffCompression::Lzw || image.compression == TiffCompression::Deflate;
    if (predicted && ((predictor != 1 && predictor != 2) || (predictor == 2 && bits != 8 && bits != 16))) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_PREDICTOR, predictor);
    }
    if (fillOrder != 1 && fillOrder != 2) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 266);
    }
    image.predictor = predicted && predictor == 2;
    image.reverseBits = fillOrder == 2;
    if (image.compression == TiffCompression::Jpeg) {
        if (const Status status = ReadTiffJpeg(source, d, samples, bits, planar, photometric, image);
            status != Status::Ok) {
            return status;
        }
    }

    // The colour: unsigned integer samples of no more than 8 bits, and at
    // most one sample past the colour's. Grey and RGB samples of 9 to 16
    // bits (with or without alpha) are read where the caller asks for them
    // reduced to 8 bits, as they are decoded (tiff_chunk.h); deeper palette
    // indices never are, as a map of 65536 colours has no 8-bit form.
    if (sampleFormat != 1) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_SAMPLE_FORMAT, sampleFormat);  // floating point
    }
    if (bits > 8 && photometric == 3) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_PALETTE_BITS, bits);
    }
    if (bits > 16) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_SAMPLE_BITS, bits);
    }
    if (bits > 8 && !ReduceAllowed(source)) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_DEEP_SAMPLES, bits);
    }
    if (bits < 8 && !IsPowerOfTwoBits(bits)) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 258);  // 3, 5, 6 or 7 bits
    }
    image.bits = static_cast<uint32_t>(bits);
    image.samples = static_cast<uint32_t>(samples);
    switch (photometric) {
    case 0: image.colour = TiffColour::WhiteIsZero; break;
    case 1: image.colour = TiffColour::BlackIsZero; break;
    case 2: image.colour = TiffColour::Rgb; break;
    case 3: image.colour = TiffColour::Palette; break;
    case 6: image.colour = TiffColour::YCbCr; break;
    default:  // CMYK, CIELab and the rest
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_COLOUR_SPACE, photometric);
    }
    if (image.colour == TiffColour::YCbCr) {
        // The conversion is of 8-bit codes, and there is no alpha.
        if (bits != 8) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 258);
        }
        if (samples != 3) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_SAMPLES, samples);
        }
        if (const Status status = ReadTiffYCbCr(source, d, image.ycbcr); status != Status::Ok) {
            return status;
        }
    }
    // The sample past the colour's (three for RGB, one for grey and
    // palette) is alpha where ExtraSamples says so (1 associated, 2
    // unassociated), and converts only where every pixel is opaque (see
    // tiff_pixels.h). One ExtraSamples calls unspecified (0), or one with
    // no ExtraSamples at all (the four-sample RGB and two-sample grey some
    // writers make), is not part of the picture and is ignored.
    const uint64_t channels = image.colour == TiffColour::Rgb || image.colour == TiffColour::YCbCr ? 3 : 1;
    if (samples < channels || samples > channels + 1) {
        // Too few for the colour, or several extra samples.
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_SAMPLES, samples);
    }
    if (samples > channels && d.extraSamples.present) {
        uint64_t extra = 0;
        if (const Status status = ReadTiffScalar(source, d.extraSamples, f, extra); status != Status::Ok) {
            return status;
        }
        if (extra > 2) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 338);  // no such kind of sample
        }
        image.alpha = extra != 0;
        image.associated = extra == 1;
    }
    if (image.colour == TiffColour::Palette) {
        if (!d.colorMap.present || d.colorMap.type != kTiffShort || d.colorMap.count != 3 * (uint64_t{1} << bits)) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 320);
        }
        image.colorMap = d.colorMap;
    }
    if (orientation < 1 || orientation > 8) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_ORIENTATION, orientation);
    }
    if (planar != 1 && planar != 2) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_PLANAR, planar);
    }
    image.orientation = static_cast<uint32_t>(orientation);
    image.planar = planar == 2 && samples > 1;
    if (image.planar && ((image.colour != TiffColour::Rgb && image.colour != TiffColour::YCbCr) || bits < 8)) {
        // The planes are interleaved as RGB (and alpha) or YCbCr only.
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_PLANAR, planar);
    }
    // Subsampled YCbCr in planes (chroma planes smaller than luma's) is
    // refused, as libtiff refuses to read it as RGB; so is a predictor over
    // data units, which differences luma and chroma samples together.
    if (TiffSubsampled(image) && (image.planar || image.predictor)) {
        return image.planar ? Refuse(source, Status::NotSupported, KESTOVA_REASON_PLANAR, planar)
                            : Refuse(source, Status::NotSupported, KESTOVA_REASON_PREDICTOR, predictor);
    }

    // The BMP's headers hold the sides as signed 32-bit and its size in 32.
    if (width > INT32_MAX || height > INT32_MAX) {
        return Refuse(source, Status::TooLarge, KESTOVA_REASON_SIDE_TOO_LARGE, std::max(width, height));
    }
    if (PixelBytes(width, height) + kBmpHeadersSize > kMaxFileSize) {
        return Refuse(source, Status::TooLarge, KESTOVA_REASON_FILE_TOO_LARGE);
    }
    if (!PixelsAllowed(source, width * height)) {
        return Status::TooLarge;
    }
    image.width = static_cast<uint32_t>(width);
    image.height = static_cast<uint32_t>(height);

    // The chunks.
    image.tiled = d.tileWidth.present || d.tileLength.present || d.tileOffsets.present;
    // Old libtiff versions wrote tiles' offsets and byte counts as
    // StripOffsets and StripByteCounts; libtiff still reads them there.
    const TiffField& tileOffsets = d.tileOffsets.present ? d.tileOffsets : d.stripOffsets;
    const TiffField& tileByteCounts = d.tileOffsets.present ? d.tileByteCounts : d.stripByteCounts;
    if (image.tiled) {
        uint64_t tileWidth = 0;
        uint64_t tileLength = 0;
        for (const Status status :
             {ReadTiffScalar(source, d.tileWidth, f, tileWidth), ReadTiffScalar(source, d.tileLength, f, tileLength)}) {
            if (status != Status::Ok) {
                return status;
            }
        }
        if (tileWidth == 0 || tileWidth > kMaxFileSize || tileLength == 0 || tileLength > kMaxFileSize) {
            const uint64_t tag = tileWidth == 0 || tileWidth > kMaxFileSize ? 322 : 323;
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, tag);
        }
        if (!tileOffsets.present || !tileByteCounts.present) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, tileOffsets.present ? 325 : 324);
        }
        image.chunkWidth = static_cast<uint32_t>(tileWidth);
        image.chunkHeight = static_cast<uint32_t>(tileLength);
        image.offsets = tileOffsets;
        image.byteCounts = tileByteCounts;
    } else {
        uint64_t rowsPerStrip = height;
        if (const Status status = ScalarOr(source, d.rowsPerStrip, f, height, rowsPerStrip); status != Status::Ok) {
            return status;
        }
        if (rowsPerStrip == 0 && height > 0) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 278);
        }
        image.chunkWidth = image.width;
        image.chunkHeight = static_cast<uint32_t>(rowsPerStrip < height ? rowsPerStrip : height);
        image.offsets = d.stripOffsets;
        image.byteCounts = d.stripByteCounts;
        if (!image.offsets.present || (!image.byteCounts.present && image.compression != TiffCompression::None)) {
            return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, image.offsets.present ? 279 : 273);
        }
    }
    if (IsFax(image.compression) && image.chunkWidth > kCcittMaxWidth) {
        // Wider rows than the fax decoder's: ImageWidth or TileWidth.
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, image.tiled ? 322 : 256);
    }
    if (image.width == 0 || image.height == 0) {
        return Status::Ok;  // no pixels, no chunks to read
    }
    // A chunk's decoded bytes must fit the output's size limit too.
    if (ChunkRowBytes(image) > kMaxFileSize / image.chunkHeight) {
        return Status::TooLarge;
    }
    image.across = static_cast<uint32_t>(CeilDiv(image.width, image.chunkWidth));
    image.down = static_cast<uint32_t>(CeilDiv(image.height, image.chunkHeight));
    image.chunksPerPlane = uint64_t{image.across} * image.down;
    const uint64_t chunks = image.chunksPerPlane * (image.planar ? image.samples : 1);
    if (image.offsets.count < chunks || (image.byteCounts.present && image.byteCounts.count < chunks)) {
        const bool offsets = image.offsets.count < chunks;
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD,
                      image.tiled ? (offsets ? 324 : 325) : (offsets ? 273 : 279));
    }
    if (const Status status = PlanTileWork(source, image); status != Status::Ok) {
        return status;
    }
    // JPEG's tables are read again before every chunk's stream, a cost the
    // chunks' own bytes do not count: a file whose tables are padded to
    // megabytes over tens of thousands of tiles would read gigabytes. Real
    // tables are a few kilobytes (four quantisation and eight Huffman tables
    // at most), so they may cost all chunks together 64 MiB, or as many
    // bytes as the picture's where it is larger.
    if (image.compression == TiffCompression::Jpeg && image.jpegTables.present &&
        image.jpegTables.count > std::max(kJpegTablesWorkBytes, PixelBytes(width, height)) / chunks) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TIFF_FIELD, 347);  // JPEGTables
    }
    // Subsampled YCbCr decodes its tiles whole: tiles too large for the
    // bound (PlanTileWork, which counts three bytes a pixel, more than a
    // data unit's share) are refused.
    if (TiffSubsampled(image) && !image.wholeLastChunks) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_TILE_WORK);
    }
    // Uncompressed pixels are all in the file (subsampled YCbCr's fewer
    // bytes are checked chunk by chunk, below).
    if (image.compression == TiffCompression::None && !TiffSubsampled(image) &&
        PixelBytes(width, height) * image.bits * image.samples / 24 > source.size) {
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_FILE_SHORT,
                      PixelBytes(width, height) * image.bits * image.samples / 24);
    }
    return TiffRowsCopied(image) ? Status::Ok : CheckChunks(source, image);
}

bool TiffRowsCopied(const TiffImage& image)
{
    return image.compression == TiffCompression::None && image.colour == TiffColour::Rgb && image.bits == 8 &&
        image.samples == 3 && !image.planar && !image.tiled && image.orientation == 1 && !image.reverseBits &&
        !image.predictor;
}

}  // namespace kestova
