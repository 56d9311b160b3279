/*
 * KestovaTIFF: converts pictures between BMP and TIFF. It reads BMPs of
 * every common form and writes one fixed TIFF layout (uncompressed 8-bit
 * RGB); it reads TIFFs and writes one fixed BMP layout (24-bit).
 *
 * Each function takes two NUL-terminated UTF-16 paths, converts the whole
 * picture and returns. Bmp2Tiff and Tiff2Bmp take nothing more;
 * KestovaConvert takes options too (padded BMP rows, deeper samples
 * reduced to 8 bits, a limit on the picture's pixels) and says why it
 * failed.
 *
 * On POSIX systems a path becomes a UTF-8 file name. A file name there is
 * bytes and need not be UTF-8: pass each byte 0x80..0xFF that is not part
 * of a UTF-8 sequence as the lone surrogate U+DC80..U+DCFF (the convention
 * Python calls "surrogateescape"), and the library uses that byte. Any
 * other lone surrogate is a bad argument. On Windows paths go to the
 * system as the UTF-16 they are, and every lone surrogate, U+DC80..U+DCFF
 * too, is a bad argument. A call keeps no state, starts no threads and may run
 * on several threads at once for different files.
 *
 * The picture is staged and put in place only once every byte is written,
 * so on failure an existing destination is left exactly as it was and
 * nothing is left behind. A replaced file keeps its owner, permissions and
 * attributes. Pipes, devices and open descriptors (/dev/stdout) are written
 * in place. A call needs about 85 KiB of stack and no heap; it raises no
 * signal in the host.
 */
#ifndef KESTOVATIFF_H
#define KESTOVATIFF_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h> /* char16_t */
#endif

#if defined(_WIN32)
#if defined(KESTOVATIFF_BUILD)
#define KESTOVATIFF_API __declspec(dllexport)
#else
#define KESTOVATIFF_API __declspec(dllimport)
#endif
#else
#define KESTOVATIFF_API __attribute__((visibility("default")))
#endif

/* All three functions use the C calling convention: on 32-bit Windows the
 * caller removes the arguments from the stack (__cdecl). A host that
 * declares them __stdcall, as Visual Basic's Declare does, corrupts its
 * stack. 64-bit Windows has one convention, on which __cdecl changes
 * nothing. */
#if defined(_WIN32)
#define KESTOVATIFF_CALL __cdecl
#else
#define KESTOVATIFF_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result values. Success is 999; every failure is negative. Where the
 * operating system refused something, errno still describes it, and on
 * Windows GetLastError() too. */
enum KestovaTiffResult {
    KESTOVATIFF_OK = 999,
    /* A path is null, empty, too long or not valid UTF-16 (a lone
     * surrogate, but for U+DC80..U+DCFF on POSIX systems). */
    KESTOVATIFF_ERROR_ARGUMENT = -1,
    /* The source cannot be opened or read (missing, a directory, no
     * permission, an I/O error). */
    KESTOVATIFF_ERROR_SOURCE = -2,
    /* The source is not a picture this library reads, or is shorter than
     * its headers promise. */
    KESTOVATIFF_ERROR_FORMAT = -3,
    /* The picture is too large for the destination format: a TIFF side
     * above 65535 pixels, or a file that would pass 4 GiB - 1 bytes. */
    KESTOVATIFF_ERROR_TOO_LARGE = -4,
    /* The destination cannot be written (create, write, flush, close or
     * rename failed). errno ENOSR instead says that a temporary file the
     * conversion needed (for a TIFF with compressed or tiled separate
     * planes, a picture in Orientation 5 to 8, or a picture written in
     * place or to a pipe) found no room in $TMPDIR, /tmp nor the
     * destination's folder (on Windows, the folder GetTempPath names;
     * GetLastError() says why). */
    KESTOVATIFF_ERROR_DESTINATION = -5
};

/* Converts the BMP at bmpPath into an uncompressed RGB TIFF at
 * tiffPath. Returns KESTOVATIFF_OK or a negative KestovaTiffResult. */
KESTOVATIFF_API int32_t KESTOVATIFF_CALL Bmp2Tiff(const char16_t* bmpPath, const char16_t* tiffPath);

