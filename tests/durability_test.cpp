// The order of the system calls that make a replaced file durable: the new
// picture is flushed before it takes the old file's name (or, written in
// place, after it is written), and a new file is not flushed at all. This
// program defines fsync, renameat, linkat and openat64 itself; the dynamic
// linker binds the library's calls to them. They record what they see and
// call the C library's own, or fail on request to steer the library onto
// its fallbacks for file systems without unnamed files.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <string>
#include <vector>

#include "kestovatiff.h"
#include "test_files.h"

namespace {

struct Event {
    char call;    // 'f' fsync, 'r' renameat
    ino_t inode;  // the file flushed, or renamed
    std::string name;
};

std::vector<Event> g_events;
bool g_recording = false;
bool g_noUnnamedFiles = false;  // O_TMPFILE fails as on file systems without it
bool g_noLinking = false;       // linking an open file fails

template <typename Function>
Function Real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd)
{
    struct stat info {};
    if (g_recording && fstat(fd, &info) == 0) {
        g_events.push_back({'f', info.st_ino, ""});
    }
    return Real<int (*)(int)>("fsync")(fd);
}

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    struct stat info {};
    if (g_recording && fstatat(fromDir, from, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        g_events.push_back({'r', info.st_ino, to});
    }
    return Real<int (*)(int, const char*, int, const char*)>("renameat")(fromDir, from, toDir, to);
}

extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to, int flags)
{
    if (g_noLinking) {
        errno = EXDEV;
        return -1;
    }
    return Real<int (*)(int, const char*, int, const char*, int)>("linkat")(fromDir, from, toDir, to, flags);
}

extern "C" int openat64(int dir, const char* path, int flags, ...)
{
    if (g_noUnnamedFiles && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    va_list arguments;
    va_start(arguments, flags);
    const auto mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
    return Real<int (*)(int, const char*, int, ...)>("openat64")(dir, path, flags, mode);
}

namespace testing_files {
namespace {

class DurabilityTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        picture_ = MakePicture(9, 4);
        WriteFile(Path("in.bmp"), BmpFile(picture_));
    }

    void TearDown() override
    {
        g_recording = g_noUnnamedFiles = g_noLinking = false;
        g_events.clear();
        ScratchDir::TearDown();
    }

    std::vector<Event> Convert(const std::string& dest)
    {
        g_events.clear();
        g_recording = true;
        EXPECT_EQ(Bmp2Tiff(Path16("in.bmp").c_str(), Path16(dest).c_str()), KESTOVATIFF_OK);
        g_recording = false;
        EXPECT_EQ(ReadFile(Path(dest)), ExpectedTiff(picture_));
        return g_events;
    }

    ino_t Inode(const std::string& name)
    {
        struct stat info {};
        EXPECT_EQ(stat(Path(name).c_str(), &info), 0);
        return info.st_ino;
    }

    Picture picture_;
};

TEST_F(DurabilityTest, ReplacedFileIsFlushedBeforeItTakesTheName)
{
    // Unnamed staging file; named one where the file system has none; and a
    // copy where the kernel will not link an open file.
    for (const int fallback : {0, 1, 2}) {
        SCOPED_TRACE(fallback);
        g_noUnnamedFiles = fallback == 1;
        g_noLinking = fallback == 2;
        WriteFile(Path("out.tif"), {1, 2, 3});
        const std::vector<Event> events = Convert("out.tif");
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].call, 'f');
        EXPECT_EQ(events[1].call, 'r');
        EXPECT_EQ(events[1].name, "out.tif");
        EXPECT_EQ(events[0].inode, events[1].inode);
        EXPECT_EQ(events[1].inode, Inode("out.tif"));
        EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "out.tif"}));
    }
}

TEST_F(DurabilityTest, NewFileIsNotFlushed)
{
    for (const int fallback : {0, 1, 2}) {
        SCOPED_TRACE(fallback);
        g_noUnnamedFiles = fallback == 1;
        g_noLinking = fallback == 2;
        const std::string name = "new" + std::to_string(fallback) + ".tif";
        for (const Event& event : Convert(name)) {
            EXPECT_NE(event.call, 'f');
        }
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "new0.tif", "new1.tif", "new2.tif"}));
}

TEST_F(DurabilityTest, FileWrittenInPlaceIsFlushed)
{
    WriteFile(Path("out.tif"), {1, 2, 3});
    ASSERT_EQ(link(Path("out.tif").c_str(), Path("other.tif").c_str()), 0);
    const ino_t inode = Inode("out.tif");
    const std::vector<Event> events = Convert("out.tif");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].call, 'f');
    EXPECT_EQ(events[0].inode, inode);
    EXPECT_EQ(Inode("other.tif"), inode);
}

}  // namespace
}  // namespace testing_files
