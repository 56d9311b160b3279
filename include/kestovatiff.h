/*
 * KestovaTIFF: converts pictures between BMP and TIFF. It reads BMPs of
 * every common form and writes one fixed TIFF layout (uncompressed 8-bit
 * RGB); it reads TIFFs and writes one fixed BMP layout (24-bit).
 *
 * Each function takes two NUL-terminated UTF-16 paths, converts the whole
 * picture and returns.
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

/* Both functions use the C calling convention: on 32-bit Windows the
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