/* Converts the uncompressed RGB TIFF at tiffPath into a 24-bit BMP at
 * bmpPath. Returns KESTOVATIFF_OK or a negative KestovaTiffResult. */
KESTOVATIFF_API int32_t KESTOVATIFF_CALL Tiff2Bmp(const char16_t* tiffPath, const char16_t* bmpPath);

/* Why a call failed, more precisely than its result value: KestovaConvert
 * writes one of these to its options' `reason`, and the value it concerns
 * to `reasonValue` (what each reason's comment names; 0 where it names
 * nothing). A call that succeeds leaves both 0. The numbers are fixed for
 * good: new reasons get new numbers, and a caller must expect values it
 * does not know (KestovaReasonText has words for each). */
enum KestovaReason {
    KESTOVA_REASON_NONE = 0,
    /* -1, a bad argument. */
    KESTOVA_REASON_OPTIONS_FLAGS = 1,     /* flag bits this library does not know: those bits */
    KESTOVA_REASON_SOURCE_PATH = 2,       /* the source path is null, empty, too long or not UTF-16 */
    KESTOVA_REASON_DESTINATION_PATH = 3,  /* the same for the destination path */
    /* -2, the source. */
    KESTOVA_REASON_SOURCE_UNREADABLE = 10, /* cannot be opened or read: errno */
    /* -3, the format. */
    KESTOVA_REASON_FORMAT_NOT_READ = 20,   /* a form not read, or damaged, without a closer reason */
    KESTOVA_REASON_UNKNOWN_FORMAT = 21,    /* starts as neither a BMP ("BM") nor a TIFF ("II", "MM") */
    KESTOVA_REASON_FILE_SHORT = 22,        /* shorter than its headers promise: the offset the file
                                              must reach */
    KESTOVA_REASON_TIFF_COMPRESSION = 23,  /* a TIFF coding not read: Compression */
    KESTOVA_REASON_DEEP_SAMPLES = 24,      /* samples or channels deeper than 8 bits: the bits */
    KESTOVA_REASON_TRANSPARENCY = 25,      /* partly transparent pixels */
    KESTOVA_REASON_COLOUR_SPACE = 26,      /* a TIFF colour space not read: PhotometricInterpretation */
    KESTOVA_REASON_PALETTE_INDEX = 27,     /* a palette index past the palette: the entries it holds */
    KESTOVA_REASON_BMP_COMPRESSION = 28,   /* a BMP coding not read: biCompression */
    KESTOVA_REASON_BMP_BITS = 29,          /* a BMP bit count not read with its coding: biBitCount */
    KESTOVA_REASON_BMP_HEADER = 30,        /* a BMP info header of unknown size: biSize */
    KESTOVA_REASON_BMP_PLANES = 31,        /* biPlanes not 1: biPlanes */
    KESTOVA_REASON_BMP_MASKS = 32,         /* channel masks not contiguous or overlapping */
    KESTOVA_REASON_BMP_RUN_LENGTHS = 33,   /* run-length codes that break a rule or stop early */
    KESTOVA_REASON_SAMPLE_FORMAT = 34,     /* TIFF samples not unsigned integers: SampleFormat */
    KESTOVA_REASON_PREDICTOR = 35,         /* a TIFF Predictor not read: Predictor */
    KESTOVA_REASON_CODED_DATA = 36,        /* compressed TIFF data that cannot be decoded: Compression */
    KESTOVA_REASON_TILE_WORK = 37,         /* TIFF tiles that would decode far more than the picture
                                              holds: the bytes they would decode */
    KESTOVA_REASON_ORIENTATION = 38,       /* a TIFF Orientation not read: Orientation */
    KESTOVA_REASON_PLANAR = 39,            /* TIFF planes not read (a value, or planes of a colour
                                              or depth not read so): PlanarConfiguration */
    KESTOVA_REASON_TIFF_SAMPLES = 40,      /* a TIFF sample count not read for its colour:
                                              SamplesPerPixel */
    KESTOVA_REASON_TIFF_FIELD = 41,        /* a TIFF header or field that breaks the format's rules,
                                              or holds a value not read: the field's tag (0: the
                                              header) */
    KESTOVA_REASON_PALETTE_BITS = 42,      /* TIFF palette indices deeper than 8 bits, which no
                                              flag reads: the bits */
    KESTOVA_REASON_SAMPLE_BITS = 43,       /* TIFF samples deeper than KESTOVA_FLAG_REDUCE reads
                                              (past 16 bits, or 12-bit JPEG): the bits */
    /* -4, too large. */
    KESTOVA_REASON_SIDE_TOO_LARGE = 60,    /* a side past what the destination holds: the side */
    KESTOVA_REASON_PICTURE_LIMIT = 61,     /* more pixels than options->maxPixels: the pixels */
    KESTOVA_REASON_FILE_TOO_LARGE = 62,    /* a destination past 4 GiB - 1 bytes */
    /* -5, the destination. */
    KESTOVA_REASON_DESTINATION = 70,       /* cannot be written: errno */
    KESTOVA_REASON_TEMPORARY_FOLDER = 71,  /* no temporary folder could take the conversion's scratch
                                              or staging file: errno (ENOSR) */
    KESTOVA_REASON_NOT_REGULAR_FILE = 72   /* with KESTOVA_FLAG_REGULAR_FILES_ONLY, the destination is
                                              something else: errno (EISDIR for a directory, ENXIO
                                              for a FIFO, a device or a socket) */
};

