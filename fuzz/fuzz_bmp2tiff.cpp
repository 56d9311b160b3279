// Any bytes as a BMP source: either a refusal that leaves no file, or a TIFF
// of the layout's size that converts to BMP and back to the same TIFF.

#include "fuzz_support.h"
#include "kestovatiff.h"

using namespace fuzz_support;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Scratch& files = Files();
    Remove(files);
    WriteBytes(files.source, data, size);
    std::vector<uint8_t> tiff;
    const int32_t result = Bmp2Tiff(files.source16.c_str(), files.dest16.c_str());
    const bool written = ReadBytes(files.dest, tiff);
    if (result != KESTOVATIFF_OK) {
        if (result >= 0 || result < KESTOVATIFF_ERROR_DESTINATION) {
            Fail("unknown result", result);
        }
        if (written) {
            Fail("a failed conversion left a destination", result);
        }
        return 0;
    }
    if (!written) {
        Fail("success without a destination");
    }
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
