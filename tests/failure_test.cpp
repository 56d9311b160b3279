// Every way a conversion can fail: the result value, errno where the OS
// refused, an existing destination left byte for byte, nothing left behind.

#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <set>

#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

const Bytes kPrecious = {'k', 'e', 'e', 'p', ' ', 'm', 'e'};

class FailureTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        WriteFile(Path("out.tif"), kPrecious);
    }

    // The destination still holds what it held, and the directory holds
    // nothing the conversion made.
    void ExpectNothingTouched(const std::vector<std::string>& before)
    {
        EXPECT_EQ(ReadFile(Path("out.tif")), kPrecious);
        EXPECT_EQ(Names(), before);
    }
};

struct BadBmp {
    const char* name;
    std::function<void(Bytes&)> damage;
    int32_t expected;
};

void SetLe(Bytes& bytes, size_t at, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) {
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

TEST_F(FailureTest, SourcesThatAreNotReadableBmpAreRefused)
{
    const BadBmp cases[] = {
        {"empty", [](Bytes& b) { b.clear(); }, KESTOVATIFF_ERROR_FORMAT},
        {"no BM", [](Bytes& b) { b[0] = 'X'; }, KESTOVATIFF_ERROR_FORMAT},
        {"TIFF signature", [](Bytes& b) { b = {'M', 'M', 0, 42, 0, 0, 0, 8}; }, KESTOVATIFF_ERROR_FORMAT},
        {"cut in the file header", [](Bytes& b) { b.resize(10); }, KESTOVATIFF_ERROR_FORMAT},
        {"cut in the info header", [](Bytes& b) { b.resize(53); }, KESTOVATIFF_ERROR_FORMAT},
        // No room for a palette before the pixels: every index lies past it.
        {"8 bits per pixel, no palette", [](Bytes& b) { SetLe(b, 28, 8, 2); }, KESTOVATIFF_ERROR_FORMAT},
        {"2 bits per pixel", [](Bytes& b) { SetLe(b, 28, 2, 2); }, KESTOVATIFF_ERROR_FORMAT},
        {"RLE8 with 24 bits", [](Bytes& b) { SetLe(b, 30, 1, 4); }, KESTOVATIFF_ERROR_FORMAT},
        {"bit fields with 24 bits", [](Bytes& b) { SetLe(b, 30, 3, 4); }, KESTOVATIFF_ERROR_FORMAT},
        {"JPEG", [](Bytes& b) { SetLe(b, 30, 4, 4); }, KESTOVATIFF_ERROR_FORMAT},
        {"two planes", [](Bytes& b) { SetLe(b, 26, 2, 2); }, KESTOVATIFF_ERROR_FORMAT},
        {"info header of 20 bytes", [](Bytes& b) { SetLe(b, 14, 20, 4); }, KESTOVATIFF_ERROR_FORMAT},
        {"negative width", [](Bytes& b) { SetLe(b, 18, 0xFFFFFFFF, 4); }, KESTOVATIFF_ERROR_FORMAT},
        {"height -2^31", [](Bytes& b) { SetLe(b, 22, 0x80000000, 4); }, KESTOVATIFF_ERROR_FORMAT},
        {"one byte short", [](Bytes& b) { b.pop_back(); }, KESTOVATIFF_ERROR_FORMAT},
        {"last row missing", [](Bytes& b) { b.resize(b.size() - 9); }, KESTOVATIFF_ERROR_FORMAT},
        {"width 65536", [](Bytes& b) { SetLe(b, 18, 65536, 4); }, KESTOVATIFF_ERROR_TOO_LARGE},
        {"height 65536", [](Bytes& b) { SetLe(b, 22, 65536, 4); }, KESTOVATIFF_ERROR_TOO_LARGE},
        {"height -65536", [](Bytes& b) { SetLe(b, 22, static_cast<uint32_t>(-65536), 4); },
         KESTOVATIFF_ERROR_TOO_LARGE},
        // Judged from the header alone, before the length: 65535 x 65535
        // would make a TIFF of 12 GiB.
        {"65535x65535 in 100 bytes",
         [](Bytes& b) {
             SetLe(b, 18, 65535, 4);
             SetLe(b, 22, 65535, 4);
             b.resize(100);
         },
         KESTOVATIFF_ERROR_TOO_LARGE},
        // 3 * 65535 * 21845 + 206 bytes is the largest TIFF below 4 GiB;
        // one more row passes it.
        {"TIFF just over 4 GiB",
         [](Bytes& b) {
             SetLe(b, 18, 65535, 4);
             SetLe(b, 22, 21846, 4);
         },
         KESTOVATIFF_ERROR_TOO_LARGE},
        {"TIFF just under 4 GiB, file short",
         [](Bytes& b) {
             SetLe(b, 18, 65535, 4);
             SetLe(b, 22, 21845, 4);
         },
         KESTOVATIFF_ERROR_FORMAT},
    };
    const std::vector<std::string> before = {"in.bmp", "out.tif"};
    for (const BadBmp& bad : cases) {
        SCOPED_TRACE(bad.name);
        Bytes bmp = BmpFile(MakePicture(3, 3));
        bad.damage(bmp);
        WriteFile(Path("in.bmp"), bmp);
        EXPECT_EQ(Bmp2Tiff(Path16("in.bmp").c_str(), Path16("out.tif").c_str()), bad.expected);
        ExpectNothingTouched(before);
    }
}

TEST_F(FailureTest, BadPathsAreRefusedWithTheirCause)
{
    WriteFile(Path("in.bmp"), BmpFile(MakePicture(3, 3)));
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
    const std::u16string in = Path16("in.bmp");
    const std::u16string out = Path16("out.tif");
    const std::u16string unpairedHigh = Path16("x") + u'\xD800' + u".tif";
    const std::u16string unpairedLow = Path16("x") + u'\xDC00' + u".bmp";
    const std::u16string tooLong = Path16("") + std::u16string(5000, u'a');

    struct Case {
        const char* name;
        const char16_t* source;
        const char16_t* dest;
        int32_t expected;
        int error;  // errno, where the OS refused
    };
    const std::u16string missing = Path16("missing.bmp");
    const std::u16string folder = Path16("folder");
    const std::u16string noDir = Path16("no/such/dir/out.tif");
    const Case cases[] = {
        {"null source", nullptr, out.c_str(), KESTOVATIFF_ERROR_ARGUMENT, 0},
        {"null destination", in.c_str(), nullptr, KESTOVATIFF_ERROR_ARGUMENT, 0},
        {"empty source", u"", out.c_str(), KESTOVATIFF_ERROR_ARGUMENT, 0},
        {"empty destination", in.c_str(), u"", KESTOVATIFF_ERROR_ARGUMENT, 0},
        {"unpaired high surrogate", in.c_str(), unpairedHigh.c_str(), KESTOVATIFF_ERROR_ARGUMENT, 0},
        {"unpaired low surrogate", unpairedLow.c_str(), out.c_str(), KESTOVATIFF_ERROR_ARGUMENT, 0},
        {"path too long", in.c_str(), tooLong.c_str(), KESTOVATIFF_ERROR_ARGUMENT, ENAMETOOLONG},
        {"source missing", missing.c_str(), out.c_str(), KESTOVATIFF_ERROR_SOURCE, ENOENT},
        {"source is a directory", folder.c_str(), out.c_str(), KESTOVATIFF_ERROR_SOURCE, EISDIR},
        {"destination is a directory", in.c_str(), folder.c_str(), KESTOVATIFF_ERROR_DESTINATION, EISDIR},
        {"destination directory missing", in.c_str(), noDir.c_str(), KESTOVATIFF_ERROR_DESTINATION,
         ENOENT},
    };
    const std::vector<std::string> before = Names();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errno = 0;
        EXPECT_EQ(Bmp2Tiff(c.source, c.dest), c.expected);
        if (c.error != 0) {
            EXPECT_EQ(errno, c.error);
        }
        ExpectNothingTouched(before);
    }
}

TEST(ResultText, EveryResultHasItsOwnText)
{
    const int32_t results[] = {KESTOVATIFF_OK,          KESTOVATIFF_ERROR_ARGUMENT,
                               KESTOVATIFF_ERROR_SOURCE, KESTOVATIFF_ERROR_FORMAT,
                               KESTOVATIFF_ERROR_TOO_LARGE, KESTOVATIFF_ERROR_DESTINATION};
    std::set<std::string> texts;
    for (int32_t result : results) {
        texts.insert(KestovaTiffResultText(result));
    }
    EXPECT_EQ(texts.size(), std::size(results));
    EXPECT_STREQ(KestovaTiffResultText(12345), "unknown result");
}

}  // namespace
}  // namespace testing_files