/* Options for KestovaConvert. Zero is the default for every field: zero
 * the struct, then set `size` and the fields wanted by name
 * (`KestovaOptions options = {0}; options.size = sizeof options;`, `= {}`
 * in C++), as positional initialisers warn once the struct grows. It only
 * grows at its end; `size` tells the library which version the caller
 * knows. */
typedef struct KestovaOptions {
    uint32_t size;        /* sizeof(KestovaOptions); less than KESTOVA_OPTIONS_SIZE_1 is -1,
                             and then nothing is written back */
    uint32_t flags;       /* KESTOVA_FLAG_*; an unknown bit is -1 */
    uint64_t maxPixels;   /* refuse a picture of more pixels with -4 before writing; 0: no limit */
    uint32_t background;  /* 0xRRGGBB, the colour KESTOVA_FLAG_FLATTEN composites over */
    int32_t reason;       /* out: a KestovaReason, 0 after a success */
    uint64_t reasonValue; /* out: the value the reason concerns */
    /* Version 2, from KESTOVA_OPTIONS_SIZE_2 bytes on: */
    int64_t folder;       /* with KESTOVA_FLAG_IN_FOLDER: the directory a relative destination
                             path is taken in */
} KestovaOptions;

/* The size of the first version of KestovaOptions, the smallest accepted. */
#define KESTOVA_OPTIONS_SIZE_1 32u
/* The size of the second, which adds `folder`. */
#define KESTOVA_OPTIONS_SIZE_2 40u

/* Each BMP row padded with zeros to a multiple of 4 bytes, the layout
 * other programs read. Without it the rows are the library's own, 3 bytes
 * a pixel, as Tiff2Bmp writes them. No effect when writing a TIFF. */
#define KESTOVA_FLAG_PADDED_ROWS 0x1u
/* Samples deeper than 8 bits reduced to 8 bits, each value v of n bits
 * becoming round(v * 255 / (2^n - 1)): TIFF grey and RGB samples of 9
 * to 16 bits, with or without alpha (which must then be opaque, 255, or
 * is flattened), Predictor 2 with 16 bits only, and BMP
 * channel masks wider than 8 bits (10-10-10-2, 11-11-10; alpha too,
 * which is then opaque where it reduces to 255). Without it
 * such a picture is refused with KESTOVA_REASON_DEEP_SAMPLES. Palette
 * indices deeper than 8 bits are refused either way, with
 * KESTOVA_REASON_PALETTE_BITS: a palette of 65536 colours has no 8-bit
 * form. */
