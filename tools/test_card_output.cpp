// The test card written as a conversion's destination, through the
// library's public function alone: the card goes to a private temporary
// file, becomes a TIFF beside it, and that TIFF converts to the card's
// name. The library then writes it as every destination: staged and put
// in place only when complete, an existing file's identity kept, a
// dangling link refused. The card's rows need no padding (its width is a
// multiple of 4), so the library's own layout is the card byte for byte.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "file_name.h"
#include "kestovatiff.h"
#include "test_card.h"

namespace kestovatiff_cli {
namespace {

// A new empty file of our own in $TMPDIR (else /tmp); its name, or empty
// with errno set.
std::string PrivateFile(const char* tag)
{
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/kestovatiff-" + tag + "-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        return {};
    }
    (void)close(fd);
    return name;
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

bool WriteTestCard(const std::string& path)
{
    const std::string bmp = PrivateFile("card");
    const std::string tiff = bmp.empty() ? std::string() : PrivateFile("card");
    const bool done = !tiff.empty() && WriteAll(bmp, TestCardBmp()) &&
                Bmp2Tiff(FileNameToUtf16(bmp).c_str(), FileNameToUtf16(tiff).c_str()) == KESTOVATIFF_OK &&
                Tiff2Bmp(FileNameToUtf16(tiff).c_str(), FileNameToUtf16(path).c_str()) == KESTOVATIFF_OK;
    const int error = errno;
    for (const std::string& name : {bmp, tiff}) {
        if (!name.empty()) {
            (void)unlink(name.c_str());
        }
    }
    errno = error;
    return done;
}

}  // namespace kestovatiff_cli
