// How the destination is written: permissions, links, devices, the source
// itself, and names in any script.

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <thread>

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

    static Bytes Attribute(const std::string& path, const char* name)
    {
        Bytes value(4096);
        const ssize_t size = getxattr(path.c_str(), name, value.data(), value.size());
        value.resize(size < 0 ? 0 : static_cast<size_t>(size));
        return value;
    }

    static ino_t Inode(const std::string& path)
    {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info.st_ino;
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

TEST_F(OutputSafetyTest, ReplacedFileKeepsItsPermissionBitsButNotSetuid)
{
    struct Case {
        mode_t before;
        mode_t after;
    };
    for (const Case c : {Case{0600, 0600}, Case{0604, 0604}, Case{0755, 0755}, Case{04755, 0755}, Case{02775, 0775}}) {
        WriteFile(Path("old.tif"), {1, 2, 3});
        ASSERT_EQ(chmod(Path("old.tif").c_str(), c.before), 0);
        EXPECT_EQ(ConvertTo(Path("old.tif")), KESTOVATIFF_OK);
        EXPECT_EQ(Mode(Path("old.tif")), c.after) << std::oct << c.before;
        EXPECT_EQ(ReadFile(Path("old.tif")), ExpectedTiff(picture_));
    }
}

// Extended attributes and ACLs go with the file; the ones the directory
// would give a new file do not come in.
TEST_F(OutputSafetyTest, ReplacedFileKeepsItsAttributesAndAcl)
{
    WriteFile(Path("old.tif"), {1, 2, 3});
    WriteFile(Path("plain.tif"), {1, 2, 3});
    if (setxattr(Path("old.tif").c_str(), "user.origin", "scanner", 7, 0) != 0) {
        GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
    }
    const std::string acl = "setfacl -m u:4321:r " + Path("old.tif") + " && setfacl -d -m u:4322:rw " + dir_;
    const bool haveAcl = std::system((acl + " 2>/dev/null").c_str()) == 0;
    const Bytes aclBefore = Attribute(Path("old.tif"), "system.posix_acl_access");
    const mode_t modeBefore = Mode(Path("old.tif"));
    const ino_t inodeBefore = Inode(Path("old.tif"));

    EXPECT_EQ(ConvertTo(Path("old.tif")), KESTOVATIFF_OK);
    EXPECT_EQ(ConvertTo(Path("plain.tif")), KESTOVATIFF_OK);
    EXPECT_EQ(ConvertTo(Path("new.tif")), KESTOVATIFF_OK);
    EXPECT_NE(Inode(Path("old.tif")), inodeBefore) << "written in place, not replaced";
    EXPECT_EQ(Attribute(Path("old.tif"), "user.origin"), (Bytes{'s', 'c', 'a', 'n', 'n', 'e', 'r'}));
    EXPECT_EQ(Mode(Path("old.tif")), modeBefore);
    if (haveAcl) {
        EXPECT_FALSE(aclBefore.empty());
        EXPECT_EQ(Attribute(Path("old.tif"), "system.posix_acl_access"), aclBefore);
        // plain.tif had no ACL, and the directory's default one stays out;
        // a new file gets it, as a plain create would.
        EXPECT_EQ(Attribute(Path("plain.tif"), "system.posix_acl_access"), Bytes{});
        EXPECT_FALSE(Attribute(Path("new.tif"), "system.posix_acl_access").empty());
    } else {
        std::printf("setfacl is missing or ACLs are not supported here: ACLs not checked\n");
    }
    EXPECT_EQ(ReadFile(Path("old.tif")), ExpectedTiff(picture_));
}

// A file with other names is written in place: every name sees the new
// picture, as with any program that writes into a file.
TEST_F(OutputSafetyTest, HardLinkedFileStaysOneFile)
{
    WriteFile(Path("old.tif"), Bytes(1000, 7));  // longer than the picture: cut to its length
    ASSERT_EQ(chmod(Path("old.tif").c_str(), 04755), 0);
    ASSERT_EQ(link(Path("old.tif").c_str(), Path("other.tif").c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat(Path("old.tif").c_str(), &before), 0);
    EXPECT_EQ(ConvertTo(Path("old.tif")), KESTOVATIFF_OK);
    struct stat after {};
    ASSERT_EQ(stat(Path("other.tif").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(after.st_mode & 07777, 0755u) << "setuid survived the write";
    EXPECT_EQ(ReadFile(Path("other.tif")), ExpectedTiff(picture_));
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "old.tif", "other.tif"}));
}

TEST_F(OutputSafetyTest, LinksToFilesHaveTheirTargetReplaced)
{
    ASSERT_EQ(mkdir(Path("real").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real/target.tif", Path("relative.tif").c_str()), 0);
    ASSERT_EQ(symlink(Path("relative.tif").c_str(), Path("chain.tif").c_str()), 0);

    for (const char* link : {"relative.tif", "chain.tif"}) {
        SCOPED_TRACE(link);
        WriteFile(Path("real/target.tif"), {1, 2, 3});
        const ino_t before = Inode(Path("real/target.tif"));
        EXPECT_EQ(ConvertTo(Path(link)), KESTOVATIFF_OK);
        EXPECT_NE(Inode(Path("real/target.tif")), before) << "written in place, not replaced";
        struct stat info {};
        ASSERT_EQ(lstat(Path(link).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        EXPECT_EQ(ReadFile(Path("real/target.tif")), ExpectedTiff(picture_));
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"chain.tif", "in.bmp", "real", "relative.tif"}));
}

// Writing through a link to nothing would create whatever file the link
// names; plain tools refuse it, and so does a conversion.
TEST_F(OutputSafetyTest, DanglingLinkIsRefused)
{
    ASSERT_EQ(symlink("not-yet.tif", Path("dangling.tif").c_str()), 0);
    errno = 0;
    EXPECT_EQ(ConvertTo(Path("dangling.tif")), KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Names(), (std::vector<std::string>{"dangling.tif", "in.bmp"}));
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

// Asked for regular files only, the library refuses every other kind of
// destination without opening it (a FIFO without a reader would hold the
// call in open() for ever; it must return at once), and still writes
// regular files, new or replaced, and an open one named by /dev/fd.
TEST_F(OutputSafetyTest, RegularFilesOnlyRefusesTheRestUnopened)
{
    ASSERT_EQ(mkfifo(Path("fifo.tif").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(Path("dir.tif").c_str(), 0755), 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = Path("sock.tif");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    ASSERT_EQ(bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    WriteFile(Path("old.tif"), {1, 2, 3});
    const int log = open(Path("log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    struct Case {
        std::string dest;
        int32_t result;
        uint64_t value;  // errno, the reason's value
    };
    const Case cases[] = {
        {Path("fifo.tif"), KESTOVATIFF_ERROR_DESTINATION, ENXIO},
        {"/dev/null", KESTOVATIFF_ERROR_DESTINATION, ENXIO},
        {Path("dir.tif"), KESTOVATIFF_ERROR_DESTINATION, EISDIR},
        {socketPath, KESTOVATIFF_ERROR_DESTINATION, ENXIO},
        {"/dev/fd/" + std::to_string(ends[1]), KESTOVATIFF_ERROR_DESTINATION, ENXIO},
        {Path("old.tif"), KESTOVATIFF_OK, 0},
        {Path("new.tif"), KESTOVATIFF_OK, 0},
        {"/dev/fd/" + std::to_string(log), KESTOVATIFF_OK, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dest);
        KestovaOptions options = {sizeof options, KESTOVA_FLAG_REGULAR_FILES_ONLY, 0, 0, 0, 0, 0};
        std::atomic<int32_t> result{1};
        std::thread call([&] { result = KestovaConvert(Path16("in.bmp").c_str(), U16(c.dest).c_str(), &options); });
        for (int waited = 0; waited < 200 && result == 1; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (result == 1) {  // held in open(): a reader lets it go
            ADD_FAILURE() << "the call waits for a reader";
            close(open(Path("fifo.tif").c_str(), O_RDONLY | O_NONBLOCK));
        }
        call.join();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(options.reason, c.result == KESTOVATIFF_OK ? KESTOVA_REASON_NONE : KESTOVA_REASON_NOT_REGULAR_FILE);
        EXPECT_EQ(options.reasonValue, c.value);
    }
    char got = 0;
    ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    EXPECT_EQ(read(ends[0], &got, 1), -1) << "nothing went down the pipe";
    close(ends[0]);
    close(ends[1]);
    close(log);
    close(socket);
    EXPECT_EQ(ReadFile(Path("old.tif")), ExpectedTiff(picture_));
    EXPECT_EQ(ReadFile(Path("new.tif")), ExpectedTiff(picture_));
    EXPECT_EQ(ReadFile(Path("log")), ExpectedTiff(picture_));
    EXPECT_EQ(Names(), (std::vector<std::string>{"dir.tif", "fifo.tif", "in.bmp", "log", "new.tif", "old.tif",
                                                 "sock.tif"}));
}

// With KESTOVA_FLAG_IN_FOLDER a relative destination is named in the
// caller's open folder, the directory itself whatever its path has become,
// by the rules a path gets (with and without regular files only): new,
// replaced, a link's target, a hard-linked file in place, a dangling link
// and a directory refused; an absolute path ignores the folder. The folder
// stays open, and no descriptor nor file is left behind.
TEST_F(OutputSafetyTest, FolderDescriptorTakesRelativeNames)
{
    ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Path("dir/sub").c_str(), 0755), 0);
    WriteFile(Path("dir/old.tif"), {1, 2, 3});
    ASSERT_EQ(chmod(Path("dir/old.tif").c_str(), 0640), 0);
    WriteFile(Path("dir/target.tif"), {1});
    ASSERT_EQ(symlink("target.tif", Path("dir/link.tif").c_str()), 0);
    WriteFile(Path("dir/hard.tif"), {1});
    ASSERT_EQ(link(Path("dir/hard.tif").c_str(), Path("dir/hard2.tif").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", Path("dir/dangling.tif").c_str()), 0);
    const int folder = open(Path("dir").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(rename(Path("dir").c_str(), Path("moved").c_str()), 0);
    const ino_t hard = Inode(Path("moved/hard.tif"));
    auto openFiles = [] {
        int count = 0;
        DIR* fds = opendir("/proc/self/fd");
        while (fds != nullptr && readdir(fds) != nullptr) {
            ++count;
        }
        if (fds != nullptr) {
            closedir(fds);
        }
        return count;
    };
    const struct {
        std::string dest;
        int32_t result;
        std::string written;  // where the picture is found after the call
    } cases[] = {
        {"new.tif", KESTOVATIFF_OK, "moved/new.tif"},   {"sub/new.tif", KESTOVATIFF_OK, "moved/sub/new.tif"},
        {"old.tif", KESTOVATIFF_OK, "moved/old.tif"},   {"link.tif", KESTOVATIFF_OK, "moved/target.tif"},
        {"hard.tif", KESTOVATIFF_OK, "moved/hard2.tif"}, {"dangling.tif", KESTOVATIFF_ERROR_DESTINATION, ""},
        {"sub", KESTOVATIFF_ERROR_DESTINATION, ""},     {Path("abs.tif"), KESTOVATIFF_OK, "abs.tif"},
    };
    for (const uint32_t flags : {0u, KESTOVA_FLAG_REGULAR_FILES_ONLY}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.dest + (flags != 0 ? ", regular files only" : ""));
            const int before = openFiles();
            KestovaOptions options = {sizeof options, KESTOVA_FLAG_IN_FOLDER | flags, 0, 0, 0, 0, folder};
            EXPECT_EQ(KestovaConvert(Path16("in.bmp").c_str(), U16(c.dest).c_str(), &options), c.result);
            if (!c.written.empty()) {
                EXPECT_EQ(ReadFile(Path(c.written)), ExpectedTiff(picture_));
            }
            EXPECT_NE(fcntl(folder, F_GETFD), -1) << "the folder stays open";
            EXPECT_EQ(openFiles(), before);
        }
    }
    // An absolute path with a folder number that is not open: a descriptor
    // the call opens may get that number, and is closed all the same.
    const int first = dup(folder);  // the source will take the lowest free number
    const int unused = dup(folder);
    close(first);
    close(unused);
    const int before = openFiles();
    KestovaOptions options = {sizeof options, KESTOVA_FLAG_IN_FOLDER, 0, 0, 0, 0, unused};
    EXPECT_EQ(KestovaConvert(Path16("in.bmp").c_str(), U16(Path("abs2.tif")).c_str(), &options), KESTOVATIFF_OK);
    EXPECT_EQ(openFiles(), before);
    EXPECT_EQ(fcntl(unused, F_GETFD), -1);
    close(folder);
    EXPECT_EQ(Mode(Path("moved/old.tif")), 0640u);
    EXPECT_EQ(Inode(Path("moved/hard.tif")), hard);
    struct stat entry {};
    ASSERT_EQ(lstat(Path("moved/link.tif").c_str(), &entry), 0);
    EXPECT_TRUE(S_ISLNK(entry.st_mode));
    EXPECT_EQ(Names("moved"), (std::vector<std::string>{"dangling.tif", "hard.tif", "hard2.tif", "link.tif",
                                                        "new.tif", "old.tif", "sub", "target.tif"}));
    EXPECT_EQ(Names("moved/sub"), (std::vector<std::string>{"new.tif"}));
}

// An open file named through /dev/fd or /proc is the caller's own: the
// picture goes through that descriptor, at its position, as a shell
// redirection would write it, and the file is not replaced.
TEST_F(OutputSafetyTest, OpenDescriptorsAreWrittenAtTheirPosition)
{
    const Bytes tiff = ExpectedTiff(picture_);
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/", "//dev/./fd/", "/proc/self/../self/fd/"}) {
        SCOPED_TRACE(prefix);
        const int file = open(Path("log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(file, 0);
        ASSERT_EQ(write(file, "a", 1), 1);
        struct stat before {};
        ASSERT_EQ(fstat(file, &before), 0);
        EXPECT_EQ(ConvertTo(prefix + std::to_string(file)), KESTOVATIFF_OK);
        ASSERT_EQ(write(file, "b", 1), 1);
        close(file);
        Bytes expected = {'a'};
        expected.insert(expected.end(), tiff.begin(), tiff.end());
        expected.push_back('b');
        EXPECT_EQ(ReadFile(Path("log")), expected);
        struct stat after {};
        ASSERT_EQ(stat(Path("log").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);

        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        EXPECT_EQ(ConvertTo(prefix + std::to_string(ends[1])), KESTOVATIFF_OK);
        close(ends[1]);
        Bytes piped(tiff.size() + 1);
        EXPECT_EQ(read(ends[0], piped.data(), piped.size()), static_cast<ssize_t>(tiff.size()));
        piped.resize(tiff.size());
        EXPECT_EQ(piped, tiff);
        close(ends[0]);
    }
}

// A pipe the caller made non-blocking, and a picture larger than the pipe
// holds: the library waits for the reader instead of failing with EAGAIN.
TEST_F(OutputSafetyTest, NonBlockingPipeIsWaitedOn)
{
    const Picture large = MakePicture(300, 300);  // 270 KB: four times what a pipe holds
    WriteFile(Path("large.bmp"), BmpFile(large));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    Bytes piped;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the pipe fill
        uint8_t block[4096];
        ssize_t got;
        while ((got = read(ends[0], block, sizeof block)) > 0) {
            piped.insert(piped.end(), block, block + got);
        }
    });
    const int32_t result =
        Bmp2Tiff(Path16("large.bmp").c_str(), U16("/dev/fd/" + std::to_string(ends[1])).c_str());
    close(ends[1]);
    reader.join();
    close(ends[0]);
    EXPECT_EQ(result, KESTOVATIFF_OK);
    EXPECT_EQ(piped, ExpectedTiff(large));
}

TEST_F(OutputSafetyTest, ConvertingAFileOntoItselfWorks)
{
    EXPECT_EQ(ConvertTo(Path("in.bmp")), KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("in.bmp")), ExpectedTiff(picture_));
    EXPECT_EQ(Names(), std::vector<std::string>{"in.bmp"});
    // With a second name it is written in place, from the finished picture.
    WriteFile(Path("in.bmp"), BmpFile(picture_));
    ASSERT_EQ(link(Path("in.bmp").c_str(), Path("same.bmp").c_str()), 0);
    EXPECT_EQ(ConvertTo(Path("in.bmp")), KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("same.bmp")), ExpectedTiff(picture_));
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
