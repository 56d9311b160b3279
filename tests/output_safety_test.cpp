// How the destination is written: permissions, links, devices, the source
// itself, and names in any script.

#include <sys/stat.h>
#include <unistd.h>

#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

class OutputSafetyTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        picture_ = MakePicture(5, 3);
        WriteFile(Path("in.bmp"), BmpFile(picture_));
    }

    int32_t ConvertTo(const std::string& dest)
    {
        return Bmp2Tiff(Path16("in.bmp").c_str(), U16(dest).c_str());
    }

    static mode_t Mode(const std::string& path)
    {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }

    Picture picture_;
};

TEST_F(OutputSafetyTest, NewFileGetsThePermissionsOfAPlainCreate)
{
    const mode_t old = umask(027);
    EXPECT_EQ(ConvertTo(Path("new.tif")), KESTOVATIFF_OK);
    umask(old);
    EXPECT_EQ(Mode(Path("new.tif")), 0640u);
    EXPECT_EQ(ReadFile(Path("new.tif")), ExpectedTiff(picture_));
}

TEST_F(OutputSafetyTest, ReplacedFileKeepsItsPermissionBits)
{
    for (mode_t mode : {0600u, 0604u, 0755u}) {
        WriteFile(Path("old.tif"), {1, 2, 3});
        ASSERT_EQ(chmod(Path("old.tif").c_str(), mode), 0);
        EXPECT_EQ(ConvertTo(Path("old.tif")), KESTOVATIFF_OK);
        EXPECT_EQ(Mode(Path("old.tif")), mode);
        EXPECT_EQ(ReadFile(Path("old.tif")), ExpectedTiff(picture_));
    }
}

TEST_F(OutputSafetyTest, SymbolicLinksAreFollowedAndKept)
{
    ASSERT_EQ(mkdir(Path("real").c_str(), 0755), 0);
    WriteFile(Path("real/target.tif"), {1, 2, 3});
    ASSERT_EQ(symlink("real/target.tif", Path("relative.tif").c_str()), 0);
    ASSERT_EQ(symlink(Path("relative.tif").c_str(), Path("chain.tif").c_str()), 0);
    ASSERT_EQ(symlink("not-yet.tif", Path("real/dangling.tif").c_str()), 0);

    for (const char* link : {"relative.tif", "chain.tif", "real/dangling.tif"}) {
        SCOPED_TRACE(link);
        EXPECT_EQ(ConvertTo(Path(link)), KESTOVATIFF_OK);
        struct stat info {};
        ASSERT_EQ(lstat(Path(link).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
    }
    EXPECT_EQ(ReadFile(Path("real/target.tif")), ExpectedTiff(picture_));
    EXPECT_EQ(ReadFile(Path("real/not-yet.tif")), ExpectedTiff(picture_));
    EXPECT_EQ(Names(), (std::vector<std::string>{"chain.tif", "in.bmp", "real", "relative.tif"}));
}

TEST_F(OutputSafetyTest, LinkLoopIsRefused)
{
    ASSERT_EQ(symlink("b.tif", Path("a.tif").c_str()), 0);
    ASSERT_EQ(symlink("a.tif", Path("b.tif").c_str()), 0);
    errno = 0;
    EXPECT_EQ(ConvertTo(Path("a.tif")), KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(errno, ELOOP);
}

TEST_F(OutputSafetyTest, DeviceIsWrittenInPlace)
{
    EXPECT_EQ(ConvertTo("/dev/null"), KESTOVATIFF_OK);
    struct stat info {};
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(OutputSafetyTest, ConvertingAFileOntoItselfWorks)
{
    EXPECT_EQ(ConvertTo(Path("in.bmp")), KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("in.bmp")), ExpectedTiff(picture_));
    EXPECT_EQ(Names(), std::vector<std::string>{"in.bmp"});
}

TEST_F(OutputSafetyTest, NamesInAnyScriptReachTheFileSystemAsUtf8)
{
    // CJK, accented Latin, and U+1F5BC outside the Basic Multilingual Plane,
    // which UTF-16 spells as a surrogate pair.
    for (const char* name : {"\xE5\x86\x99\xE7\x9C\x9F", "caf\xC3\xA9", "\xF0\x9F\x96\xBC"}) {
        SCOPED_TRACE(name);
        const std::string source = Path(std::string(name) + ".bmp");
        const std::string dest = Path(std::string(name) + ".tif");
        WriteFile(source, BmpFile(picture_));
        EXPECT_EQ(Bmp2Tiff(U16(source).c_str(), U16(dest).c_str()), KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(dest), ExpectedTiff(picture_));
    }
    EXPECT_EQ(U16("\xF0\x9F\x96\xBC").size(), 2u);  // the test does use a pair
}

}  // namespace
}  // namespace testing_files
