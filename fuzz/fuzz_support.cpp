#include "fuzz_support.h"

#include <dirent.h>
#include <sanitizer/asan_interface.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "kestovatiff.h"

namespace fuzz_support {
namespace {

// The file-size limit when a conversion has room: a picture the targets
// take (kPixelLimit) is far smaller, so reaching it is a fault of its own,
// reported as a destination failure with room.
constexpr uint64_t kRoom = uint64_t{64} << 20;

constexpr char kPrefix[] = "kvt-fuzz-";

std::string g_folder;  // removed at the end

bool LimitFileSize(uint64_t bytes)
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = std::min<rlim_t>(bytes, limit.rlim_max);
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

void SetFileSizeLimit(uint64_t bytes)
{
    if (!LimitFileSize(bytes)) {
        Fail("cannot set the file-size limit", static_cast<long long>(bytes));
    }
}

// The folder and the files in it (it holds no folders).
void RemoveFolder(const std::string& folder)
{
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                unlink((folder + "/" + entry->d_name).c_str());
            }
        }
        closedir(dir);
    }
    rmdir(folder.c_str());
}

void RemoveScratch()
{
    if (!g_folder.empty()) {
        RemoveFolder(g_folder);
        g_folder.clear();
    }
}

// After a sanitizer's report: the scratch folder gone.
void OnReport(const char*)
{
    RemoveScratch();
}

// The fuzzer's handlers of timeouts and deadly signals, and those of the
// sanitizers, run with room to write: they print reports and record the
// input, which must not fall under a conversion's file-size limit. A
// handler that returns (the fuzzer's alarm, when no input is late) leaves
// the limit as it was.
struct sigaction g_previous[NSIG];

void WithRoom(int number, siginfo_t* info, void* context)
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    (void)LimitFileSize(kRoom);
    const struct sigaction& previous = g_previous[number];
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        previous.sa_sigaction(number, info, context);
    } else {
        previous.sa_handler(number);
    }
    setrlimit(RLIMIT_FSIZE, &limit);
}

void HandleWithRoom()
{
    for (const int number : {SIGALRM, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        struct sigaction current {};
        sigaction(number, nullptr, &current);
        if ((current.sa_flags & SA_SIGINFO) == 0 && (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)) {
            continue;
        }
        g_previous[number] = current;
        current.sa_sigaction = WithRoom;
        current.sa_flags |= SA_SIGINFO;
        sigaction(number, &current, nullptr);
    }
}

// Folders left by targets that ended by a crash or a timeout, which exit
// at once: named kvt-fuzz-PID-..., their process gone.
void RemoveStaleFolders(const std::string& base)
{
    DIR* dir = opendir(base.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) {
            continue;
        }
        const long pid = std::strtol(name.c_str() + sizeof kPrefix - 1, nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            RemoveFolder(base + "/" + name);
        }
    }
    closedir(dir);
}

}  // namespace

const Scratch& Files()
{
    static const Scratch files = [] {
        // Until the library keeps SIGXFSZ from its writes, a write past
        // the limit would kill the process instead of failing.
        signal(SIGXFSZ, SIG_IGN);
        SetFileSizeLimit(kRoom);
        struct stat shm {};
        const std::string base = stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) ? "/dev/shm" : "/tmp";
        RemoveStaleFolders(base);
        std::string pattern = base + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot make a scratch folder");
        }
        g_folder = pattern;
        std::atexit(RemoveScratch);
        __asan_set_error_report_callback(OnReport);
        HandleWithRoom();
        setenv("TMPDIR", pattern.c_str(), 1);  // the library's scratch files for separate planes
        Scratch s;
        s.folder = pattern;
        s.source = pattern + "/source";
        s.dest = pattern + "/dest";
        s.again = pattern + "/again";
        s.last = pattern + "/last";
        s.source16.assign(s.source.begin(), s.source.end());
        s.dest16.assign(s.dest.begin(), s.dest.end());
        s.again16.assign(s.again.begin(), s.again.end());
        s.last16.assign(s.last.begin(), s.last.end());
        return s;
    }();
    return files;
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        Fail("cannot write the scratch source");
    }
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    std::fclose(f);
    return true;
}

void Remove(const Scratch& files)
{
    for (const std::string* path : {&files.dest, &files.again, &files.last}) {
        unlink(path->c_str());
    }
}

void Fail(const char* what, long long detail)
{
    (void)LimitFileSize(kRoom);  // for the fuzzer's record of the input
    RemoveScratch();
    std::fprintf(stderr, "check failed: %s (%lld)\n", what, detail);
    std::abort();
}

