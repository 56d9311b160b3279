// Faults the OS raises in the middle of a conversion, and permissions root
// would bypass: each in a child process (with privileges dropped where it
// matters), with the result and errno checked, nothing left behind and an
// existing destination byte for byte as it was.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "bmp_forms.h"
#include "child_process.h"
#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

constexpr uid_t kOwner = 65534;    // nobody: owns the files at stake
constexpr uid_t kOther = 65533;    // another user, who converts onto them
constexpr gid_t kProject = 4242;   // a group both share

struct stat StatOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
}

// For InChild: files may grow to 100,000 bytes, and a write past that
// fails with EFBIG rather than ending the process.
void LimitFileSize()
{
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
}

class FaultTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);  // reachable once privileges are dropped
        picture_ = MakePicture(300, 200);          // a 180000-byte TIFF
        WriteFile(Path("in.bmp"), BmpFile(picture_));
        ASSERT_EQ(chmod(Path("in.bmp").c_str(), 0644), 0);
        WriteFile(Path("out.tif"), kOld);
        ASSERT_EQ(chmod(Path("out.tif").c_str(), 0666), 0);
    }

    int32_t Convert(const std::string& source, const std::string& dest)
    {
        return Bmp2Tiff(U16(source).c_str(), U16(dest).c_str());
    }

    void ExpectNothingTouched(const std::vector<std::string>& names)
    {
        EXPECT_EQ(ReadFile(Path("out.tif")), kOld);
        EXPECT_EQ(Names(), names);
    }

    // Converts in.bmp onto `disk`/out.tif, which holds `old` (then a hole
    // up to `length`, if longer) and has a second name, other.tif, once
    // `mountDisk` has mounted a small file system at `disk` in a private
    // mount namespace and `fill` has taken some of its room. The child
    // fails unless both names hold what they held, in as many blocks.
    Outcome ConvertOntoSmallDisk(const std::string& disk, const Bytes& old, const std::function<bool()>& mountDisk,
                                 const std::function<bool()>& fill = [] { return true; }, size_t length = 0)
    {
        Bytes expected = old;
        expected.resize(length > old.size() ? length : old.size());
        return InChild(
            [&] {
                if (!PrivateMounts() || !mountDisk()) {
                    _exit(3);
                }
                WriteFile(disk + "/out.tif", old);
                if (truncate((disk + "/out.tif").c_str(), static_cast<off_t>(expected.size())) != 0 ||
                    link((disk + "/out.tif").c_str(), (disk + "/other.tif").c_str()) != 0 || !fill()) {
                    _exit(3);
                }
            },
            [&] {
                const blkcnt_t blocks = StatOf(disk + "/out.tif").st_blocks;
                const int32_t result = Convert(Path("in.bmp"), disk + "/out.tif");
                const int error = errno;
                if (ReadFile(disk + "/out.tif") != expected || ReadFile(disk + "/other.tif") != expected) {
                    _exit(4);
                }
                if (StatOf(disk + "/out.tif").st_blocks != blocks) {
                    _exit(5);  // holes filled and left so
                }
                errno = error;
                return result;
            });
    }

    // Writes the file `path` until its disk is full, and keeps it open:
    // the descriptor, or -1.
    static int FillDisk(const std::string& path, off_t& filled)
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const Bytes block(65536, 'f');
        filled = 0;
        for (ssize_t put = 0; fd >= 0 && (put = write(fd, block.data(), block.size())) > 0;) {
            filled += put;
        }
        return fd;
    }

    const Bytes kOld = {'o', 'l', 'd'};
    Picture picture_;
};