#define KESTOVA_FLAG_REDUCE 0x2u
/* Partly transparent pixels composited over `background`, each channel
 * rounded to nearest: colour c and alpha a (both as fractions of their
 * largest value) give c + (1 - a) * background where a TIFF's ExtraSamples
 * says the colour is already multiplied by alpha (associated), else
 * a * c + (1 - a) * background (TIFF unassociated alpha, BMP alpha). A
 * BMP whose alpha is zero everywhere has no alpha, as writers mean it.
 * Without the flag such pixels are refused with
 * KESTOVA_REASON_TRANSPARENCY. */
#define KESTOVA_FLAG_FLATTEN 0x4u
/* The destination must be a regular file, or not exist. Anything else (a
 * FIFO, a device, a socket, a directory, or a name of one of the caller's
 * open descriptors that is not a regular file) is refused with -5 and
 * KESTOVA_REASON_NOT_REGULAR_FILE without being opened (but for one
 * swapped in at the instant between the call's look and its non-blocking
 * open: then opened, closed unwritten and refused), so the call never
 * waits for a FIFO's reader. Decided on what the name
 * leads to when the call looks: a FIFO put there later, while the picture
 * is written, is refused in the same way. For programs that write into
 * folders other users can write to. */
#define KESTOVA_FLAG_REGULAR_FILES_ONLY 0x8u
/* POSIX systems: `folder` holds the descriptor of an open directory (one
 * opened with O_PATH | O_DIRECTORY will do), and a relative destination
 * path is taken in it, as openat(2) takes one, instead of in the working
 * directory; an absolute path is unaffected. The directory is the one the
 * descriptor holds, whatever its path is renamed to meanwhile, and it is
 * neither closed nor kept. For a host that writes many files into one
 * folder: the folder is opened once instead of once a file. A struct
 * smaller than KESTOVA_OPTIONS_SIZE_2 does not hold `folder`, so the flag
 * is then unknown, as it is on Windows (-1, KESTOVA_REASON_OPTIONS_FLAGS);
 * a negative `folder` is -1 with KESTOVA_REASON_DESTINATION_PATH. */
#define KESTOVA_FLAG_IN_FOLDER 0x10u
/* POSIX systems: the caller has set SIGPIPE and SIGXFSZ to be ignored
 * (SIG_IGN) for the whole call, so a write past the file-size limit or to a
 * pipe without a reader fails with EFBIG or EPIPE and raises nothing. The
 * call then leaves the thread's signal mask alone, where it otherwise blocks
 * both for the time it writes (two to six system calls). Unknown on Windows,
 * which has neither signal. */
#define KESTOVA_FLAG_WRITE_SIGNALS_IGNORED 0x20u
#define KESTOVA_FLAGS_KNOWN 0x3Fu

/* Converts the picture at `source` to `destination`, the direction chosen
 * by the source's first bytes: a BMP ("BM") becomes a TIFF as Bmp2Tiff
 * makes it, a TIFF ("II" or "MM") a BMP as Tiff2Bmp makes it. `options`
 * may be null: the two functions' behaviour exactly. Otherwise it is read
 * for the options, and on return holds the reason for a failure. Returns
 * KESTOVATIFF_OK or a negative KestovaTiffResult. */
KESTOVATIFF_API int32_t KESTOVATIFF_CALL KestovaConvert(const char16_t* source, const char16_t* destination,
                                                        KestovaOptions* options);

