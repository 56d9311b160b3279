// kestovatiff: the command-line host. It converts through the library's
// two functions, as any host would, and is built from the library's objects
// for what only it offers: padded BMP rows, and the test card written
// through the library's safe output.
//
//   kestovatiff [--padded] SOURCE DEST
//                              convert; the direction follows SOURCE's
//                              first bytes
//   kestovatiff [options] -o DIR SOURCE...
//                              convert many files (batch.cpp)
//   kestovatiff --demo [DIR]   make the test card in DIR, convert it to TIFF
//                              and back, and compare
//   kestovatiff --help | --version

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "batch.h"
#include "conversion.h"
#include "file_name.h"
#include "kestovatiff.h"
#include "padded_bmp.h"
#include "test_card.h"

using kestovatiff_cli::Direction;

namespace {

const char kUsage[] =
    "usage: kestovatiff [--padded] [--] SOURCE DEST\n"
    "       kestovatiff [-j N] [-r] [-n] [-q] [--padded] -o DIR SOURCE...\n"
    "       kestovatiff --demo [DIR]\n"
    "       kestovatiff --help | --version\n"
    "\n"
    "Converts a BMP (1, 4, 8, 16, 24 or 32 bits, run lengths too) to an\n"
    "uncompressed RGB TIFF, or a TIFF (uncompressed, PackBits, LZW,\n"
    "Deflate or JPEG; RGB, grey, palette or bilevel; strips, planes or tiles;\n"
    "BigTIFF too) to a 24-bit BMP. The direction follows SOURCE's first\n"
    "bytes (\"BM\": BMP to TIFF; \"MM\" or \"II\": TIFF to BMP). DEST is\n"
    "replaced only once it is completely written.\n"
    "\n"
    "  --padded      for a TIFF SOURCE, pad each row of the BMP to a multiple\n"
    "                of 4 bytes, the layout other programs expect: use it for a\n"
    "                BMP meant for a viewer, an editor or an imaging library.\n"
    "                Without it the rows are the library's own, 3 bytes a pixel\n"
    "                unpadded, which it reads back byte for byte but which other\n"
    "                programs refuse or show sheared unless the width is a\n"
    "                multiple of 4. No effect on a BMP SOURCE.\n"
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

// Reads the source's first bytes to choose the direction. False (with a
// message printed) when the source cannot be read at all. Only a regular
// file is opened: opening a FIFO, even without waiting, would let a writer
// waiting on it go on into a pipe nobody reads, and reading a pipe or
// device would take bytes the conversion then could not have.
bool SniffDirection(const std::string& source, Direction& direction)
{
    auto unreadable = [&](const char* reason) {
        Fail(source, std::string(KestovaTiffResultText(KESTOVATIFF_ERROR_SOURCE)) + ": " + reason);
        return false;
    };
    struct stat info {};
    if (stat(source.c_str(), &info) != 0) {
        return unreadable(std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return unreadable(std::strerror(EISDIR));
    }
    if (!S_ISREG(info.st_mode)) {
        return unreadable("not a regular file");
    }
    const int fd = open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return unreadable(std::strerror(errno));
    }
    unsigned char magic[4] = {};
    ssize_t got;
    do {
        got = read(fd, magic, sizeof magic);
    } while (got < 0 && errno == EINTR);
    const int readError = got < 0 ? errno : 0;
    (void)close(fd);  // read-only: nothing to lose
    if (readError != 0) {
        return unreadable(std::strerror(readError));
    }
    direction = kestovatiff_cli::DirectionOf(magic, got);
    return true;
}

// Converts and reports. Returns the exit status.
int Convert(const std::string& source, const std::string& dest, bool padded = false)
{
    const std::u16string source16 = kestovatiff_cli::FileNameToUtf16(source);
    const std::u16string dest16 = kestovatiff_cli::FileNameToUtf16(dest);
    Direction direction = Direction::Unknown;
    if (!SniffDirection(source, direction)) {
        return 1;
    }
    int32_t result = KESTOVATIFF_ERROR_FORMAT;
    errno = 0;
    if (direction == Direction::BmpToTiff) {
        result = Bmp2Tiff(source16.c_str(), dest16.c_str());
    } else if (direction == Direction::TiffToBmp) {
        result = (padded ? kestovatiff_cli::Tiff2PaddedBmp : Tiff2Bmp)(source16.c_str(), dest16.c_str());
    }
    const int error = errno;
    if (result == KESTOVATIFF_OK) {
        return 0;
    }
    // The source was opened by its name already: a bad argument is DEST.
    const bool destFailed = result == KESTOVATIFF_ERROR_DESTINATION || result == KESTOVATIFF_ERROR_ARGUMENT;
    Fail(destFailed ? dest : source, kestovatiff_cli::ResultReason(result, error));
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
    if (const int status = Convert(bmp, tiff); status != 0) {
        return status;
    }
    std::printf("wrote  %s: %u x %u pixels, %lld bytes\n", tiff.c_str(), kestovatiff_cli::kTestCardWidth,
                kestovatiff_cli::kTestCardHeight, FileSize(tiff));
    const std::string back = dir + "/test-card-back.bmp";
    if (const int status = Convert(tiff, back); status != 0) {
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

int UsageError(const char* message)
{
    (void)std::fprintf(stderr, "kestovatiff: %s\n%s", message, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<char*> args(argv, argv + argc);
    const bool padded = kestovatiff_cli::TakeOption(args, "--padded");
    argc = static_cast<int>(args.size());
    argv = args.data();
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        (void)std::fputs(kUsage, stdout);
        return FinishOutput(0);
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kestovatiff %s\n", KESTOVATIFF_VERSION);
        return FinishOutput(0);
    }
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "--demo") == 0) {
        return FinishOutput(Demo(argc == 3 ? argv[2] : "."));
    }
    if (kestovatiff_cli::IsBatch(argc, argv)) {
        return kestovatiff_cli::RunBatch(argc, argv, padded);
    }
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--") == 0) {
        first = 2;
    }
    for (int i = first; i < argc && first == 1; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError((std::string("unknown option ") + argv[i]).c_str());
        }
    }
    if (argc - first != 2) {
        return UsageError("expected a SOURCE and a DEST");
    }
    return Convert(argv[first], argv[first + 1], padded);
}