// Past the file-size limit a write fails with EFBIG and raises SIGXFSZ,
// which kills by default: the call gives -5 whatever the host does with
// the signal, and leaves the thread's signals as they were (one the host
// had blocked and pending stays so). A host that ignores it and says so
// (KESTOVA_FLAG_WRITE_SIGNALS_IGNORED) gets the same.
TEST_F(FaultTest, WriteFailsWhenTheFileSizeLimitIsHit)
{
    enum class Host { Ignores, Default, BlockedPending, IgnoresAndSays };
    // Replaced by rename, and (with a second name) written in place.
    for (const bool linked : {false, true}) {
        if (linked) {
            ASSERT_EQ(link(Path("out.tif").c_str(), Path("other.tif").c_str()), 0);
        }
        for (const Host host : {Host::Ignores, Host::Default, Host::BlockedPending, Host::IgnoresAndSays}) {
            SCOPED_TRACE(std::string(linked ? "hard-linked destination, " : "destination, ") +
                         std::to_string(static_cast<int>(host)));
            const Outcome outcome = InChild(
                [&] {
                    signal(SIGXFSZ, host == Host::Ignores || host == Host::IgnoresAndSays ? SIG_IGN : SIG_DFL);
                    const rlimit limit = {100000, 100000};
                    setrlimit(RLIMIT_FSIZE, &limit);
                },
                [&] {
                    sigset_t set;
                    sigemptyset(&set);
                    sigaddset(&set, SIGXFSZ);
                    if (host == Host::BlockedPending) {
                        sigprocmask(SIG_BLOCK, &set, nullptr);
                        raise(SIGXFSZ);
                    }
                    KestovaOptions says = {sizeof says, KESTOVA_FLAG_WRITE_SIGNALS_IGNORED, 0, 0, 0, 0, 0};
                    const int32_t result =
                        host == Host::IgnoresAndSays
                            ? KestovaConvert(U16(Path("in.bmp")).c_str(), U16(Path("out.tif")).c_str(), &says)
                            : Convert(Path("in.bmp"), Path("out.tif"));
                    const int error = errno;
                    sigset_t pending;
                    sigset_t mask;
                    sigpending(&pending);
                    sigprocmask(SIG_BLOCK, nullptr, &mask);
                    const bool hostBlocked = host == Host::BlockedPending;
                    if (sigismember(&pending, SIGXFSZ) != hostBlocked || sigismember(&mask, SIGXFSZ) != hostBlocked) {
                        _exit(4);
                    }
                    errno = error;
                    return result;
                });
            EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
            EXPECT_EQ(outcome.error, EFBIG);
        }
    }
    EXPECT_EQ(ReadFile(Path("other.tif")), kOld);
    ExpectNothingTouched({"in.bmp", "other.tif", "out.tif"});
    // The same limit met by the temporary file of a TIFF's separate planes
    // (180000 bytes of them) is no want of scratch space.
    TiffForm form;
    form.compression = 32773;
    form.planar = true;
    WriteFile(Path("in.tif"), TiffFile(MakePicture(300, 200), form));
    const Outcome outcome =
        InChild(LimitFileSize, [&] { return Tiff2Bmp(U16(Path("in.tif")).c_str(), U16(Path("out.bmp")).c_str()); });
    EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(outcome.error, EFBIG);
    ExpectNothingTouched({"in.bmp", "in.tif", "other.tif", "out.tif"});
}

