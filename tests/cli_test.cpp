// The command-line host as a user runs it: exit status and messages.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "test_files.h"

namespace testing_files {
namespace {

class CliTest : public ScratchDir {
protected:
    struct Run {
        int status;
        std::string out;
        std::string err;
    };

    Run Cli(const std::string& args)
    {
        const std::string command = std::string(KESTOVATIFF_CLI_LAUNCHER) + " '" + KESTOVATIFF_CLI + "' " + args + " >'" +
                                    Path("stdout") + "' 2>'" + Path("stderr") + "'";
        const int raw = std::system(command.c_str());
        const Bytes out = ReadFile(Path("stdout"));
        const Bytes err = ReadFile(Path("stderr"));
        std::remove(Path("stdout").c_str());
        std::remove(Path("stderr").c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(out.begin(), out.end()),
                std::string(err.begin(), err.end())};
    }

    std::string Quoted(const std::string& name) { return "'" + Path(name) + "'"; }
};

TEST_F(CliTest, UsageHelpAndVersion)
{
    struct Case {
        std::string args;
        int status;
        const char* stdoutHas;
        const char* stderrHas;
    };
    const Case cases[] = {
        {"--help", 0, "usage: kestovatiff [--padded] [--] SOURCE DEST", ""},
        {"--help", 0, "  --padded ", ""},
        {"--version", 0, "kestovatiff 1.0.0.1", ""},
        {"", 2, "", "expected a SOURCE and a DEST"},
        {"a.bmp", 2, "", "expected a SOURCE and a DEST"},
        {"a b c", 2, "", "expected a SOURCE and a DEST"},
        {"--fast a b", 2, "", "unknown option --fast"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Run run = Cli(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.out.find(c.stdoutHas), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.stderrHas), std::string::npos) << run.err;
    }
}

TEST_F(CliTest, ConvertsEitherWayAndSaysNothing)
{
    const Picture picture = MakePicture(7, 3);
    WriteFile(Path("in.bmp"), BmpFile(picture));
    Run run = Cli(Quoted("in.bmp") + " " + Quoted("out.tif"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err + run.out, "");
    EXPECT_EQ(ReadFile(Path("out.tif")), ExpectedTiff(picture));

    run = Cli(Quoted("out.tif") + " " + Quoted("back.bmp"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err + run.out, "");
    EXPECT_EQ(ReadFile(Path("back.bmp")), BmpFile(picture));
}

// BigTIFF starts "II", 43: the host sends it to the library like any TIFF.
// One pixel, red.
TEST_F(CliTest, BigTiffIsATiff)
{
    Bytes tiff = {'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
    const uint64_t entries[][4] = {
        {256, 4, 1, 1}, {257, 4, 1, 1}, {258, 3, 3, 0x0008'0008'0008}, {259, 3, 1, 1},
        {262, 3, 1, 2}, {273, 16, 1, 192}, {277, 3, 1, 3},           {279, 4, 1, 3},
    };
    const auto put = [&](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            tiff.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    put(8, 8);
    for (const auto& e : entries) {
        put(e[0], 2);
        put(e[1], 2);
        put(e[2], 8);
        put(e[3], 8);
    }
    put(0, 8);
    tiff.insert(tiff.end(), {255, 0, 0});
    WriteFile(Path("big.tif"), tiff);
    const Run run = Cli(Quoted("big.tif") + " " + Quoted("out.bmp"));
    EXPECT_EQ(run.status, 0) << run.err;
    const Bytes bmp = ReadFile(Path("out.bmp"));
    EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{0, 0, 255}));
}

TEST_F(CliTest, FailureIsOneLineNamingTheFileAndTheReason)
{
    WriteFile(Path("in.bmp"), BmpFile(MakePicture(2, 2)));
    WriteFile(Path("text.txt"), {'h', 'i'});
    struct Case {
        std::string source;
        std::string dest;
        std::string names;
        const char* reason;
    };
    const Case cases[] = {
        {"missing.bmp", "out.tif", "missing.bmp", "No such file or directory"},
        {"text.txt", "out.tif", "text.txt", "not a picture this library reads"},
        {"in.bmp", "no/dir/out.tif", "no/dir/out.tif", "cannot be written: No such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const Run run = Cli(Quoted(c.source) + " " + Quoted(c.dest));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.find("kestovatiff: " + Path(c.names) + ": "), 0u) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

// Every option --help names is in the manual page too (troff writes a
// hyphen as \-).
TEST_F(CliTest, ManualPageHasEveryOptionOfHelp)
{
    const Run help = Cli("--help");
    const Bytes page = ReadFile(KESTOVATIFF_MAN_PAGE);
    const std::string man(page.begin(), page.end());
    // Words of --help that start with "-" and a letter, or are "--".
    int seen = 0;
    std::string word;
    for (const char c : help.out + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-') {
            word += c;
            continue;
        }
        const size_t name = word.rfind("--", 0) == 0 ? 2 : 1;  // where the name starts after its hyphens
        if (word == "--" || (word[0] == '-' && word.size() > name &&
                             std::isalpha(static_cast<unsigned char>(word[name])) != 0)) {
            ++seen;
            // In a macro line (.B, .BI, .BR), the hyphens as troff's, ending there.
            std::string troff;
            for (const char w : word) {
                troff += w == '-' ? std::string("\\-") : std::string(1, w);
            }
            bool found = false;
            for (const char* macro : {".B ", ".BI ", ".BR "}) {
                found = found || man.find(macro + troff + " ") != std::string::npos ||
                        man.find(macro + troff + "\n") != std::string::npos;
            }
            EXPECT_TRUE(found) << word;
        }
        word.clear();
    }
    EXPECT_GE(seen, 4);
}

// A bad DEST is reported against DEST, whatever the source.
TEST_F(CliTest, BadDestIsNamed)
{
    WriteFile(Path("card.bmp"), BmpFile(MakePicture(2, 2)));
    const std::string tooLong = dir_ + "/" + std::string(5000, 'a');
    struct Case {
        const char* what;
        std::string dest;
        std::string named;
    };
    const Case cases[] = {{"empty", "", "''"}, {"too long", tooLong, tooLong}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Run run = Cli(Quoted("card.bmp") + " '" + c.dest + "'");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.find("kestovatiff: " + c.named + ": bad argument"), 0u) << run.err;
    }
}

// Names that are not UTF-8 (Latin-1 here) work both ways, and a failure
// names the file by its own bytes.
TEST_F(CliTest, NamesThatAreNotUtf8Work)
{
    const Picture picture = MakePicture(5, 3);
    WriteFile(Path("caf\xE9.bmp"), BmpFile(picture));
    Run run = Cli(Quoted("caf\xE9.bmp") + " " + Quoted("\xFC" "ber.tif"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(Path("\xFC" "ber.tif")), ExpectedTiff(picture));
    run = Cli(Quoted("\xFC" "ber.tif") + " " + Quoted("r\xE9sum\xE9.bmp"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(Path("r\xE9sum\xE9.bmp")), BmpFile(picture));
    run = Cli(Quoted("caf\xE9.bmp") + " " + Quoted("no/dir/\xE9.tif"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("kestovatiff: " + Path("no/dir/\xE9.tif") + ": "), 0u) << run.err;
}

// --padded counts before "--" only; after it, as "-", it is a file name.
TEST_F(CliTest, PaddedIsAnOptionBeforeTheEndOfOptions)
{
    const Picture picture = MakePicture(5, 2);
    WriteFile(Path("in.tif"), ExpectedTiff(picture));
    WriteFile(Path("--padded"), ExpectedTiff(picture));
    WriteFile(Path("-"), ExpectedTiff(picture));
    BmpForm padded;
    padded.padRows = true;
    struct Case {
        std::string args;
        Bytes bmp;
    };
    const Case cases[] = {
        {"--padded in.tif out.bmp", BmpFile(picture, padded)},
        {"in.tif --padded out.bmp", BmpFile(picture, padded)},
        {"--padded -- in.tif out.bmp", BmpFile(picture, padded)},
        {"in.tif out.bmp", BmpFile(picture)},
        {"-- --padded out.bmp", BmpFile(picture)},
        {"- out.bmp", BmpFile(picture)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::remove(Path("out.bmp").c_str());
        const std::string command = "cd '" + dir_ + "' && " + KESTOVATIFF_CLI_LAUNCHER + " '" + KESTOVATIFF_CLI +
                                    "' " + c.args;
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(ReadFile(Path("out.bmp")), c.bmp);
    }
}

// /dev/stdout is the shell's own file or pipe: the picture goes there, in
// sequence with what the shell writes around it.
TEST_F(CliTest, StandardOutputIsWrittenInSequence)
{
    const Picture picture = MakePicture(7, 3);
    WriteFile(Path("in.bmp"), BmpFile(picture));
    const std::string cli = std::string(KESTOVATIFF_CLI_LAUNCHER) + " '" + KESTOVATIFF_CLI + "' " + Quoted("in.bmp");
    const std::string commands[] = {
        "{ echo a; " + cli + " /dev/stdout; echo b; } > " + Quoted("out"),
        "{ echo a; " + cli + " /dev/stdout; echo b; } | cat > " + Quoted("out"),
    };
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        ASSERT_EQ(std::system(("sh -c \"" + command + "\"").c_str()), 0);
        const Bytes tiff = ExpectedTiff(picture);
        Bytes expected = {'a', '\n'};
        expected.insert(expected.end(), tiff.begin(), tiff.end());
        expected.insert(expected.end(), {'b', '\n'});
        EXPECT_EQ(ReadFile(Path("out")), expected);
    }
}

TEST_F(CliTest, FifoSourceIsRefusedWithoutWaiting)
{
    ASSERT_EQ(mkfifo(Path("in.fifo").c_str(), 0644), 0);
    const Run run = Cli(Quoted("in.fifo") + " " + Quoted("out.tif"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("in.fifo: the source cannot be opened or read: not a regular file"), std::string::npos)
        << run.err;
    EXPECT_FALSE(FileExists(Path("out.tif")));
}

TEST_F(CliTest, DemoConvertsTheTestCard)
{
    const Run run = Cli("--demo " + Quoted(""));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("test-card.tif: 320 x 240 pixels, 230606 bytes"), std::string::npos)
        << run.out;
    EXPECT_EQ(ReadFile(Path("test-card.tif")).size(), 230606u);
    EXPECT_NE(run.out.find("round trip: identical"), std::string::npos) << run.out;
    EXPECT_EQ(ReadFile(Path("test-card-back.bmp")), ReadFile(Path("test-card.bmp")));
}

// The card is written as a conversion's destination is: a dangling link
// in its place is refused, not followed to create its target.
TEST_F(CliTest, DemoWritesTheCardAsSafelyAsAConversion)
{
    ASSERT_EQ(symlink(Path("elsewhere.bmp").c_str(), Path("test-card.bmp").c_str()), 0);
    const Run run = Cli("--demo " + Quoted(""));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("test-card.bmp: cannot write the test card"), std::string::npos) << run.err;
    EXPECT_EQ(Names(), (std::vector<std::string>{"test-card.bmp"}));
}

}  // namespace
}  // namespace testing_files
