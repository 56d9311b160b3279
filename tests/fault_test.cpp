// Faults the OS raises in the middle of a conversion, and permissions root
// would bypass: each in a child process (with privileges dropped where it
// matters), with the result and errno checked, nothing left behind and an
// existing destination byte for byte as it was.

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "kestovatiff.h"
#include "test_files.h"

namespace testing_files {
namespace {

struct Outcome {
    int32_t result = 0;
    int error = 0;
};

// Runs `convert` in a child process, after `prepare` (which sets limits or
// drops privileges there), and brings back its result and errno.
Outcome InChild(const std::function<void()>& prepare, const std::function<int32_t()>& convert)
{
    int channel[2];
    if (pipe(channel) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        prepare();
        errno = 0;
        Outcome outcome;
        outcome.result = convert();
        outcome.error = errno;
        const bool sent = write(channel[1], &outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    Outcome outcome;
    const bool received = read(channel[0], &outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(received && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child did not report";
    return outcome;
}

// Root reads and writes whatever it likes; an ordinary user does not.
void DropPrivileges()
{
    if (geteuid() == 0) {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
            _exit(3);
        }
    }
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

    const Bytes kOld = {'o', 'l', 'd'};
    Picture picture_;
};

TEST_F(FaultTest, WriteFailsWhenTheFileSizeLimitIsHit)
{
    const Outcome outcome = InChild(
        [] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit = {100000, 100000};
            setrlimit(RLIMIT_FSIZE, &limit);
        },
        [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
    EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(outcome.error, EFBIG);
    ExpectNothingTouched({"in.bmp", "out.tif"});
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

TEST_F(FaultTest, DestinationDirectoryNotWritableIsRefused)
{
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    const Outcome outcome = InChild(DropPrivileges, [&] { return Convert(Path("in.bmp"), Path("out.tif")); });
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    EXPECT_EQ(outcome.result, KESTOVATIFF_ERROR_DESTINATION);
    EXPECT_EQ(outcome.error, EACCES);
    ExpectNothingTouched({"in.bmp", "out.tif"});
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

}  // namespace
}  // namespace testing_files
