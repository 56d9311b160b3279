// KestovaConvert: either direction, chosen by the source's first bytes,
// with the caller's options, and the reason for a failure written back.
// With no options it is Bmp2Tiff or Tiff2Bmp exactly: the same two steps.

#include <cerrno>

#include "bmp_to_tiff.h"
#include "byte_order.h"
#include "call_notes.h"
#include "conversion.h"
#include "kestovatiff.h"
#include "platform/scratch_file.h"
#include "tiff_to_bmp.h"

namespace kestova {
namespace {

enum class Direction { BmpToTiff, TiffToBmp, Unknown };

// "BM" starts a BMP. A TIFF starts with its byte order, "II" little-endian
// or "MM" big-endian, then 42 in that order (43 for BigTIFF).
Direction DirectionOf(const uint8_t* magic, size_t got)
{
    if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') {
        return Direction::BmpToTiff;
    }
    if (got < 4 || magic[0] != magic[1] || (magic[0] != 'I' && magic[0] != 'M')) {
        return Direction::Unknown;
    }
    const uint16_t version = magic[0] == 'I' ? ReadLe16(magic + 2) : ReadBe16(magic + 2);
    return version == 42 || version == 43 ? Direction::TiffToBmp : Direction::Unknown;
}

Status ConvertEither(const char16_t* sourcePath, const char16_t* destPath, BmpRows rows, CallNotes& notes)
{
    Direction direction = Direction::Unknown;
    BmpSource bmp;
    TiffSource tiff;
    tiff.rows = rows;
    auto read = [&](SourceFile& source, OutputAccess& access, uint64_t& size) {
        // The headers after the magic come from the same read.
        if (const Status status = ReadSourceHead(source); status != Status::Ok) {
            return status;
        }
        direction = DirectionOf(source.head, source.headSize < 4 ? source.headSize : 4);
        switch (direction) {
        case Direction::BmpToTiff: return ReadBmp(source, bmp, access, size);
        case Direction::TiffToBmp: return ReadTiff(source, tiff, access, size);
        case Direction::Unknown: break;
        }
        return Refuse(source, Status::NotSupported, KESTOVA_REASON_UNKNOWN_FORMAT);
    };
    auto write = [&](SourceFile& source, OutputStream& out) {
        return direction == Direction::BmpToTiff ? WriteTiff(source, bmp, out) : WriteBmp(source, tiff, out);
    };
    return Convert(sourcePath, destPath, notes, read, write);
}

// Whether a recorded reason belongs to the result: a reader may note a
// reason for a failure its caller then got past.
bool ReasonFits(Status status, int32_t reason)
{
    switch (status) {
    case Status::BadArgument: return reason >= 1 && reason < 10;
    case Status::SourceUnreadable: return reason >= 10 && reason < 20;
    case Status::NotSupported: return reason >= 20 && reason < 60;
    case Status::TooLarge: return reason >= 60 && reason < 70;
    case Status::DestinationUnwritable: return reason >= 70 && reason < 80;
    case Status::Ok: break;
    }
    return false;
}

// The reason where no reader recorded one: the general one of its result,
// or the system's errno where the system refused.
void GeneralReason(Status status, int error, CallNotes& notes)
{
    notes.value = 0;
    switch (status) {
    case Status::BadArgument: notes.reason = KESTOVA_REASON_SOURCE_PATH; return;
    case Status::SourceUnreadable: notes.reason = KESTOVA_REASON_SOURCE_UNREADABLE; break;
    case Status::NotSupported: notes.reason = KESTOVA_REASON_FORMAT_NOT_READ; return;
    case Status::TooLarge: notes.reason = KESTOVA_REASON_FILE_TOO_LARGE; return;
    case Status::DestinationUnwritable:
        notes.reason = error == kNoScratchSpace ? KESTOVA_REASON_TEMPORARY_FOLDER : KESTOVA_REASON_DESTINATION;
        break;
    case Status::Ok: notes.reason = KESTOVA_REASON_NONE; return;
    }
    notes.value = error > 0 ? static_cast<uint64_t>(error) : 0;
}

// The flags that tell how the host runs rather than what it converts: the
// folder a relative destination is taken in, and the write signals it
// ignores. Neither exists on Windows; the folder only in a struct of the
// second version or later, where it must be a descriptor.
Status TakeHostFlags(const KestovaOptions& options, CallNotes& notes)
{
    const uint32_t host = options.flags & (KESTOVA_FLAG_IN_FOLDER | KESTOVA_FLAG_WRITE_SIGNALS_IGNORED);
#if defined(_WIN32)
    const uint32_t unknown = host;
#else
    const uint32_t unknown = options.size < KESTOVA_OPTIONS_SIZE_2 ? host & KESTOVA_FLAG_IN_FOLDER : 0;
#endif
    if (unknown != 0) {
        return Refuse(&notes, Status::BadArgument, KESTOVA_REASON_OPTIONS_FLAGS, unknown);
    }
    if ((host & KESTOVA_FLAG_IN_FOLDER) != 0) {
        if (options.folder < 0 || options.folder > INT32_MAX) {
            return Refuse(&notes, Status::BadArgument, KESTOVA_REASON_DESTINATION_PATH);
        }
        notes.folder = static_cast<int>(options.folder);
    }
    return Status::Ok;
}

}  // namespace
}  // namespace kestova

extern "C" int32_t KestovaConvert(const char16_t* source, const char16_t* destination, KestovaOptions* options)
{
    using kestova::Status;
    kestova::CallNotes notes;
    kestova::BmpRows rows = kestova::BmpRows::Unpadded;
    if (options != nullptr) {
        // Fields past a smaller struct would be someone else's memory.
        if (options->size < KESTOVA_OPTIONS_SIZE_1) {
            return KESTOVATIFF_ERROR_ARGUMENT;
        }
        options->reason = KESTOVA_REASON_NONE;
        options->reasonValue = 0;
        // Flags this version does not know ask for what it cannot do.
        if (const uint32_t unknown = options->flags & ~KESTOVA_FLAGS_KNOWN; unknown != 0) {
            options->reason = KESTOVA_REASON_OPTIONS_FLAGS;
            options->reasonValue = unknown;
            return KESTOVATIFF_ERROR_ARGUMENT;
        }
        if (options->maxPixels != 0 && options->maxPixels < notes.maxPixels) {
            notes.maxPixels = options->maxPixels;
        }
        notes.background = options->background & 0xFFFFFFu;
        notes.flags = options->flags;
        if ((options->flags & KESTOVA_FLAG_PADDED_ROWS) != 0) {
            rows = kestova::BmpRows::Padded;
        }
        if (const Status status = kestova::TakeHostFlags(*options, notes); status != Status::Ok) {
            options->reason = notes.reason;
            options->reasonValue = notes.value;
            return static_cast<int32_t>(status);
        }
    }
    const Status status = kestova::ConvertEither(source, destination, rows, notes);
    const int error = errno;
    if (options != nullptr && status != Status::Ok) {
        if (!kestova::ReasonFits(status, notes.reason)) {
            kestova::GeneralReason(status, error, notes);
        }
        options->reason = notes.reason;
        options->reasonValue = notes.value;
    }
    errno = error;
    return static_cast<int32_t>(status);
}