/* Fixed English text for a reason, for messages. Never null. */
static inline const char* KestovaReasonText(int32_t reason)
{
    switch (reason) {
    case KESTOVA_REASON_NONE: return "no failure";
    case KESTOVA_REASON_OPTIONS_FLAGS: return "the options hold flags this library does not know";
    case KESTOVA_REASON_SOURCE_PATH: return "the source path is null, empty, too long or not valid UTF-16";
    case KESTOVA_REASON_DESTINATION_PATH: return "the destination path is null, empty, too long or not valid UTF-16";
    case KESTOVA_REASON_SOURCE_UNREADABLE: return "the source cannot be opened or read";
    case KESTOVA_REASON_FORMAT_NOT_READ: return "a form of picture this library does not read, or a damaged one";
    case KESTOVA_REASON_UNKNOWN_FORMAT: return "neither a BMP nor a TIFF";
    case KESTOVA_REASON_FILE_SHORT: return "the file is shorter than its headers promise";
    case KESTOVA_REASON_TIFF_COMPRESSION: return "a TIFF compression that is not read";
    case KESTOVA_REASON_DEEP_SAMPLES: return "samples deeper than 8 bits";
    case KESTOVA_REASON_TRANSPARENCY: return "partly transparent pixels";
    case KESTOVA_REASON_COLOUR_SPACE: return "a TIFF colour space that is not read";
    case KESTOVA_REASON_PALETTE_INDEX: return "a palette index past the palette";
    case KESTOVA_REASON_BMP_COMPRESSION: return "a BMP compression that is not read";
    case KESTOVA_REASON_BMP_BITS: return "a BMP bit count that is not read";
    case KESTOVA_REASON_BMP_HEADER: return "a BMP info header of a size that is not read";
    case KESTOVA_REASON_BMP_PLANES: return "a BMP whose planes are not 1";
    case KESTOVA_REASON_BMP_MASKS: return "BMP channel masks that are not contiguous, or overlap";
    case KESTOVA_REASON_BMP_RUN_LENGTHS: return "BMP run-length codes that break the format's rules or stop early";
    case KESTOVA_REASON_SAMPLE_FORMAT: return "TIFF samples that are not unsigned integers";
    case KESTOVA_REASON_PREDICTOR: return "a TIFF predictor that is not read";
    case KESTOVA_REASON_CODED_DATA: return "compressed TIFF data that cannot be decoded";
    case KESTOVA_REASON_TILE_WORK: return "TIFF tiles that would decode far more than the picture holds";
    case KESTOVA_REASON_ORIENTATION: return "a TIFF orientation that is not read";
    case KESTOVA_REASON_PLANAR: return "TIFF planes that are not read";
    case KESTOVA_REASON_TIFF_SAMPLES: return "a TIFF sample count that is not read for its colour";
    case KESTOVA_REASON_TIFF_FIELD: return "a TIFF field that breaks the format's rules or holds a value that is not read";
    case KESTOVA_REASON_PALETTE_BITS: return "TIFF palette indices deeper than 8 bits";
    case KESTOVA_REASON_SAMPLE_BITS: return "TIFF samples deeper than any option converts";
    case KESTOVA_REASON_SIDE_TOO_LARGE: return "a side too long for the destination format";
    case KESTOVA_REASON_PICTURE_LIMIT: return "more pixels than the limit the caller set";
    case KESTOVA_REASON_FILE_TOO_LARGE: return "the destination would pass 4 GiB - 1 bytes";
    case KESTOVA_REASON_DESTINATION: return "the destination cannot be written";
    case KESTOVA_REASON_TEMPORARY_FOLDER:
        return "no temporary folder could take the conversion's temporary file";
    case KESTOVA_REASON_NOT_REGULAR_FILE:
        return "the destination is not a regular file (a FIFO, a device, a socket or a directory)";
    default: return "unknown reason";
    }
}

/* Fixed English text for a result value, for messages. Never null. */
static inline const char* KestovaTiffResultText(int32_t result)
{
    switch (result) {
    case KESTOVATIFF_OK:
        return "success";
    case KESTOVATIFF_ERROR_ARGUMENT:
        return "bad argument: the path is null, empty, too long or not valid UTF-16";
    case KESTOVATIFF_ERROR_SOURCE:
        return "the source cannot be opened or read";
    case KESTOVATIFF_ERROR_FORMAT:
        return "not a picture this library reads (its README lists the BMP and TIFF "
               "forms it reads), or a damaged one: shorter than its headers promise, "
               "or with pixels that cannot be converted without loss";
    case KESTOVATIFF_ERROR_TOO_LARGE:
        return "the picture is too large for the destination format (a TIFF side "
               "above 65535 pixels, or a file past 4 GiB - 1 bytes)";
    case KESTOVATIFF_ERROR_DESTINATION:
        return "the destination cannot be written";
    default:
        return "unknown result";
    }
}

#ifdef __cplusplus
}
#endif

#endif /* KESTOVATIFF_H */
