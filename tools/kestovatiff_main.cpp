// kestovatiff: the command-line host. It converts through the library's
// public functions, as any program would, and links the shared library.
//
//   kestovatiff [options] SOURCE DEST
//                              convert; the direction follows SOURCE's
//                              first bytes
//   kestovatiff [options] -o DIR SOURCE...
//                              convert many files (batch.cpp)
//   kestovatiff --demo [DIR]   make the test card in DIR, convert it to TIFF
//                              and back, and compare
//   kestovatiff --help | --version

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "arguments.h"
#include "batch.h"
#include "file_name.h"
#include "kestovatiff.h"
#include "test_card.h"

namespace {

const char kUsage[] =
    "usage: kestovatiff [--unpadded] [--reduce] [--background COLOR] [--max-pixels N]\n"
    "                   [--] SOURCE DEST\n"
    "       kestovatiff [-j N] [-r] [-n] [-q] [conversion options] -o DIR SOURCE...\n"
    "       kestovatiff --demo [DIR]\n"
    "       kestovatiff --help | --version\n"
    "\n"
    "Converts a BMP (1, 4, 8, 16, 24 or 32 bits, run lengths too) to an\n"
    "uncompressed RGB TIFF, or a TIFF (uncompressed, PackBits, LZW,\n"
    "Deflate or JPEG; RGB, YCbCr, grey, palette or bilevel, with an opaque\n"
    "alpha or an extra sample too; bilevel also in the fax codings, modified\n"
    "Huffman, group 3 and group 4; strips, planes or tiles; any orientation;\n"
    "BigTIFF too) to a 24-bit BMP. Refused: old-style JPEG and other\n"
    "codings, CMYK, Lab and other colour spaces, signed or floating point\n"
    "samples, samples over 8 bits (without --reduce) and partly\n"
    "transparent pixels (without --background). The direction follows\n"
    "SOURCE's first bytes (\"BM\": BMP to TIFF; \"MM\" or \"II\": TIFF to\n"
    "BMP). DEST is replaced only once it is completely written.\n"
    "\n"
    "Conversion options:\n"
    "  --unpadded    for a TIFF SOURCE, write the library's own BMP rows, 3 bytes\n"
    "                a pixel unpadded: byte for byte what Tiff2Bmp writes, which\n"
    "                the library reads back exactly but other programs refuse or\n"
    "                show sheared unless the width is a multiple of 4. Without it\n"
    "                each row is padded to a multiple of 4 bytes, the standard\n"
    "                layout every program reads. No effect on a BMP SOURCE.\n"
    "  --padded      the default: rows padded to 4 bytes (kept for old scripts)\n"
    "  --reduce      reduce TIFF samples of 9 to 16 bits and BMP channels wider\n"
    "                than 8 bits to 8 bits (not palette indices)\n"
    "  --background COLOR\n"
    "                put partly transparent pixels on COLOR: white, black or\n"
    "                #RRGGBB (each pixel composited over it)\n"
    "  --max-pixels N\n"
    "                refuse a picture of more than N pixels before writing\n"
    "                anything: for files from elsewhere, whose few bytes may\n"
    "                declare gigabytes\n"
    "  --            end of the options: every argument after it is a file,\n"
    "                even one starting with '-'; a file named - is a file.\n"
    "  --demo [DIR]  write the bundled test card to DIR (default: the current\n"
    "                directory) as test-card.bmp, convert it to TIFF and back,\n"
    "                and say whether the round trip gave the same bytes\n"
    "\n"
    KESTOVATIFF_BATCH_HELP
    "\n"
    "Exit status: 0 success, 1 conversion failed, 2 usage error; 130 or 143\n"
    "when a batch was stopped by SIGINT or SIGTERM.\n";

void Fail(const std::string& file, const std::string& reason)
{
    (void)std::fprintf(stderr, "kestovatiff: %s: %s\n", file.empty() ? "''" : file.c_str(), reason.c_str());
}

// Converts and reports. Returns the exit status.
int Convert(const std::string& source, const std::string& dest, KestovaOptions options)
{
    const std::u16string source16 = kestovatiff_cli::FileNameToUtf16(source);
    const std::u16string dest16 = kestovatiff_cli::FileNameToUtf16(dest);
    const int32_t result = KestovaConvert(source16.c_str(), dest16.c_str(), &options);
    if (result == KESTOVATIFF_OK) {
        return 0;
    }
    const bool destFailed =
        result == KESTOVATIFF_ERROR_DESTINATION || options.reason == KESTOVA_REASON_DESTINATION_PATH;
    Fail(destFailed ? dest : source, kestovatiff_cli::FailureText(result, options));
    return 1;
}

long long FileSize(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// Whole-file comparison, for the demo's round trip.
bool SameBytes(const std::string& a, const std::string& b)
{
    std::FILE* first = std::fopen(a.c_str(), "rb");
    std::FILE* second = std::fopen(b.c_str(), "rb");
    bool same = first != nullptr && second != nullptr;
    while (same) {
        const int x = std::fgetc(first);
        same = x == std::fgetc(second);
        if (x == EOF) {
            break;
        }
    }
    if (first != nullptr) {
        (void)std::fclose(first);
    }
    if (second != nullptr) {
        (void)std::fclose(second);
    }
    return same;
}

int Demo(const std::string& dir)
{
    const std::string bmp = dir + "/test-card.bmp";
    const std::string tiff = dir + "/test-card.tif";
    if (!kestovatiff_cli::WriteTestCard(bmp)) {
        Fail(bmp, std::string("cannot write the test card: ") + std::strerror(errno));
        return 1;
    }
    std::printf("made   %s: %u x %u pixels, %lld bytes\n", bmp.c_str(), kestovatiff_cli::kTestCardWidth,
                kestovatiff_cli::kTestCardHeight, FileSize(bmp));
    // The library's own layout, as Bmp2Tiff and Tiff2Bmp write it.
    const KestovaOptions own = {sizeof own, 0, 0, 0, 0, 0, 0};
    if (const int status = Convert(bmp, tiff, own); status != 0) {
        return status;
    }
    std::printf("wrote  %s: %u x %u pixels, %lld bytes\n", tiff.c_str(), kestovatiff_cli::kTestCardWidth,
                kestovatiff_cli::kTestCardHeight, FileSize(tiff));
    const std::string back = dir + "/test-card-back.bmp";
    if (const int status = Convert(tiff, back, own); status != 0) {
        return status;
    }
    std::printf("wrote  %s: %u x %u pixels, %lld bytes\n", back.c_str(), kestovatiff_cli::kTestCardWidth,
                kestovatiff_cli::kTestCardHeight, FileSize(back));
    if (!SameBytes(bmp, back)) {
        std::printf("round trip: %s differs from %s\n", back.c_str(), bmp.c_str());
        return 1;
    }
    std::printf("round trip: identical, byte for byte\n");
    return 0;
}

// What was printed must have reached standard output.
int FinishOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        (void)std::fprintf(stderr, "kestovatiff: cannot write to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    // Messages to a standard error near a file-size limit (a log under
    // `ulimit -f`) fail with EFBIG rather than end the host by SIGXFSZ, in
    // a batch between a conversion's steps: the line is lost, the exit
    // status and the batch's other lines still tell.
    (void)std::signal(SIGXFSZ, SIG_IGN);
    kestovatiff_cli::Arguments arguments;
    if (const int status = kestovatiff_cli::ParseArguments(argc, argv, arguments); status != 0) {
        return status;
    }
    const std::vector<std::string>& operands = arguments.operands;
    if (arguments.help) {
        (void)std::fputs(kUsage, stdout);
        return FinishOutput(0);
    }
    if (arguments.version) {
        std::printf("kestovatiff %s\n", KESTOVATIFF_VERSION);
        return FinishOutput(0);
    }
    if (arguments.demo) {
        if (operands.size() > 1) {
            return kestovatiff_cli::UsageError("--demo takes one DIR at most");
        }
        return FinishOutput(Demo(operands.empty() ? "." : operands[0]));
    }
    if (arguments.batch) {
        return kestovatiff_cli::RunBatch(arguments);
    }
    if (operands.size() != 2) {
        return kestovatiff_cli::UsageError("expected a SOURCE and a DEST");
    }
    return Convert(operands[0], operands[1], kestovatiff_cli::ConversionOptions(arguments));
}