// Run-length BMPs whose codes leave the rest of the picture to fill (an
// early end of the picture, a delta past the last row): the first write
// that fails ends the conversion as a destination failure, as on every
// other path, not after filling every remaining row.
TEST_F(FaultTest, RunLengthPictureStopsAtTheFailedWrite)
{
    const struct {
        const char* name;
        Bytes codes;
    } cases[] = {{"end of the picture", {0, 1}}, {"delta past the last row", {0, 2, 0, 255}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteBmp form;  // a 1.2 MB TIFF from a few bytes
        form.width = 2000;
        form.height = 200;
        form.compression = kBiRle8;
        form.palette = {0x102030};
        form.pixelData = c.codes;
        WriteFile(Path("in.bmp"), BmpFile(form));
        const Outcome outcome = InChild(LimitFileSize, [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
        EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
        EXPECT_EQ(outcome.error, EFBIG);
        ExpectNothingTouched({"in.bmp", "out.tif"});
    }
}

TEST_F(FaultTest, FullDeviceFailsTheWrite)
{
    errno = 0;
    EXPECT_EQ(Convert(Path("in.bmp"), "/dev/full"), KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(errno, ENOSPC);
}

TEST_F(FaultTest, UnreadableSourceIsRefused)
{
    ASSERT_EQ(chmod(Path("in.bmp").c_str(), 0), 0);
    const Outcome outcome = InChild(DropPrivileges, [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
    EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_SOURCE);
    EXPECT_EQ(outcome.error, EACCES);
    ExpectNothingTouched({"in.bmp", "out.tif"});
}

TEST_F(FaultTest, DirectoryNotWritableRefusesNewFilesButNotWritableOnes)
{
    // A plain program may write into a writable file whose directory it
    // may not change; so may a conversion, in place, staged elsewhere.
    ASSERT_EQ(mkdir(Path("tmp").c_str(), 0777), 0);
    ASSERT_EQ(chmod(Path("tmp").c_str(), 0777), 0);
    const ino_t inode = StatOf(Path("out.tif")).st_ino;
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    auto asNobody = [&] {
        DropPrivileges();
        setenv("TMPDIR", Path("tmp").c_str(), 1);
    };
    const Outcome created = InChild(asNobody, [&] { return Convert(Path("in.bmp"), Path("new.tif")); });
    const Outcome replaced = InChild(asNobody, [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    EXPECT_EQ(created.result, KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(created.error, EACCES);
    EXPECT_EQ(replaced.result, KESTOVATIFF_OK);
    EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(picture_));
    EXPECT_EQ(StatOf(Path("out.tif")).st_ino, inode);
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "out.tif", "tmp"}));
    EXPECT_EQ(rmdir(Path("tmp").c_str()), 0) << "a staging file was left in TMPDIR";
}

TEST_F(FaultTest, ReadOnlyDestinationIsNotReplaced)
{
    ASSERT_EQ(chmod(Path("out.tif").c_str(), 0444), 0);
    const Outcome outcome = InChild(DropPrivileges, [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
    EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(outcome.error, EACCES);
    ExpectNothingTouched({"in.bmp", "out.tif"});
}

TEST_F(FaultTest, SourceShorterThanItsRowsIsRefusedBeforeWriting)
{
    Bytes bmp = BmpFile(picture_);
    bmp.resize(bmp.size() / 2);  // cut in the middle of the rows
    WriteFile(Path("in.bmp"), bmp);
    EXPECT_EQ(Convert(Path("in.bmp"), Path("out.tif")), KESTOVATIFF_ERROR_FORMAT);
    ExpectNothingTouched({"in.bmp", "out.tif"});
}

// Links and files another user planted in a sticky, world-writable
// directory (/tmp): the kernel refuses to follow or write into them for a
// plain open(), and so for a conversion.
TEST_F(FaultTest, KernelProtectionsInSharedDirectoriesHold)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as two users";
    }
    Sysctl links("/proc/sys/fs/protected_symlinks", "1");
    Sysctl regular("/proc/sys/fs/protected_regular", "1");
    Sysctl fifos("/proc/sys/fs/protected_fifos", "1");
    if (!links.ok() || !regular.ok() || !fifos.ok()) {
        GTEST_SKIP() << "cannot set fs.protected_symlinks, _regular and _fifos here";
    }
    ASSERT_EQ(mkdir(Path("shared").c_str(), 0), 0);
    ASSERT_EQ(chmod(Path("shared").c_str(), 01777), 0);
    ASSERT_EQ(chown(Path("out.tif").c_str(), kOwner, kOwner), 0);
    ASSERT_EQ(symlink(Path("out.tif").c_str(), Path("shared/planted.tif").c_str()), 0);
    ASSERT_EQ(symlink(Path("made.tif").c_str(), Path("shared/dangling.tif").c_str()), 0);
    WriteFile(Path("shared/theirs.tif"), kOld);
    ASSERT_EQ(chmod(Path("shared/theirs.tif").c_str(), 0666), 0);
    ASSERT_EQ(mkfifo(Path("shared/fifo.tif").c_str(), 0), 0);
    ASSERT_EQ(chmod(Path("shared/fifo.tif").c_str(), 0666), 0);
    const char* const planted[] = {"shared/planted.tif", "shared/dangling.tif", "shared/theirs.tif",
                                   "shared/fifo.tif"};
    for (const char* name : planted) {
        ASSERT_EQ(lchown(Path(name).c_str(), kOther, kOther), 0);
    }
    for (const char* name : planted) {
        SCOPED_TRACE(name);
        const Outcome outcome = InChild(DropPrivileges, [&] { return Convert(Path("in.bmp"), Path(name)); });
        EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
        EXPECT_EQ(outcome.error, EACCES);
    }
    EXPECT_EQ(ReadFile(Path("shared/theirs.tif")), kOld);
    ExpectNothingTouched({"in.bmp", "out.tif", "shared"});
}

TEST_F(FaultTest, OwnerGroupAndModeSurviveWhoeverConverts)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as several users";
    }
    struct Case {
        const char* who;
        uid_t uid;       // 0: root itself
        mode_t mode;
    };
    // Root can give the new file away; the other user cannot, and writes
    // into the shared file in place.
    for (const Case& c : {Case{"root", 0, 0640}, Case{"a member of the file's group", kOther, 0660}}) {
        SCOPED_TRACE(c.who);
        WriteFile(Path("out.tif"), kOld);
        ASSERT_EQ(chown(Path("out.tif").c_str(), kOwner, kProject), 0);
        ASSERT_EQ(chmod(Path("out.tif").c_str(), c.mode), 0);
        const Outcome outcome = InChild(
            [&] {
                if (c.uid != 0) {
                    BecomeUser(c.uid, c.uid, {kProject});
                }
            },
            [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
        EXPECT_EQ(outcome.result, KESTOVATIFF_OK);
        const struct stat info = StatOf(Path("out.tif"));
        EXPECT_EQ(info.st_uid, kOwner);
        EXPECT_EQ(info.st_gid, kProject);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
        EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(picture_));
        EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "out.tif"}));
    }
}