namespace {

// The scratch source converted in the direction; `bmp`: it starts as a BMP.
int32_t Convert(Direction direction, bool bmp, const Scratch& files, KestovaOptions options)
{
    if (bmp == (direction == Direction::BmpToTiff)) {
        return KestovaConvert(files.source16.c_str(), files.dest16.c_str(), &options);
    }
    return (direction == Direction::BmpToTiff ? Bmp2Tiff : Tiff2Bmp)(files.source16.c_str(), files.dest16.c_str());
}

// One conversion of the scratch source, under a file-size limit: a known
// result, a destination for a success and none for a failure.
int32_t ConvertOnce(Direction direction, bool bmp, const KestovaOptions& options, uint64_t limit,
                    std::vector<uint8_t>& dest)
{
    const Scratch& files = Files();
    Remove(files);
    SetFileSizeLimit(limit);
    const int32_t result = Convert(direction, bmp, files, options);
    SetFileSizeLimit(kRoom);
    const bool written = ReadBytes(files.dest, dest);
    if (result == KESTOVATIFF_OK) {
        if (!written) {
            Fail("success without a destination");
        }
    } else if (result >= 0 || result < KESTOVATIFF_ERROR_DESTINATION) {
        Fail("unknown result", result);
    } else if (written) {
        Fail("a failed conversion left a destination", result);
    }
    return result;
}

}  // namespace

uint64_t InputHash(const uint8_t* data, size_t size)
{
    uint64_t hash = 14695981039346656037u;
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211u;
    }
    hash = (hash ^ hash >> 31) * 0x7FB5D329728EA185u;
    return hash ^ hash >> 27;
}

KestovaOptions DrawnOptions(uint64_t hash)
{
    KestovaOptions options = {sizeof options, 0, kPixelLimit, 0, 0, 0, 0};
    const uint64_t bits = hash >> 8;
    options.flags = ((bits & 1) != 0 ? KESTOVA_FLAG_PADDED_ROWS : 0u) | ((bits & 2) != 0 ? KESTOVA_FLAG_REDUCE : 0u) |
                    ((bits & 4) != 0 ? KESTOVA_FLAG_FLATTEN : 0u);
    options.background = static_cast<uint32_t>(bits >> 3 & 0xFFFFFF);
    return options;
}

bool ConvertInput(Direction direction, const uint8_t* data, size_t size, std::vector<uint8_t>& dest,
                  KestovaOptions& options)
{
    WriteBytes(Files().source, data, size);
    const bool bmp = size >= 2 && data[0] == 'B' && data[1] == 'M';
    const uint64_t hash = InputHash(data, size);
    options = DrawnOptions(hash);
    if ((hash & 1) == 0) {
        const int32_t result = ConvertOnce(direction, bmp, options, kRoom, dest);
        if (result == KESTOVATIFF_ERROR_DESTINATION) {
            Fail("a destination with room refused");
        }
        return result == KESTOVATIFF_OK;
    }
    // 0 to 3 times a power of two from 1 to 2^31 bytes.
    const uint64_t limit = (hash >> 1 & 3) << (hash >> 3 & 31);
    const int32_t result = ConvertOnce(direction, bmp, options, limit, dest);
    if (result == KESTOVATIFF_OK) {
        if (dest.size() > limit) {
            Fail("a destination past the file-size limit", static_cast<long long>(dest.size()));
        }
        return true;
    }
    if (result != KESTOVATIFF_ERROR_DESTINATION) {
        const int32_t withRoom = ConvertOnce(direction, bmp, options, kRoom, dest);
        if (withRoom != result) {
            Fail("refused under a file-size limit as it is not with room; with room:", withRoom);
        }
    }
    return false;
}

void CheckWrittenTiff(const std::vector<uint8_t>& tiff)
{
    if (tiff.size() < 206 || tiff[0] != 'M' || tiff[1] != 'M') {
        Fail("written TIFF too short or not MM", static_cast<long long>(tiff.size()));
    }
    const uint64_t directory = Be32(tiff.data() + 4);
    if (directory != tiff.size() - 198) {
        Fail("written TIFF's directory is not where the layout puts it", static_cast<long long>(directory));
    }
    const uint64_t width = Be16(tiff.data() + directory + 10);
    const uint64_t height = Be16(tiff.data() + directory + 22);
    if (3 * width * height + 206 != tiff.size()) {
        Fail("written TIFF's size disagrees with its sides", static_cast<long long>(tiff.size()));
    }
}

void CheckWrittenBmp(const std::vector<uint8_t>& bmp, bool padded)
{
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') {
        Fail("written BMP too short or not BM", static_cast<long long>(bmp.size()));
    }
    const uint64_t width = Le32(bmp.data() + 18);
    const uint64_t height = Le32(bmp.data() + 22);
    const uint64_t row = padded ? (3 * width + 3) / 4 * 4 : 3 * width;
    if (row * height + 54 != bmp.size() || Le32(bmp.data() + 2) != bmp.size()) {
        Fail("written BMP's size disagrees with its headers", static_cast<long long>(bmp.size()));
    }
}

}  // namespace fuzz_support

// Called by the sanitizers as they find a fault, before their report is
// printed: with room, as for the signals above.
extern "C" void __asan_on_error()  // NOLINT(bugprone-reserved-identifier,readability-identifier-naming)
{
    (void)fuzz_support::LimitFileSize(fuzz_support::kRoom);
}

extern "C" void __ubsan_on_report()  // NOLINT(bugprone-reserved-identifier,readability-identifier-naming)
{
    (void)fuzz_support::LimitFileSize(fuzz_support::kRoom);
}
