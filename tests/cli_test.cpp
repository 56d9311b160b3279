// The command-line host as a user runs it: exit status and messages.

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include "bmp_forms.h"
#include "child_process.h"
#include "test_files.h"

namespace testing_files {
namespace {

// The BMP the host writes by default: rows padded to 4 bytes.
Bytes PaddedBmp(const Picture& picture)
{
    BmpForm form;
    form.padRows = true;
    return BmpFile(picture, form);
}

class CliTest : public ScratchDir {
protected:
    struct Run {
        int status;
        std::string out;
        std::string err;
    };

    // `shell` runs first, in the shell that starts the host (`ulimit`).
    Run Cli(const std::string& args, const std::string& shell = "")
    {
        const std::string command = shell + KESTOVATIFF_CLI_LAUNCHER + " '" + KESTOVATIFF_CLI + "' " + args + " >'" +
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
        {"--help", 0, "usage: kestovatiff [--unpadded]", ""},
        {"--help", 0, "  --padded ", ""},
        {"--help", 0, "  -q, --quiet", ""},
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
    EXPECT_EQ(ReadFile(Path("back.bmp")), PaddedBmp(picture));
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
    EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{0, 0, 255, 0}));
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
        {"text.txt", "out.tif", "text.txt", "neither a BMP nor a TIFF"},
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

// A TIFF with compressed separate planes needs a temporary file. Where no
// folder has room for one ($TMPDIR full, /tmp read-only, the destination's
// folder full), the message says so instead of blaming the destination.
TEST_F(CliTest, NoScratchSpaceIsSaidSo)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount small file systems";
    }
    TiffForm form;
    form.compression = 8;
    form.planar = true;
    WriteFile(Path("in.tif"), TiffFile(MakePicture(300, 200), form));  // planes of 180000 bytes
    ASSERT_EQ(mkdir(Path("full").c_str(), 0755), 0);
    const pid_t child = fork();
    if (child == 0) {
        // Mounts of the child's own: the test's folder stays writable, the
        // rest of /tmp is read-only, and "full" is full.
        const std::string dir = Path("");
        if (!PrivateMounts() || mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount("kestova", Path("full").c_str(), "tmpfs", 0, "size=64k") != 0 ||
            !ReadOnlyTmp()) {
            _exit(3);
        }
        // Fails when the disk is full, which is the point.
        (void)std::system(("head -c 1M /dev/zero >" + Quoted("full/filler") + " 2>/dev/null").c_str());
        setenv("TMPDIR", Path("full").c_str(), 1);
        const Run run = Cli(Quoted("in.tif") + " " + Quoted("full/out.bmp"));
        WriteFile(Path("err"), Bytes(run.err.begin(), run.err.end()));
        _exit(run.status);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const Bytes err = ReadFile(Path("err"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(std::string(err.begin(), err.end()),
              "kestovatiff: " + Path("full/out.bmp") +
                  ": no scratch space: no room for the conversion's temporary file (set TMPDIR to a folder with "
                  "room)\n");
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

// What --help says of an option, the manual page says too: the paragraphs
// of each, hyphens and line breaks aside, share these words.
TEST_F(CliTest, ManualPageSaysWhatHelpSays)
{
    const Run help = Cli("--help");
    const Bytes page = ReadFile(KESTOVATIFF_MAN_PAGE);
    const auto paragraph = [](const std::string& text, const std::string& start, const char* end) {
        const size_t from = text.find(start);
        std::string words;
        for (const char c : text.substr(from, from == std::string::npos ? 0 : text.find(end, from + 1) - from)) {
            const auto byte = static_cast<unsigned char>(c);
            if (std::isspace(byte) != 0 && !words.empty() && words.back() != ' ') {
                words += ' ';
            } else if (std::isspace(byte) == 0 && c != '\\') {
                words += static_cast<char>(std::tolower(byte));
            }
        }
        return words;
    };
    const std::pair<const char*, std::vector<const char*>> options[] = {
        {"q", {"progress line", "not a terminal", "skipped"}},
        {"r", {"subdirectories", "links to directories", "skipped"}},
    };
    for (const auto& [option, words] : options) {
        const std::string inHelp = paragraph(help.out, std::string("\n  -") + option + ",", "\n  -");
        const std::string inMan =
            paragraph(std::string(page.begin(), page.end()), std::string(".B \\-") + option + "\n", "\n.TP");
        for (const char* word : words) {
            EXPECT_NE(inHelp.find(word), std::string::npos) << option << ": " << word << " in " << inHelp;
            EXPECT_NE(inMan.find(word), std::string::npos) << option << ": " << word << " in " << inMan;
        }
    }
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
    EXPECT_EQ(ReadFile(Path("r\xE9sum\xE9.bmp")), PaddedBmp(picture));
    run = Cli(Quoted("caf\xE9.bmp") + " " + Quoted("no/dir/\xE9.tif"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("kestovatiff: " + Path("no/dir/\xE9.tif") + ": "), 0u) << run.err;
}

// BMPs are padded by default; --unpadded gives Tiff2Bmp's bytes. Options
// count before "--" only; after it, as "-", they are file names.
TEST_F(CliTest, PaddedIsTheDefaultAndOptionsEndAtTheEndOfOptions)
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
        {"in.tif --unpadded out.bmp", BmpFile(picture)},
        {"--unpadded -- in.tif out.bmp", BmpFile(picture)},
        {"in.tif out.bmp", BmpFile(picture, padded)},
        {"--unpadded -- --padded out.bmp", BmpFile(picture)},
        {"- out.bmp", BmpFile(picture, padded)},
        {"--unpadded --max-pixels=10 in.tif out.bmp", BmpFile(picture)},
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

// A batch's BMP outputs are padded too, unless --unpadded: a 1 x 2
// picture's rows of 3 bytes become 4. Long options name the same.
TEST_F(CliTest, BatchPadsRowsUnlessUnpadded)
{
    WriteFile(Path("in.tif"), TiffFile(MakePicture(1, 2)));
    for (const auto& [args, size] :
         {std::pair{"-q -o", 54u + 2 * 4}, {"--quiet --unpadded --jobs=1 --output", 54u + 2 * 3}}) {
        SCOPED_TRACE(args);
        const Run run = Cli(std::string(args) + " " + Quoted("out") + " " + Quoted("in.tif"));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ReadFile(Path("out/in.bmp")).size(), size);
    }
}

// A refusal names its precise reason, the value it concerns, and the option
// that would lift it.
TEST_F(CliTest, RefusalsSayWhyAndWhatWouldHelp)
{
    const Picture picture = MakePicture(4, 3);
    WriteFile(Path("in.tif"), TiffFile(picture));
    // 32 bits, bit fields 10-10-10.
    WriteFile(Path("wide.bmp"), BmpFile(MakeDirectBmp(4, 3, 32, kBiBitfields, {0x3FF00000, 0x000FFC00, 0x3FF, 0})));
    TiffForm alpha;  // two pixels, RGBA, the second half transparent
    alpha.changes = {{258, 3, {8}}, {277, 3, {4}}, {338, 3, {2}}};
    alpha.chunks = {{10, 20, 30, 255, 10, 20, 30, 128}};
    WriteFile(Path("alpha.tif"), TiffFile(Picture{2, 1, {}}, alpha));
    TiffForm jbig;
    jbig.changes = {{259, 3, {34661}}};
    WriteFile(Path("jbig.tif"), TiffFile(picture, jbig));
    TiffForm palette16;  // which --reduce does not read either
    palette16.changes = {{258, 3, {16}}, {262, 3, {3}}, {277, 3, {1}}};
    WriteFile(Path("palette16.tif"), TiffFile(picture, palette16));
    const std::pair<std::string, std::string> cases[] = {
        {Quoted("alpha.tif") + " " + Quoted("out.bmp"),
         "alpha.tif: partly transparent pixels; --background COLOR puts them on a colour\n"},
        {"--background white " + Quoted("alpha.tif") + " " + Quoted("out.bmp"), ""},
        {Quoted("jbig.tif") + " " + Quoted("out.bmp"), "jbig.tif: a TIFF compression that is not read (Compression 34661)\n"},
        {Quoted("wide.bmp") + " " + Quoted("out.tif"),
         "wide.bmp: samples deeper than 8 bits (10 bits); --reduce converts them to 8 bits\n"},
        {"--reduce " + Quoted("wide.bmp") + " " + Quoted("out.tif"), ""},
        {Quoted("palette16.tif") + " " + Quoted("out.bmp"),
         "palette16.tif: TIFF palette indices deeper than 8 bits (16 bits)\n"},
        {"--max-pixels 11 " + Quoted("in.tif") + " " + Quoted("out.bmp"),
         ": more pixels than the limit the caller set (12 pixels); a larger --max-pixels lets it through\n"},
        {"--max-pixels 12 " + Quoted("in.tif") + " " + Quoted("out.bmp"), ""},
        {"--background '#00ff00' --reduce --max-pixels 11 -o " + Quoted("out") + " " + Quoted("in.tif"),
         "(12 pixels); a larger --max-pixels"},
        {"--background pink " + Quoted("in.tif") + " " + Quoted("out.bmp"),
         "--background takes white, black or #RRGGBB, not pink"},
        {"--max-pixels -3 " + Quoted("in.tif") + " " + Quoted("out.bmp"), "--max-pixels takes a number of pixels"},
    };
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(args);
        const Run run = Cli(args);
        EXPECT_EQ(run.status, says.empty() ? 0 : says[0] == '-' ? 2 : 1);
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }
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

// Many files at once: -o DIR and its options.
class BatchTest : public CliTest {
protected:
    struct Source {
        std::string name;
        Bytes bytes;
        std::string output;  // its name in out/; empty: skipped
        Bytes expected;
    };

    // A BMP and the TIFF it becomes, or a TIFF and the BMP.
    static Source Bmp(const std::string& name, uint32_t seed)
    {
        const Picture picture = MakePicture(3 + seed % 13, 1 + seed % 5, seed);
        return {name, BmpFile(picture), name.substr(0, name.rfind('.')) + ".tif", ExpectedTiff(picture)};
    }
    static Source Tiff(const std::string& name, uint32_t seed)
    {
        const Picture picture = MakePicture(1 + seed % 7, 2 + seed % 3, seed);
        return {name, ExpectedTiff(picture), name.substr(0, name.rfind('.')) + ".bmp", PaddedBmp(picture)};
    }

    void Write(const std::vector<Source>& sources, const std::string& dir)
    {
        mkdir(Path(dir).c_str(), 0755);
        for (const Source& source : sources) {
            WriteFile(Path(dir + "/" + source.name), source.bytes);
        }
    }

    // Starts the host in the background with its standard error in "err",
    // `environment` ("NAME=value ...") added to its own.
    pid_t Start(const std::string& args, const std::string& environment = "")
    {
        const std::string command = environment + "exec " + std::string(KESTOVATIFF_CLI_LAUNCHER) + " '" +
                                    KESTOVATIFF_CLI + "' " + args + " 2>'" + Path("err") + "'";
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    // The host's wait status once it ends; a host still running after ten
    // seconds is killed, and the test fails.
    int Finish(pid_t pid)
    {
        int status = 0;
        for (int waited = 0; waited < 1000; ++waited) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                return status;
            }
            usleep(10 * 1000);
        }
        ADD_FAILURE() << "the host did not end";
        (void)kill(pid, SIGKILL);
        (void)waitpid(pid, &status, 0);
        return status;
    }

    // The last line of "err".
    std::string Summary(const std::string& err)
    {
        const size_t start = err.rfind('\n', err.size() - 2);
        return err.substr(start == std::string::npos ? 0 : start + 1);
    }
};

// A folder of a few hundred files, pictures and not, with a subdirectory
// and a link to it: each picture converted either way, the others reported
// and skipped, the subdirectory only with -r, the link under -r reported
// and skipped (its pictures are not converted twice); no progress line off
// a terminal, and no notices with -q.
TEST_F(BatchTest, ConvertsAMixedFolder)
{
    std::vector<Source> top;
    std::vector<Source> sub;
    for (uint32_t i = 0; i < 300; ++i) {
        const std::string n = std::to_string(i);
        top.push_back(i % 10 == 9 ? Source{"note" + n + ".txt", {'h', 'i'}, "", {}}
                                  : i % 2 == 0 ? Bmp("p" + n + ".bmp", i) : Tiff("p" + n + ".tiff", i));
    }
    top.push_back(Source{".hidden.bmp", BmpFile(MakePicture(2, 2)), "", {}});
    top.push_back(Bmp("no-extension", 7));
    sub.push_back(Tiff("deep.tif", 3));
    sub.push_back(Bmp("deep.bmp", 4));
    Write(top, "in");
    Write(sub, "in/sub");
    ASSERT_EQ(symlink("sub", Path("in/linked").c_str()), 0);
    struct Case {
        const char* options;
        bool recursed;
        bool quiet;
    };
    for (const Case& c : {Case{"-j 3", false, false}, Case{"-r -j1", true, false}, Case{"-rqj2", true, true}}) {
        SCOPED_TRACE(c.options);
        const Run run = Cli(std::string(c.options) + " -o " + Quoted("out") + " " + Quoted("in"));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find('\r'), std::string::npos);
        size_t converted = 0;
        for (const Source& source : top) {
            if (source.output.empty()) {
                EXPECT_EQ(source.name[0] == '.' || c.quiet, run.err.find(source.name) == std::string::npos)
                    << source.name;
                continue;
            }
            EXPECT_EQ(ReadFile(Path("out/" + source.output)), source.expected) << source.name;
            ++converted;
        }
        EXPECT_EQ(FileExists(Path("out/sub")), c.recursed);
        for (const Source& source : sub) {
            EXPECT_EQ(FileExists(Path("out/sub/" + source.output)), c.recursed);
        }
        converted += c.recursed ? sub.size() : 0;
        EXPECT_EQ(run.err.find(Path("in") + "/linked: skipped: a link to a directory, not followed") !=
                      std::string::npos,
                  c.recursed && !c.quiet)
            << run.err;
        const std::string skipped = c.recursed ? "31" : "30";
        EXPECT_EQ(Summary(run.err).rfind(
                      "kestovatiff: " + std::to_string(converted) + " converted, " + skipped + " skipped, 0 failed, ", 0),
                  0u)
            << Summary(run.err);
        EXPECT_EQ(Names("out").size(), converted - (c.recursed ? sub.size() : 0) + (c.recursed ? 1 : 0));
        ASSERT_EQ(std::system(("rm -r " + Quoted("out")).c_str()), 0);
    }
}

// An existing output is replaced; with -n it is kept, and said so.
TEST_F(BatchTest, ReplacesOrKeepsExistingOutputs)
{
    const Source a = Bmp("a.bmp", 1);
    const Source b = Tiff("b.tif", 2);
    Write({a, b}, "in");
    mkdir(Path("out").c_str(), 0755);
    const Bytes old = {'o', 'l', 'd'};
    for (const char* options : {"-n", ""}) {
        SCOPED_TRACE(options);
        WriteFile(Path("out/a.tif"), old);
        const Run run = Cli(std::string(options) + " -o " + Quoted("out") + " " + Quoted("in"));
        EXPECT_EQ(run.status, 0) << run.err;
        const bool keep = *options != '\0';
        EXPECT_EQ(ReadFile(Path("out/a.tif")), keep ? old : a.expected);
        EXPECT_EQ(ReadFile(Path("out/b.bmp")), b.expected);
        EXPECT_EQ(run.err.find("in/a.bmp: skipped: " + Path("out/a.tif") + " exists") != std::string::npos, keep)
            << run.err;
        EXPECT_NE(run.err.find(keep ? "1 converted, 1 skipped" : "2 converted, 0 skipped"), std::string::npos);
    }
}

// Sources that would make one output, or an output that is a source: the
// whole batch is refused, naming both, before anything is written.
TEST_F(BatchTest, RefusesOutputNameClashesBeforeConverting)
{
    Write({Bmp("x.bmp", 1), Bmp("y.bmp", 1)}, "a");
    Write({Bmp("x.bmp", 2)}, "b");
    Write({Tiff("x.tif", 3), Bmp("x.bmp", 3)}, "c");
    struct Case {
        std::string args;
        std::string says;
    };
    const Case cases[] = {
        {"-o " + Quoted("out") + " " + Quoted("a") + " " + Quoted("b"),
         Path("a") + "/x.bmp and " + Path("b") + "/x.bmp would both be converted to " + Path("out") + "/x.tif"},
        {"-o " + Quoted("c") + " " + Quoted("c"), Path("c") + "/x.tif is one of the sources"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Run run = Cli(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("nothing converted"), std::string::npos) << run.err;
        EXPECT_EQ(FileExists(Path("out")), false);
    }
    EXPECT_EQ(Names("c"), (std::vector<std::string>{"x.bmp", "x.tif"}));
    EXPECT_EQ(ReadFile(Path("c/x.tif")), Tiff("x.tif", 3).bytes);
}

// One file named twice, by the same name or another way to it, is one
// source: converted once, not a clash.
TEST_F(BatchTest, SameFileNamedTwiceIsConvertedOnce)
{
    const Source a = Bmp("a.bmp", 1);
    Write({a}, "in");
    const std::string twices[] = {
        Quoted("in/a.bmp") + " " + Quoted("in/a.bmp"),
        Quoted("in/a.bmp") + " " + Quoted("in/./a.bmp"),
        Quoted("in") + " " + Quoted("in/a.bmp"),
        "-r " + Quoted("in") + " " + Quoted("in/"),
    };
    for (const std::string& twice : twices) {
        SCOPED_TRACE(twice);
        const Run run = Cli("-o " + Quoted("out") + " " + twice);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.rfind("kestovatiff: 1 converted, 0 skipped, 0 failed, ", 0), 0u) << run.err;
        EXPECT_EQ(ReadFile(Path("out/a.tif")), a.expected);
    }
}

// A file that fails in the middle: one line naming it, the rest converted,
// exit 1. Sources given one by one, named - and -n after --.
TEST_F(BatchTest, FailureInTheMiddleLeavesTheRestConverted)
{
    Bytes broken = Bmp("", 5).bytes;
    broken.resize(broken.size() - 1);
    Write({Bmp("1.bmp", 1), Bmp("2.bmp", 2), Source{"3.bmp", broken, "", {}}, Bmp("4.bmp", 4), Bmp("-", 6),
           Bmp("-n", 7)},
          "in");
    const Run run = Cli("-j1 -o " + Quoted("out") + " -- " + Quoted("in/1.bmp") + " " + Quoted("in/2.bmp") + " " +
                        Quoted("in/3.bmp") + " " + Quoted("in/4.bmp") + " " + Quoted("in") + "/- " + Quoted("in") +
                        "/-n");
    EXPECT_EQ(run.status, 1);
    const std::string failure = "kestovatiff: " + Path("in/3.bmp") + ": the file is shorter than its headers promise";
    EXPECT_EQ(run.err.rfind(failure, 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_EQ(Summary(run.err).rfind("kestovatiff: 5 converted, 0 skipped, 1 failed, ", 0), 0u) << run.err;
    EXPECT_EQ(Names("out"), (std::vector<std::string>{"-.tif", "-n.tif", "1.tif", "2.tif", "4.tif"}));
}

TEST_F(BatchTest, UsageErrors)
{
    const std::pair<const char*, const char*> cases[] = {
        {"-o", "option -o needs a value"},
        {"-j 0 -o out in", "-j takes a number of files from 1 to 256, not 0"},
        {"-j 2x -o out in", "not 2x"},
        {"-r in", "many files need -o DIR"},
        {"-o out", "expected a SOURCE after -o DIR"},
        {"-o out -x in", "unknown option -x"},
        {"-o out --fast in", "unknown option --fast"},
        {"--output", "option --output needs a value"},
        {"--jobs=0 -o out in", "-j takes a number of files from 1 to 256, not 0"},
    };
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(args);
        const Run run = Cli(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }
    EXPECT_NE(Cli("--help").out.find("  -j, --jobs N\n           convert N files at once"), std::string::npos);
}

// A folder converted into itself and run again with -n keeps its outputs;
// DIR's missing parents are made; a FIFO in a folder is reported, never
// opened.
TEST_F(BatchTest, RunAgainDeepOutputsAndFifos)
{
    Write({Bmp("a.bmp", 1)}, "s");
    ASSERT_EQ(Cli("-q -o " + Quoted("s") + " " + Quoted("s")).status, 0);
    Run run = Cli("-n -o " + Quoted("s") + " " + Quoted("s"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("skipped"), std::string::npos) << run.err;

    ASSERT_EQ(mkfifo(Path("s/pipe.bmp").c_str(), 0600), 0);
    run = Cli("-o " + Quoted("deep/a/b") + " " + Quoted("s"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("pipe.bmp: skipped: not a regular file"), std::string::npos) << run.err;
    EXPECT_TRUE(FileExists(Path("deep/a/b/a.tif")));
}

// A FIFO at an output's name never hangs the host. Found while planning,
// it is reported and skipped. Put there after the host's last look (the
// preloaded race, at the library's first look), it is skipped too: the
// library, asked for regular files only, never opens it. Then the name is
// freed or given to a file again and two signals come, which once found a
// worker waiting in open() for ever and a second signal waiting for it: the
// host ends at once. A single conversion to a FIFO waits for its reader,
// until a signal.
TEST_F(BatchTest, OutputsThatAreFifosNeverHang)
{
    const Source a = Bmp("a.bmp", 1);
    const Source b = Tiff("b.tif", 2);
    Write({a, b}, "in");
    for (int i = 0; i < 300; ++i) {  // work under way when the signals come
        ASSERT_EQ(link(Path("in/b.tif").c_str(), Path("in/c" + std::to_string(i) + ".tif").c_str()), 0);
    }
    const std::string fifo = Path("out/a.tif");
    enum Then { Nothing, Removed, Replaced };
    struct Case {
        const char* what;
        std::string args;
        bool race;
        Then then;
        std::vector<int> signals;
    };
    const std::string batch = "-o " + Quoted("out") + " " + Quoted("in");
    const Case cases[] = {
        {"planned", batch, false, Nothing, {}},
        {"race", "-j1 " + batch, true, Nothing, {}},
        {"race, removed, SIGINT twice", "-j1 " + batch, true, Removed, {SIGINT, SIGINT}},
        {"race, replaced, SIGINT then SIGTERM", "-j1 " + batch, true, Replaced, {SIGINT, SIGTERM}},
        {"race, SIGINT then SIGTERM", batch, true, Nothing, {SIGINT, SIGTERM}},
        {"single", Quoted("in/a.bmp") + " " + Quoted("out/a.tif"), false, Nothing, {SIGTERM}},
    };
#ifdef KESTOVATIFF_FIFO_AT_OPEN
    const std::string preload = std::string("LD_PRELOAD='") + KESTOVATIFF_FIFO_AT_OPEN + "' KESTOVATIFF_TEST_FIFO='" +
                                fifo + "' ";
#else
    const std::string preload;
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.race && preload.empty()) {
            std::printf("%s: not run, this build cannot preload into the host\n", c.what);
            continue;
        }
        mkdir(Path("out").c_str(), 0755);
        if (c.race) {
            WriteFile(fifo, {'o', 'l', 'd'});
        } else {
            ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        }
        const pid_t pid = Start(c.args, c.race ? preload : "");
        struct stat info {};
        while (c.race && (stat(fifo.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode))) {
            usleep(100);
        }
        if (c.then != Nothing) {
            ASSERT_EQ(unlink(fifo.c_str()), 0);
        }
        if (c.then == Replaced) {
            WriteFile(fifo, {'n', 'e', 'w'});
        }
        usleep(c.race ? 1000 : 200 * 1000);  // the single one at its open
        for (const int signal : c.signals) {
            ASSERT_EQ(kill(pid, signal), 0);  // a host that has ended is not yet reaped
            usleep(1000);
        }
        const auto start = std::chrono::steady_clock::now();
        const int status = Finish(pid);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "the host ends, not waiting on a FIFO";
        const Bytes errBytes = ReadFile(Path("err"));
        const std::string err(errBytes.begin(), errBytes.end());
        const bool stopped = WIFSIGNALED(status);
        if (!c.race && !c.signals.empty()) {
            EXPECT_TRUE(stopped && WTERMSIG(status) == c.signals[0]) << status;
            EXPECT_EQ(err, "");
        } else {
            // By the first signal, or done before it came.
            EXPECT_TRUE(stopped ? !c.signals.empty() && WTERMSIG(status) == c.signals[0]
                                : WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << status;
            // Where the name was freed or given to a file before the
            // library's look, the picture may go there instead: whole.
            const bool skipped = err.find(fifo + ": skipped: the output is not a regular file") != std::string::npos;
            EXPECT_TRUE(skipped || (c.then != Nothing && ReadFile(fifo) == a.expected)) << err;
            EXPECT_NE(Summary(err).find(stopped   ? "stopped by SIGINT"
                                        : skipped ? "301 converted, 1 skipped, 0 failed"
                                                  : "302 converted, 0 skipped, 0 failed"),
                      std::string::npos)
                << err;
        }
        for (const std::string& name : Names("out")) {  // nothing left behind, nothing but whole pictures
            if (name != "a.tif") {
                EXPECT_EQ(ReadFile(Path("out/" + name)), b.expected) << name;
            }
        }
        ASSERT_EQ(std::system(("rm -r " + Quoted("out")).c_str()), 0);
    }
}

// On a terminal a progress line, redrawn in place and cleared before the
// summary; none with -q. script(1) gives the host a terminal.
TEST_F(BatchTest, ProgressLineOnlyOnATerminal)
{
    Write({Bmp("a.bmp", 1), Tiff("b.tif", 2)}, "in");
    for (const char* quiet : {"", "-q "}) {
        SCOPED_TRACE(quiet);
        const std::string host = std::string(KESTOVATIFF_CLI_LAUNCHER) + " " + KESTOVATIFF_CLI + " " + quiet +
                                 "-o " + Path("out") + " " + Path("in");
        const Run run = Cli("--version >/dev/null; script -qec '" + host + "' /dev/null");
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string& tty = run.out;
        const bool progress = *quiet == '\0';
        EXPECT_EQ(tty.find("\r0/2 files, 0 B\033[K") != std::string::npos, progress) << tty;
        EXPECT_EQ(tty.find("\r\033[Kkestovatiff: 2 converted, 0 skipped, 0 failed, ") != std::string::npos, progress)
            << tty;
        EXPECT_NE(tty.find("kestovatiff: 2 converted"), std::string::npos) << tty;
    }
}

// Under a file-size limit, an output that would pass it fails like any
// destination that cannot be written, without the signal that would kill
// the host: the others are converted, the summary printed, and nothing
// is left of the one that failed.
TEST_F(BatchTest, FileSizeLimitFailsOneFileNotTheBatch)
{
    const Picture large = MakePicture(300, 300);  // a 270206-byte TIFF
    Write({Bmp("1.bmp", 1), Source{"2.bmp", BmpFile(large), "2.tif", ExpectedTiff(large)}, Bmp("3.bmp", 3)}, "in");
    // 200 blocks: 100 KiB in dash's 512-byte ones, 200 KiB in bash's.
    const Run run = Cli("-j2 -o " + Quoted("out") + " " + Quoted("in"), "trap - XFSZ; ulimit -f 200; ");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(Path("out/2.tif") + ": the destination cannot be written: File too large"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Summary(run.err).rfind("kestovatiff: 2 converted, 0 skipped, 1 failed, ", 0), 0u) << run.err;
    EXPECT_EQ(Names("out"), (std::vector<std::string>{"1.tif", "3.tif"}));

    // Its own lines to a log that has reached the limit (head, killed
    // there, filled it to the byte) are lost, and the batch goes on.
    const std::string command = "trap - XFSZ; ulimit -f 200; (head -c 1000000 /dev/zero >" + Quoted("log") +
                                ") 2>/dev/null; " + KESTOVATIFF_CLI_LAUNCHER + " '" + KESTOVATIFF_CLI + "' -j2 -o " +
                                Quoted("logged") + " " + Quoted("in") + " 2>>" + Quoted("log");
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << std::hex << raw;
    EXPECT_EQ(Names("logged"), (std::vector<std::string>{"1.tif", "3.tif"}));
}

// A signal midway: no new file starts, those under way finish, the summary
// says how far it got, and the host ends by the signal. A second signal
// stops at once, waiting only for the files being replaced: every output
// is whole, old or new, and no temporary file is left.
TEST_F(BatchTest, SignalStopsTheBatchCleanly)
{
    const Source source = Bmp("0.bmp", 9);
    Write({source}, "in");
    constexpr int kFiles = 3000;
    for (int i = 1; i < kFiles; ++i) {
        ASSERT_EQ(link(Path("in/0.bmp").c_str(), Path("in/" + std::to_string(i) + ".bmp").c_str()), 0);
    }
    const Bytes old = {'o', 'l', 'd'};
    struct Case {
        std::vector<int> signals;
        bool replacing;
    };
    const Case cases[] = {{{SIGINT}, false}, {{SIGTERM}, true}, {{SIGINT, SIGINT}, false}, {{SIGTERM, SIGTERM}, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.signals.size()) + (c.replacing ? " replacing" : " new"));
        mkdir(Path("out").c_str(), 0755);
        for (int i = 0; i < kFiles && c.replacing; ++i) {
            WriteFile(Path("out/" + std::to_string(i) + ".tif"), old);
        }
        const pid_t pid = Start("-j2 -o " + Quoted("out") + " " + Quoted("in"));
        // Under way: the first file (in name order) done, or 20 new ones.
        while (c.replacing ? ReadFile(Path("out/0.tif")) == old : Names("out").size() < 20) {
            usleep(500);
        }
        for (const int signal : c.signals) {
            ASSERT_EQ(kill(pid, signal), 0);
            usleep(1000);  // two would be one if both were pending at once
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), c.signals[0]);
        const Bytes errBytes = ReadFile(Path("err"));
        const std::string err(errBytes.begin(), errBytes.end());
        const std::string stopped = c.signals[0] == SIGINT ? "stopped by SIGINT, " : "stopped by SIGTERM, ";
        EXPECT_NE(Summary(err).find(stopped), std::string::npos) << err;
        size_t fresh = 0;
        for (const std::string& name : Names("out")) {
            ASSERT_EQ(name.find(".tmp"), std::string::npos) << name;
            const Bytes bytes = ReadFile(Path("out/" + name));
            ASSERT_TRUE(bytes == source.expected || (c.replacing && bytes == old)) << name;
            fresh += bytes == source.expected ? 1 : 0;
        }
        EXPECT_LT(fresh, static_cast<size_t>(kFiles));
        if (c.signals.size() == 1) {
            EXPECT_EQ(Summary(err).rfind("kestovatiff: " + std::to_string(fresh) + " converted, 0 skipped, 0 failed", 0),
                      0u)
                << err;
        }
        ASSERT_EQ(std::system(("rm -r " + Quoted("out")).c_str()), 0);
    }
}

}  // namespace
}  // namespace testing_files