// What a rename cannot keep makes the conversion write in place: an
// attribute the caller may read but not set, a file that is a mount point
// (the rename is refused), one in a read-only directory (nothing can be
// staged beside it).
TEST_F(FaultTest, WhatARenameWouldLoseIsWrittenInPlace)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to set security attributes and mount";
    }
    ASSERT_EQ(chown(Path("out.tif").c_str(), kOwner, kOwner), 0);
    if (setxattr(Path("out.tif").c_str(), "security.kestova", "kept", 4, 0) != 0) {
        GTEST_SKIP() << "no security attributes here: " << std::strerror(errno);
    }
    const ino_t inode = StatOf(Path("out.tif")).st_ino;
    const Outcome attribute =
        InChild(DropPrivileges, [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
    EXPECT_EQ(attribute.result, KESTOVATIFF_OK);
    EXPECT_EQ(StatOf(Path("out.tif")).st_ino, inode);
    char value[8] = {};
    EXPECT_EQ(getxattr(Path("out.tif").c_str(), "security.kestova", value, sizeof value), 4);
    EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(picture_));

    // In a private mount namespace, gone with the child: the file under
    // test is a bind mount of backing.tif.
    for (const bool readOnlyDirectory : {false, true}) {
        SCOPED_TRACE(readOnlyDirectory ? "in a read-only directory" : "a mount point");
        ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
        WriteFile(Path("dir/out.tif"), kOld);
        WriteFile(Path("backing.tif"), kOld);
        const Outcome mounted = InChild(
            [&] {
                const std::string dir = Path("dir");
                if (!PrivateMounts() ||
                    (readOnlyDirectory &&
                     (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                      mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)) ||
                    mount(Path("backing.tif").c_str(), Path("dir/out.tif").c_str(), nullptr, MS_BIND, nullptr) != 0) {
                    _exit(3);
                }
            },
            [&] { return Convert(Path("in.bmp"), Path("dir/out.tif")); });
        EXPECT_EQ(mounted.result, KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(Path("backing.tif")), ExpectedTiff(picture_));
        ASSERT_EQ(unlink(Path("dir/out.tif").c_str()), 0);
        ASSERT_EQ(rmdir(Path("dir").c_str()), 0) << "a staging file was left beside it";
        ASSERT_EQ(unlink(Path("backing.tif").c_str()), 0);
    }
}

