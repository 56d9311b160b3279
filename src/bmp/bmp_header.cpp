#include "bmp_header.h"

#include <algorithm>

#include "bmp_layout.h"
#include "byte_order.h"
#include "picture_limits.h"

namespace kestova {
namespace {

// biCompression values.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;  // in the old variant: a Huffman coding
constexpr uint32_t kBiAlphaBitfields = 6;

bool IsContiguous(uint32_t mask)
{
    if (mask == 0) {
        return false;
    }
    while ((mask & 1) == 0) {
        mask >>= 1;
    }
    return (mask & (mask + 1)) == 0;  // a run of ones from bit 0
}

unsigned BitsIn(uint32_t mask)
{
    unsigned bits = 0;
    for (; mask != 0; mask &= mask - 1) {
        ++bits;
    }
    return bits;
}

// Each colour mask a run of 1 to `widest` bits, alpha none or such a run,
// all inside the pixel and none overlapping another.
bool MasksAreSound(const uint32_t (&masks)[4], uint16_t bitCount, unsigned widest)
{
    const uint64_t pixel = (uint64_t{1} << bitCount) - 1;
    uint32_t seen = 0;
    for (int channel = kRed; channel <= kAlpha; ++channel) {
        const uint32_t mask = masks[channel];
        if (channel == kAlpha && mask == 0) {
            continue;
        }
        if (!IsContiguous(mask) || BitsIn(mask) > widest || (mask & ~pixel) != 0 || (mask & seen) != 0) {
            return false;
        }
        seen |= mask;
    }
    return true;
}

// The widest channel's bits, for the reason of a refusal.
unsigned WidestMask(const uint32_t (&masks)[4])
{
    return std::max({BitsIn(masks[kRed]), BitsIn(masks[kGreen]), BitsIn(masks[kBlue]), BitsIn(masks[kAlpha])});
}

}  // namespace

Status ParseBmpHeaders(const uint8_t* head, size_t length, BmpInfo& info, CallNotes* notes)
{
    if (length < 18 || head[0] != 'B' || head[1] != 'M') {
        return Refuse(notes, Status::NotSupported,
                      length < 18 ? KESTOVA_REASON_FILE_SHORT : KESTOVA_REASON_UNKNOWN_FORMAT, 18);
    }
    const uint32_t infoSize = ReadLe32(head + 14);
    info.infoSize = infoSize;
    const bool core = infoSize == 12;
    const bool oldVariant = infoSize == 16 || infoSize == 64;
    const bool windows = infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124;
    if ((!core && !oldVariant && !windows) || length < 14 + uint64_t{infoSize}) {
        return core || oldVariant || windows
                   ? Refuse(notes, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, 14 + uint64_t{infoSize})
                   : Refuse(notes, Status::NotSupported, KESTOVA_REASON_BMP_HEADER, infoSize);
    }
    const uint8_t* h = head + 14;
    int64_t width;
    int64_t height;
    uint16_t planes;
    uint32_t compression = kBiRgb;
    uint32_t clrUsed = 0;
    if (core) {
        width = ReadLe16(h + 4);
        height = ReadLe16(h + 6);
        planes = ReadLe16(h + 8);
        info.bitCount = ReadLe16(h + 10);
    } else {
        width = static_cast<int32_t>(ReadLe32(h + 4));
        height = static_cast<int32_t>(ReadLe32(h + 8));
        planes = ReadLe16(h + 12);
        info.bitCount = ReadLe16(h + 14);
        if (infoSize >= 40) {
            compression = ReadLe32(h + 16);
            info.sizeImage = ReadLe32(h + 20);
            clrUsed = ReadLe32(h + 32);
        }
    }
    const uint16_t bits = info.bitCount;
    if (planes != 1) {
        return Refuse(notes, Status::NotSupported, KESTOVA_REASON_BMP_PLANES, planes);
    }

    // What the bit count and the compression make together; the old
    // variants have no bit fields, and the oldest no compression at all.
    uint64_t masksAfter = 0;  // bytes of masks after a 40-byte header
    const bool palette = bits == 1 || bits == 4 || bits == 8;
    if (compression == kBiRgb && (palette || bits == 24 || (!core && (bits == 16 || bits == 32)))) {
        info.coding = BmpCoding::Rgb;
    } else if (!core && compression == kBiRle8 && bits == 8) {
        info.coding = BmpCoding::Rle8;
    } else if (!core && compression == kBiRle4 && bits == 4) {
        info.coding = BmpCoding::Rle4;
    } else if (windows && (bits == 16 || bits == 32) &&
               (compression == kBiBitfields || (compression == kBiAlphaBitfields && infoSize != 52))) {
        // (The 52-byte header has no room for an alpha mask; an alpha
        // channel whose mask is nowhere would be dropped.)
        info.coding = BmpCoding::Bitfields;
        masksAfter = infoSize == 40 ? (compression == kBiBitfields ? 12 : 16) : 0;
    } else {
        const bool knownCoding = compression <= kBiBitfields || compression == kBiAlphaBitfields;
        return knownCoding ? Refuse(notes, Status::NotSupported, KESTOVA_REASON_BMP_BITS, bits)
                           : Refuse(notes, Status::NotSupported, KESTOVA_REASON_BMP_COMPRESSION, compression);
    }
    if (info.coding == BmpCoding::Bitfields) {
        // At the info header's byte 40: in the later headers, or right after
        // a 40-byte one.
        const uint8_t* m = h + 40;
        if (length < 14 + uint64_t{infoSize} + masksAfter) {
            return Refuse(notes, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, 14 + uint64_t{infoSize} + masksAfter);
        }
        for (int channel = kRed; channel <= kBlue; ++channel) {
            info.masks[channel] = ReadLe32(m + size_t{4} * static_cast<size_t>(channel));
        }
        const bool hasAlpha = infoSize >= 56 || masksAfter == 16;
        info.masks[kAlpha] = hasAlpha ? ReadLe32(m + 12) : 0;
        // Channels wider than 8 bits (10-10-10-2, 11-11-10) where the
        // caller asks for them reduced (bmp_pixels.h).
        const unsigned allowed = ReduceAllowed(notes) ? 32 : 8;
        if (!MasksAreSound(info.masks, bits, allowed)) {
            const unsigned widest = WidestMask(info.masks);
            return Refuse(notes, Status::NotSupported,
                          widest > allowed ? KESTOVA_REASON_DEEP_SAMPLES : KESTOVA_REASON_BMP_MASKS, widest);
        }
    } else if (bits == 16) {
        info.masks[kRed] = 0x7C00;  // 5-5-5, the top bit unused
        info.masks[kGreen] = 0x03E0;
        info.masks[kBlue] = 0x001F;
    } else if (bits == 32) {
        info.masks[kRed] = 0x00FF0000;  // B, G, R, and a byte the format leaves unused
        info.masks[kGreen] = 0x0000FF00;
        info.masks[kBlue] = 0x000000FF;
    }

    // Run lengths are stored bottom row first, by the format.
    const bool runLengths = info.coding == BmpCoding::Rle8 || info.coding == BmpCoding::Rle4;
    if (width < 0 || height == INT32_MIN || (height < 0 && runLengths)) {
        return Status::NotSupported;
    }
    const auto absHeight = static_cast<uint64_t>(height < 0 ? -height : height);
    if (static_cast<uint64_t>(width) > kMaxSide || absHeight > kMaxSide) {
        return Refuse(notes, Status::TooLarge, KESTOVA_REASON_SIDE_TOO_LARGE,
                      std::max(static_cast<uint64_t>(width), absHeight));
    }
    if (!PixelsAllowed(notes, static_cast<uint64_t>(width) * absHeight)) {
        return Status::TooLarge;
    }
    info.width = static_cast<uint32_t>(width);
    info.height = static_cast<uint32_t>(absHeight);
    info.topDown = height < 0;

    info.paletteOffset = 14 + uint64_t{infoSize} + masksAfter;
    info.paletteEntrySize = core ? 3 : 4;
    if (palette) {
        const uint32_t most = uint32_t{1} << bits;
        info.paletteEntries = clrUsed == 0 || clrUsed > most ? most : clrUsed;
    }
    info.pixelOffset = ReadLe32(head + 10);
    if (info.pixelOffset < info.paletteOffset) {
        return Status::NotSupported;  // pixels inside the headers
    }
    return Status::Ok;
}

uint64_t StoredRowBytes(const BmpInfo& info) { return (uint64_t{info.width} * info.bitCount + 7) / 8; }

Status LocateBmpRows(const BmpInfo& info, uint64_t fileSize, RowRun& rows, CallNotes* notes)
{
    const uint64_t offset = info.pixelOffset;
    if (offset > fileSize) {
        return Refuse(notes, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, offset);
    }
    // The format pads each row to a multiple of 4 bytes. The library's own
    // files do not: 24 bits, a 40-byte info header, the pixels right after
    // the 54 bytes of headers and the file ending right after 3*W*|H| of
    // them. Only a file of exactly that layout whose biSizeImage does not
    // name the padded size is read unpadded; biSizeImage alone cannot
    // decide, as writers commonly put 3*W*|H| there for padded rows. A
    // padded file of that length would lack (padded - 3*W) * (|H| - 1)
    // bytes and could not be read padded anyway.
    const uint64_t rowBytes = StoredRowBytes(info);
    const uint64_t padded = (rowBytes + 3) / 4 * 4;
    const uint64_t height = info.height;
    const uint64_t available = fileSize - offset;
    const bool ownLayout = info.bitCount == 24 && info.infoSize == kBmpInfoHeaderSize &&
                           offset == kBmpHeadersSize && available == rowBytes * height &&
                           info.sizeImage != padded * height;
    const uint64_t stride = ownLayout ? rowBytes : padded;
    // A padded file may lack its last row's padding.
    if (height > 0 && available < stride * (height - 1) + rowBytes) {
        return Refuse(notes, Status::NotSupported, KESTOVA_REASON_FILE_SHORT,
                      offset + stride * (height - 1) + rowBytes);
    }
    rows.offset = offset;
    rows.stride = stride;
    rows.rowBytes = rowBytes;
    rows.rows = height;
    return Status::Ok;
}

Status RefuseRunLengths(const BmpInfo& info, uint64_t fileSize, CallNotes* notes)
{
    const uint64_t declared = info.pixelOffset + info.sizeImage;
    return declared > fileSize ? Refuse(notes, Status::NotSupported, KESTOVA_REASON_FILE_SHORT, declared)
                               : Refuse(notes, Status::NotSupported, KESTOVA_REASON_BMP_RUN_LENGTHS);
}

}  // namespace kestova
