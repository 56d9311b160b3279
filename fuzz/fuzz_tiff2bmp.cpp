// Any bytes as a TIFF source, with the options their hash draws: either a
// refusal that leaves no file, or a BMP of the layout's size (rows padded
// where the options ask) that converts to TIFF and back, with the same
// options, to the same BMP.

#include "fuzz_support.h"
#include "kestovatiff.h"

using namespace fuzz_support;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bmp;
    KestovaOptions options;
    if (!ConvertInput(Direction::TiffToBmp, data, size, bmp, options)) {
        return 0;
    }
    const Scratch& files = Files();
    CheckWrittenBmp(bmp, (options.flags & KESTOVA_FLAG_PADDED_ROWS) != 0);
    // Sides above 65535 are fine in a BMP but do not fit the TIFF layout.
    const int32_t back = Bmp2Tiff(files.dest16.c_str(), files.again16.c_str());
    const bool wide = Le32(bmp.data() + 18) > 65535 || Le32(bmp.data() + 22) > 65535;
    if (back != (wide ? KESTOVATIFF_ERROR_TOO_LARGE : KESTOVATIFF_OK)) {
        Fail("the BMP written does not read back", back);
    }
    if (wide) {
        return 0;
    }
    std::vector<uint8_t> tiff;
    ReadBytes(files.again, tiff);
    CheckWrittenTiff(tiff);
    if (KestovaConvert(files.again16.c_str(), files.last16.c_str(), &options) != KESTOVATIFF_OK) {
        Fail("the TIFF written does not read back");
    }
    std::vector<uint8_t> last;
    ReadBytes(files.last, last);
    if (last != bmp) {
        Fail("the round trip changed the BMP");
    }
    return 0;
}