// Written in place, the new picture first claims its space: on a full file
// system the conversion fails before the old content is touched.
TEST_F(FaultTest, InPlaceWriteFindsAFullDiskFirst)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a small file system";
    }
    const Picture large = MakePicture(400, 200);  // a 240206-byte TIFF
    WriteFile(Path("in.bmp"), BmpFile(large));
    ASSERT_EQ(mkdir(Path("small").c_str(), 0755), 0);
    // 100 pages hold the staged picture (59 pages) but not its copy as well.
    const Outcome outcome = ConvertOntoSmallDisk(Path("small"), kOld, [&] {
        return mount("kestova", Path("small").c_str(), "tmpfs", 0, "size=400k") == 0;
    });
    if (outcome.result == 0) {
        GTEST_SKIP() << "cannot mount tmpfs here";
    }
    EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(outcome.error, ENOSPC);
}

// ext3, which today's kernels mount with the ext4 driver, cannot reserve
// space for a file (fallocate gives EOPNOTSUPP). A file written in place
// on such a disk that fills up keeps every old byte under both its names.
TEST_F(FaultTest, InPlaceWriteOnExt3KeepsTheOldFileWhenTheDiskFills)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a file system image";
    }
    if (std::system("command -v mkfs.ext3 >/dev/null") != 0) {
        GTEST_SKIP() << "no mkfs.ext3 here (package e2fsprogs)";
    }
    WriteFile(Path("in.bmp"), BmpFile(MakePicture(400, 200)));  // a 240206-byte TIFF
    ASSERT_EQ(mkdir(Path("disk").c_str(), 0755), 0);
    WriteFile(Path("ext3.img"), {});
    ASSERT_EQ(truncate(Path("ext3.img").c_str(), off_t{4} << 20), 0);
    Bytes old(100000);
    for (size_t i = 0; i < old.size(); ++i) {
        old[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    const auto mountDisk = [&] {
        return std::system(("mount -o loop " + Path("ext3.img") + " " + Path("disk")).c_str()) == 0;
    };
    // Filled up, then 300 KiB given back: room for the staged picture, not
    // for the 140 KiB it has past the old end too, nor for the 140 KiB of
    // holes it would overwrite in an old file of 300,000 bytes (whose
    // blocks the failed call gives back).
    const auto fill = [&] {
        off_t filled = 0;
        const int filler = FillDisk(Path("disk/filler"), filled);
        const off_t room = off_t{300} << 10;
        return filled > room && ftruncate(filler, filled - room) == 0 && fsync(filler) == 0 && close(filler) == 0;
    };
    for (const size_t length : {size_t{0}, size_t{300000}}) {
        SCOPED_TRACE(length);
        ASSERT_EQ(std::system(("mkfs.ext3 -q -F " + Path("ext3.img") + " >/dev/null").c_str()), 0);
        const Outcome outcome = ConvertOntoSmallDisk(Path("disk"), old, mountDisk, fill, length);
        EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
        EXPECT_EQ(outcome.error, ENOSPC);
    }
}

// A TIFF with compressed separate planes is decoded into a temporary file
// first. A $TMPDIR that is missing, not a folder or not writable is passed
// over for /tmp.
TEST_F(FaultTest, UnusableTemporaryFolderIsPassedOver)
{
    const Picture picture = MakePicture(300, 200);  // planes of 180000 bytes
    TiffForm form;
    form.compression = 32773;
    form.planar = true;
    WriteFile(Path("in.tif"), TiffFile(picture, form));
    ASSERT_EQ(chmod(Path("in.tif").c_str(), 0644), 0);
    WriteFile(Path("file"), kOld);
    ASSERT_EQ(mkdir(Path("read-only").c_str(), 0555), 0);
    for (const char* tmpdir : {"missing", "file", "read-only"}) {
        SCOPED_TRACE(tmpdir);
        const Outcome outcome = InChild(
            [&] {
                DropPrivileges();
                setenv("TMPDIR", Path(tmpdir).c_str(), 1);
            },
            [&] { return Tiff2Bmp(U16(Path("in.tif")).c_str(), U16(Path("out.bmp")).c_str()); });
        EXPECT_EQ(outcome.result, KESTOVATIFF_OK);
        EXPECT_EQ(ReadFile(Path("out.bmp")), BmpFile(picture));
        ASSERT_EQ(unlink(Path("out.bmp").c_str()), 0);
    }
}

// A full $TMPDIR is passed over too, for /tmp or the destination's folder,
// also where its file system cannot reserve space (ext3); so it is for the
// copy of a picture written in place, where the destination's folder is
// not writable. Where none has room, errno ENOSR says that the temporary
// file failed, not the destination.
TEST_F(FaultTest, FullTemporaryFolderIsPassedOverOrNamed)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount small file systems";
    }
    if (std::system("command -v mkfs.ext3 >/dev/null") != 0) {
        GTEST_SKIP() << "no mkfs.ext3 here (package e2fsprogs)";
    }
    WriteFile(Path("ext3.img"), {});
    ASSERT_EQ(truncate(Path("ext3.img").c_str(), off_t{4} << 20), 0);
    ASSERT_EQ(std::system(("mkfs.ext3 -q -F " + Path("ext3.img") + " >/dev/null").c_str()), 0);
    ASSERT_EQ(mkdir(Path("rodir").c_str(), 0755), 0);  // root's: no staging file beside rodir/out.bmp
    WriteFile(Path("rodir/out.bmp"), kOld);
    ASSERT_EQ(chown(Path("rodir/out.bmp").c_str(), kOwner, kOwner), 0);
    const Picture picture = MakePicture(300, 200);  // planes of 180000 bytes
    TiffForm form;
    form.compression = 8;
    form.planar = true;
    form.tileSide = 64;
    WriteFile(Path("in.tif"), TiffFile(picture, form));
    ASSERT_EQ(chmod(Path("in.tif").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(Path("full").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Path("room").c_str(), 0755), 0);
    struct Case {
        const char* room;  // where the temporary files go
        bool ext3;         // the full $TMPDIR cannot reserve space
        bool tmpReadOnly;
        const char* dest;  // rodir/out.bmp is written in place by its owner
        int32_t result;
    };
    const Case cases[] = {
        {"/tmp", false, false, "out.bmp", KESTOVATIFF_OK},
        {"/tmp, past a full ext3", true, false, "out.bmp", KESTOVATIFF_OK},
        {"/tmp, for a copy written in place", false, false, "rodir/out.bmp", KESTOVATIFF_OK},
        {"the destination's folder", false, true, "room/out.bmp", KESTOVATIFF_OK},
        {"nowhere", false, true, "full/out.bmp", KESTOVATIFF_ERROR_DESTINATION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        const Outcome outcome = InChild(
            [&] {
                off_t filled = 0;
                if (!PrivateMounts() ||
                    (c.ext3 ? std::system(("mount -o loop " + Path("ext3.img") + " " + Path("full")).c_str())
                            : mount("kestova", Path("full").c_str(), "tmpfs", 0, "size=64k")) != 0 ||
                    mount("kestova", Path("room").c_str(), "tmpfs", 0, "size=1m") != 0 ||
                    FillDisk(Path("full/filler"), filled) < 0) {
                    _exit(3);
                }
                if (c.tmpReadOnly && !ReadOnlyTmp()) {
                    _exit(3);
                }
                setenv("TMPDIR", Path("full").c_str(), 1);
                if (std::string(c.dest) == "rodir/out.bmp") {
                    DropPrivileges();
                }
            },
            [&] {
                const int32_t result = Tiff2Bmp(U16(Path("in.tif")).c_str(), U16(Path(c.dest)).c_str());
                const int error = errno;
                const std::vector<std::string> left = c.ext3 ? std::vector<std::string>{"filler", "lost+found"}
                                                             : std::vector<std::string>{"filler"};
                if (Names("full") != left ||
                    (result == KESTOVATIFF_OK && ReadFile(Path(c.dest)) != BmpFile(picture))) {
                    _exit(4);
                }
                errno = error;
                return result;
            });
        EXPECT_EQ(outcome.result, c.result);
        if (c.result != KESTOVATIFF_OK) {
            EXPECT_EQ(outcome.error, ENOSR);
        }
    }
}

// A conversion killed at any moment leaves no file: the picture is written
// to an unnamed file, which the kernel removes with the process.
TEST_F(FaultTest, KilledConversionLeavesNothingBehind)
{
    // 768 MB of pixels in a sparse file: reading it costs nothing, and the
    // conversion is still writing when it is killed.
    constexpr uint32_t kSide = 16000;
    Bytes header = BmpFile(MakePicture(kSide, 0));
    header[22] = kSide & 0xFF;  // biHeight, now that the rows are not built
    header[23] = kSide >> 8;
    WriteFile(Path("in.bmp"), header);
    ASSERT_EQ(truncate(Path("in.bmp").c_str(), static_cast<off_t>(54 + 3ull * kSide * kSide)), 0);

    for (const char* dest : {"new.tif", "out.tif"}) {
        SCOPED_TRACE(dest);
        const pid_t child = fork();
        if (child == 0) {
            _exit(Convert(Path("in.bmp"), Path(dest)) == KESTOVATIFF_OK ? 0 : 1);
        }
        // Wait until the child holds the unfinished picture, then kill it.
        const std::string fds = "/proc/" + std::to_string(child) + "/fd";
        bool staging = false;
        for (int wait = 0; wait < 20000 && !staging; ++wait) {
            if (DIR* list = opendir(fds.c_str())) {
                while (const dirent* entry = readdir(list)) {
                    char target[4096] = {};
                    const std::string link = fds + "/" + entry->d_name;
                    // Any file in the directory but the source and the destinations.
                    if (readlink(link.c_str(), target, sizeof target - 1) > 0) {
                        const std::string name = target;
                        staging = staging || (name.rfind(dir_ + "/", 0) == 0 && name != Path("in.bmp") &&
                                              name != Path("out.tif") && name != Path("new.tif"));
                    }
                }
                closedir(list);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(staging) << "the conversion never opened its output";
        EXPECT_TRUE(WIFSIGNALED(status)) << "the conversion ended before it could be killed";
        ExpectNothingTouched({"in.bmp", "out.tif"});
    }
}

// A closed pipe gives EPIPE and leaves the thread's signals as they were:
// nothing pending that was not, and a SIGPIPE the host had blocked and
// pending before the call still so after it.
TEST_F(FaultTest, ClosedPipeIsAnErrorNotASignal)
{
    for (const bool hostBlocked : {false, true}) {
        SCOPED_TRACE(hostBlocked ? "SIGPIPE blocked and pending before" : "SIGPIPE as by default");
        const Outcome outcome = InChild([] { signal(SIGPIPE, SIG_DFL); },
                                        [&] {
                                            sigset_t pipeSet;
                                            sigemptyset(&pipeSet);
                                            sigaddset(&pipeSet, SIGPIPE);
                                            if (hostBlocked) {
                                                sigprocmask(SIG_BLOCK, &pipeSet, nullptr);
                                                raise(SIGPIPE);
                                            }
                                            int ends[2];
                                            if (pipe(ends) != 0 || close(ends[0]) != 0) {
                                                _exit(3);
                                            }
                                            const int32_t result =
                                                Convert(Path("in.bmp"), "/dev/fd/" + std::to_string(ends[1]));
                                            const int error = errno;
                                            sigset_t pending;
                                            sigset_t mask;
                                            sigpending(&pending);
                                            sigprocmask(SIG_BLOCK, nullptr, &mask);
                                            if (sigismember(&pending, SIGPIPE) != hostBlocked ||
                                                sigismember(&mask, SIGPIPE) != hostBlocked) {
                                                _exit(4);
                                            }
                                            errno = error;
                                            return result;
                                        });
        EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
        EXPECT_EQ(outcome.error, EPIPE);
    }
}

TEST_F(FaultTest, FifoOrDeviceSourceIsRefusedWithoutWaiting)
{
    ASSERT_EQ(mkfifo(Path("in.fifo").c_str(), 0644), 0);
    for (const std::string& source : {Path("in.fifo"), std::string("/dev/zero")}) {
        SCOPED_TRACE(source);
        const Outcome outcome = InChild([] { alarm(10); }, [&] { return Convert(source, Path("out.tif")); });
        EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_SOURCE);
        EXPECT_EQ(outcome.error, ESPIPE);
    }
    ExpectNothingTouched({"in.bmp", "in.fifo", "out.tif"});
}

}  // namespace
}  // namespace testing_files
