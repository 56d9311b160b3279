// Any bytes as a BMP source, with the options their hash draws: either a
// refusal that leaves no file, or a TIFF of the layout's size that converts
// to BMP and back to the same TIFF (the TIFF is 8-bit and opaque, so the
// options would not change that trip).

#include "fuzz_support.h"
#include "kestovatiff.h"

using namespace fuzz_support;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> tiff;
    KestovaOptions options;
    if (!ConvertInput(Direction::BmpToTiff, data, size, tiff, options)) {
        return 0;
    }
    const Scratch& files = Files();
    CheckWrittenTiff(tiff);
    if (Tiff2Bmp(files.dest16.c_str(), files.again16.c_str()) != KESTOVATIFF_OK) {
        Fail("the TIFF written does not read back");
    }
    std::vector<uint8_t> bmp;
    ReadBytes(files.again, bmp);
    CheckWrittenBmp(bmp);
    if (Bmp2Tiff(files.again16.c_str(), files.last16.c_str()) != KESTOVATIFF_OK) {
        Fail("the BMP written does not read back");
    }
    std::vector<uint8_t> last;
    ReadBytes(files.last, last);
    if (last != tiff) {
        Fail("the round trip changed the TIFF");
    }
    return 0;
}
