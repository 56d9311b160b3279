// Tests that watch or steer the library's system calls. This program
// defines fsync, renameat, linkat and openat64 itself; the dynamic linker
// binds the library's calls to them. They record what they see, act as
// another process would between two of the library's calls, or fail on
// request, and call the C library's own.
//
// - Durability: a replaced file's new picture is flushed before it takes
//   the old file's name (or, written in place, after it is written), and a
//   new file is not flushed at all, also on the fallbacks for file systems
//   without unnamed files.
// - Races: the destination changed by someone else between the library's
//   look at it and its open, or while the picture is written.
// - File systems that cannot reserve space (fallocate gives EOPNOTSUPP):
//   a file written in place keeps every old byte when the disk fills.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
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
bool g_noReserving = false;     // fallocate reserves nothing, as on ext3 (which punches holes)

// Run once, as another process would act: after the library's next open of
// a path, or before its next link.
std::function<void(const char* path)> g_afterOpen;
std::function<void()> g_beforeLink;

void RunOnce(std::function<void()>& hook)
{
    if (hook) {
        const std::function<void()> run = std::move(hook);
        hook = nullptr;
        run();
    }
}

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
    RunOnce(g_beforeLink);
    if (g_noLinking) {
        errno = EXDEV;
        return -1;
    }
    return Real<int (*)(int, const char*, int, const char*, int)>("linkat")(fromDir, from, toDir, to, flags);
}

extern "C" int fallocate64(int fd, int mode, off_t offset, off_t length)
{
    if (g_noReserving && (mode & FALLOC_FL_PUNCH_HOLE) == 0) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return Real<int (*)(int, int, off_t, off_t)>("fallocate64")(fd, mode, offset, length);
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
    const int fd = Real<int (*)(int, const char*, int, ...)>("openat64")(dir, path, flags, mode);
    if (g_afterOpen) {
        const int error = errno;
        const std::function<void(const char*)> run = std::move(g_afterOpen);
        g_afterOpen = nullptr;
        run(path);
        errno = error;
    }
    return fd;
}

namespace testing_files {
namespace {

class InterposedTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        picture_ = MakePicture(9, 4);
        WriteFile(Path("in.bmp"), BmpFile(picture_));
    }

    void TearDown() override
    {
        g_recording = g_noUnnamedFiles = g_noLinking = g_noReserving = false;
        g_events.clear();
        g_afterOpen = nullptr;
        g_beforeLink = nullptr;
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

TEST_F(InterposedTest, ReplacedFileIsFlushedBeforeItTakesTheName)
{
    // Unnamed staging file; named one where the file system has none; and a
    // copy where the kernel will not link an open file.
    for (const int fallback : {0, 1, 2}) {
        SCOPED_TRACE(fallback);
        g_noUnnamedFiles = fallback == 1;
        g_noLinking = fallback == 2;
        WriteFile(Path("out.tif"), {1, 2, 3});
        // Last the rename, and just before it the flush of the file renamed
        // (a copy is flushed too, after the file it was made from).
        const std::vector<Event> events = Convert("out.tif");
        ASSERT_GE(events.size(), 2u);
        const Event& flush = events[events.size() - 2];
        const Event& rename = events.back();
        EXPECT_EQ(flush.call, 'f');
        EXPECT_EQ(rename.call, 'r');
        EXPECT_EQ(rename.name, "out.tif");
        EXPECT_EQ(flush.inode, rename.inode);
        EXPECT_EQ(rename.inode, Inode("out.tif"));
        EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "out.tif"}));
    }
}

TEST_F(InterposedTest, NewFileIsNotFlushed)
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

TEST_F(InterposedTest, FileWrittenInPlaceIsFlushed)
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

// Without unnamed files, a conversion stopped by the file-size limit
// (SIGXFSZ as by default, which would kill the process) leaves no
// temporary name behind.
TEST_F(InterposedTest, FileSizeLimitLeavesNoTemporaryName)
{
    WriteFile(Path("in.bmp"), BmpFile(MakePicture(300, 200)));  // a 180206-byte TIFF
    for (const char* dest : {"new.tif", "old.tif"}) {
        SCOPED_TRACE(dest);
        WriteFile(Path("old.tif"), {1, 2, 3});
        const Outcome outcome = InChild(
            [] {
                g_noUnnamedFiles = true;
                signal(SIGXFSZ, SIG_DFL);
                const rlimit limit = {100000, 100000};
                setrlimit(RLIMIT_FSIZE, &limit);
            },
            [&] { return Bmp2Tiff(Path16("in.bmp").c_str(), Path16(dest).c_str()); });
        EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
        EXPECT_EQ(outcome.error, EFBIG);
        EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "old.tif"}));
        EXPECT_EQ(ReadFile(Path("old.tif")), (Bytes{1, 2, 3}));
    }
}

