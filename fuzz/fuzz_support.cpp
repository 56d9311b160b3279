#include "fuzz_support.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "kestovatiff.h"

namespace fuzz_support {

const Scratch& Files()
{
    static const Scratch files = [] {
        // A few bytes of run lengths may describe a picture of gigabytes,
        // which a conversion rightly writes whole; here such files fail
        // with EFBIG at 64 MiB instead of filling the disk.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {64u << 20, 64u << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string pattern = "/tmp/kvt-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot make a scratch directory");
        }
        Scratch s;
        s.source = pattern + "/source";
        s.dest = pattern + "/dest";
        s.again = pattern + "/again";
        s.last = pattern + "/last";
        s.source16.assign(s.source.begin(), s.source.end());
        s.dest16.assign(s.dest.begin(), s.dest.end());
        s.again16.assign(s.again.begin(), s.again.end());
        s.last16.assign(s.last.begin(), s.last.end());
        return s;
    }();
    return files;
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        Fail("cannot write the scratch source");
    }
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    std::fclose(f);
    return true;
}

void Remove(const Scratch& files)
{
    for (const std::string* path : {&files.dest, &files.again, &files.last}) {
        unlink(path->c_str());
    }
}

void Fail(const char* what, long long detail)
{
    std::fprintf(stderr, "check failed: %s (%lld)\n", what, detail);
    std::abort();
}

bool ConvertInput(int32_t (*convert)(const char16_t*, const char16_t*), const uint8_t* data, size_t size,
                  std::vector<uint8_t>& dest)
{
    const Scratch& files = Files();
    Remove(files);
    WriteBytes(files.source, data, size);
    const int32_t result = convert(files.source16.c_str(), files.dest16.c_str());
    const bool written = ReadBytes(files.dest, dest);
    if (result == KESTOVATIFF_OK) {
        if (!written) {
            Fail("success without a destination");
        }
        return true;
    }
    if (result >= 0 || result < KESTOVATIFF_ERROR_DESTINATION) {
        Fail("unknown result", result);
    }
    if (written) {
        Fail("a failed conversion left a destination", result);
    }
    return false;
}

void CheckWrittenTiff(const std::vector<uint8_t>& tiff)
{
    if (tiff.size() < 206 || tiff[0] != 'M' || tiff[1] != 'M') {
        Fail("written TIFF too short or not MM", static_cast<long long>(tiff.size()));
    }
    const uint64_t directory = Be32(tiff.data() + 4);
    if (directory != tiff.size() - 198) {
        Fail("written TIFF's directory is not where the layout puts it", static_cast<long long>(directory));
    }
    const uint64_t width = Be16(tiff.data() + directory + 10);
    const uint64_t height = Be16(tiff.data() + directory + 22);
    if (3 * width * height + 206 != tiff.size()) {
        Fail("written TIFF's size disagrees with its sides", static_cast<long long>(tiff.size()));
    }
}

void CheckWrittenBmp(const std::vector<uint8_t>& bmp)
{
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') {
        Fail("written BMP too short or not BM", static_cast<long long>(bmp.size()));
    }
    const uint64_t width = Le32(bmp.data() + 18);
    const uint64_t height = Le32(bmp.data() + 22);
    if (3 * width * height + 54 != bmp.size() || Le32(bmp.data() + 2) != bmp.size()) {
        Fail("written BMP's size disagrees with its headers", static_cast<long long>(bmp.size()));
    }
}

}  // namespace fuzz_support
