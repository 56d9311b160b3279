// UTF-16 paths as the OS sees them.

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "platform/native_path.h"

namespace kestova {
namespace {

TEST(NativePathTest, Utf16BecomesUtf8)
{
    struct Case {
        std::u16string utf16;
        std::string utf8;
    };
    const Case cases[] = {
        {u"a/b.bmp", "a/b.bmp"},
        {u"\u00E9", "\xC3\xA9"},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
        {u"\u5199\uFFFF", "\xE5\x86\x99\xEF\xBF\xBF"},
        {u"\xD800\xDC00", "\xF0\x90\x80\x80"},  // U+10000
        {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF
        {u"\xD800\xDC80", "\xF0\x90\x82\x80"},  // a pair, not an escaped byte
    };
    for (const Case& c : cases) {
        NativePath path;
        ASSERT_EQ(ToNativePath(c.utf16.c_str(), path), Status::Ok);
        EXPECT_EQ(std::string(path.text), c.utf8);
    }
}

TEST(NativePathTest, MalformedOrOversizedPathsAreBadArguments)
{
    const std::u16string fits(kMaxNativePath - 1, u'a');
    const std::u16string tooLong(kMaxNativePath, u'a');
    const std::u16string wideTooLong(kMaxNativePath / 3 + 1, u'\u5199');  // 3 bytes each
    struct Case {
        const char16_t* path;
        Status expected;
    };
    const Case cases[] = {
        {nullptr, Status::BadArgument},        {u"", Status::BadArgument},
        {u"a\xD800", Status::BadArgument},      {u"a\xD800z", Status::BadArgument},
        {u"\xDC00", Status::BadArgument},       {u"\xDC00\xD800", Status::BadArgument},
        // Lone low surrogates: U+DC80..U+DCFF are escaped bytes of a name
        // that is not UTF-8; below them they stand for
        // nothing, and a high surrogate never escapes a byte.
        {u"a\xDC7F", Status::BadArgument},     {u"a\xDD00", Status::BadArgument},
        {u"\xDFFF", Status::BadArgument},      {u"\xDBFF", Status::BadArgument},
        {u"a\xDC80", Status::Ok},           {u"\xDCFFz", Status::Ok},
        {fits.c_str(), Status::Ok},            {tooLong.c_str(), Status::BadArgument},
        {wideTooLong.c_str(), Status::BadArgument},
    };
    for (const Case& c : cases) {
        NativePath path;
        EXPECT_EQ(ToNativePath(c.path, path), c.expected);
    }
}

}  // namespace
}  // namespace kestova
