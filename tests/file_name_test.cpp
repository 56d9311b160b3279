// File names from bytes to the library's UTF-16 (the host) and back to
// bytes (the library): every name comes back exactly as it was.

#include <string>

#include <gtest/gtest.h>

#include "file_name.h"
#include "platform/native_path.h"

namespace kestova {
namespace {

struct Name {
    const char* what;
    std::string bytes;
    std::u16string utf16;
};

const Name kNames[] = {
    {"ASCII", "a/b.bmp", u"a/b.bmp"},
    {"UTF-8, two to four bytes", "caf\xC3\xA9 \xE5\x86\x99 \xF0\x9F\x98\x80", u"caf\u00E9 \u5199 \U0001F600"},
    {"Latin-1", "caf\xE9.bmp", u"caf\xDCE9.bmp"},
    {"every high byte alone", "\x80\xFF", u"\xDC80\xDCFF"},
    {"a lead byte before ASCII", "\xC3(", u"\xDCC3("},
    {"a sequence cut by the end", "x\xE2\x82", u"x\xDCE2\xDC82"},
    {"a stray continuation byte", "\xA9" "a", u"\xDCA9" u"a"},
    {"overlong", "\xC0\xAF", u"\xDCC0\xDCAF"},
    {"an encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
    {"past U+10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
    {"five-byte lead", "\xF8\x88", u"\xDCF8\xDC88"},
    {"UTF-8 and bytes mixed", "\xC3\xA9\xE9\xC3\xA9", u"\u00E9\xDCE9\u00E9"},
};

TEST(FileNameTest, BytesBecomeUtf16AndComeBack)
{
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.what);
        EXPECT_EQ(kestovatiff_cli::FileNameToUtf16(name.bytes), name.utf16);
        NativePath path;
        ASSERT_EQ(ToNativePath(name.utf16.c_str(), path), Status::Ok);
        EXPECT_EQ(std::string(path.text), name.bytes);
    }
}

}  // namespace
}  // namespace kestova