// Written in place where no space can be reserved: the part past the old
// end goes first and is flushed, then the rest; a file longer than the
// picture, or with holes, ends as the picture too.
TEST_F(InterposedTest, FileWrittenInPlaceWithoutReservingSpace)
{
    const size_t size = ExpectedTiff(picture_).size();
    g_noReserving = true;
    for (const size_t old : {size_t{3}, size + 1000, size_t{1} << 20}) {
        SCOPED_TRACE(old);
        WriteFile(Path("out.tif"), Bytes(old > 4096 ? 4096 : old, 'o'));
        ASSERT_EQ(truncate(Path("out.tif").c_str(), static_cast<off_t>(old)), 0);  // a hole past 4096
        ASSERT_EQ(link(Path("out.tif").c_str(), Path("other.tif").c_str()), 0);
        const std::vector<Event> events = Convert("out.tif");
        EXPECT_EQ(events.size(), 2u);  // the space held, and the picture whole
        EXPECT_EQ(Inode("other.tif"), Inode("out.tif"));
        ASSERT_EQ(unlink(Path("other.tif").c_str()), 0);
    }
}

// The same on a disk too small for the picture: every old byte stays
// under both names, whether the picture is longer than the old file or
// fills its holes (which need space though they read as zeros), and the
// holes filled are given back.
TEST_F(InterposedTest, FullDiskWithoutReservingSpaceKeepsTheOldFile)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a small file system";
    }
    const Picture large = MakePicture(400, 200);  // a 240206-byte TIFF: 59 pages
    WriteFile(Path("in.bmp"), BmpFile(large));
    ASSERT_EQ(mkdir(Path("small").c_str(), 0755), 0);
    Bytes old(100000);
    for (size_t i = 0; i < old.size(); ++i) {
        old[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    // 100 pages: the staged picture and the old file (25 pages), but not
    // the picture's 35 pages past the old end; the staged picture and 59
    // pages of holes neither.
    for (const off_t holes : {off_t{0}, off_t{300000}}) {
        SCOPED_TRACE(holes > 0 ? "old file with holes" : "old file shorter than the picture");
        const Outcome outcome = InChild(
            [&] {
                if (!PrivateMounts() || mount("kestova", Path("small").c_str(), "tmpfs", 0, "size=400k") != 0) {
                    _exit(3);
                }
                WriteFile(Path("small/out.tif"), old);
                if ((holes > 0 && truncate(Path("small/out.tif").c_str(), holes) != 0) ||
                    link(Path("small/out.tif").c_str(), Path("small/other.tif").c_str()) != 0) {
                    _exit(3);
                }
                g_noReserving = true;
            },
            [&] {
                struct stat before {};
                struct stat after {};
                stat(Path("small/out.tif").c_str(), &before);
                const int32_t result =
                    Bmp2Tiff(Path16("in.bmp").c_str(), U16(Path("small/out.tif")).c_str());
                const int error = errno;
                if (stat(Path("small/out.tif").c_str(), &after) != 0 || after.st_blocks != before.st_blocks) {
                    _exit(5);
                }
                Bytes expected = old;
                expected.resize(holes > 0 ? static_cast<size_t>(holes) : old.size());
                if (ReadFile(Path("small/out.tif")) != expected || ReadFile(Path("small/other.tif")) != expected ||
                    Names("small") != std::vector<std::string>{"other.tif", "out.tif"}) {
                    _exit(4);
                }
                errno = error;
                return result;
            });
        EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
        EXPECT_EQ(outcome.error, ENOSPC);
    }
}

// Between the look at the destination and its open, the name is taken
// away, or turned into a link to nowhere: nothing is made on the way, and
// the call decides again from what is there now.
TEST_F(InterposedTest, NameChangedAfterTheFirstLook)
{
    struct Case {
        const char* change;
        int32_t result;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"removed", KESTOVATIFF_OK, {"in.bmp", "out.tif"}},
        {"dangling link", KESTOVATIFF_ERROR_DESTINATION, {"in.bmp", "out.tif"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        WriteFile(Path("out.tif"), {1, 2, 3});
        const std::string dest = Path("out.tif");
        g_afterOpen = [&](const char* path) {
            if (dest == path) {
                unlink(path);
                if (std::string(c.change) == "dangling link") {
                    EXPECT_EQ(symlink("made.tif", path), 0);
                }
            }
        };
        EXPECT_EQ(Bmp2Tiff(Path16("in.bmp").c_str(), Path16("out.tif").c_str()), c.result);
        EXPECT_EQ(Names(), c.names);
        if (c.result == KESTOVATIFF_OK) {
            EXPECT_EQ(ReadFile(dest), ExpectedTiff(picture_));
        }
        unlink(dest.c_str());
    }
}

// While a new file's picture is written, another process makes a link at
// its name: the link's target is replaced, as if it had been there from
// the start, with its attributes, and the link stays.
TEST_F(InterposedTest, NameTakenWhileThePictureIsWritten)
{
    WriteFile(Path("target.tif"), {1, 2, 3});
    struct stat before {};
    ASSERT_EQ(stat(Path("target.tif").c_str(), &before), 0);
    g_beforeLink = [&] { EXPECT_EQ(symlink("target.tif", Path("new.tif").c_str()), 0); };
    EXPECT_EQ(Bmp2Tiff(Path16("in.bmp").c_str(), Path16("new.tif").c_str()), KESTOVATIFF_OK);
    struct stat link {};
    ASSERT_EQ(lstat(Path("new.tif").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(ReadFile(Path("target.tif")), ExpectedTiff(picture_));
    EXPECT_NE(Inode("target.tif"), before.st_ino);
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "new.tif", "target.tif"}));
}

}  // namespace
}  // namespace testing_files
