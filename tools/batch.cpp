// Many files at once. The whole batch is planned before any file is
// converted: every source read for its first bytes, every output name
// chosen and checked against the others; then worker threads take the
// files in turn while the main thread waits for signals and draws the
// progress line.

#include "batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "conversion.h"
#include "file_name.h"
#include "kestovatiff.h"
#include "arguments.h"
#include "progress.h"

namespace kestovatiff_cli {
namespace {

// Each worker's stack. A conversion needs less than 128 KiB (the library's
// tests run every path in a thread of that size); the rest is headroom for
// the host's own frames and the C library's.
constexpr size_t kWorkerStackBytes = size_t{512} * 1024;
// How often the progress line is redrawn.
constexpr long kRedrawNanoseconds = 200L * 1000 * 1000;
// The planning looks for a signal once every so many files: often enough
// to stop within a moment, rarely enough to cost no system call a file.
constexpr unsigned kFilesPerSignalLook = 64;
// The most output directories held open for the conversions (-r may make
// many); the rest are named by their paths, and the descriptors the
// conversions need stay free.
constexpr size_t kMaxOpenFolders = 256;


struct Job {
    std::string source;
    std::string dest;
    std::string leaf;  // dest's name in its directory
    int folder = -1;   // dest's directory, open, where the batch holds it
    Direction direction = Direction::Unknown;
    uint64_t bytes = 0;
    dev_t sourceDevice = 0;  // the source file's identity: one file named
    ino_t sourceInode = 0;   // twice is converted once
    // Replaces a file, or writes where the kernel cannot keep a file
    // unnamed until it is complete: a second signal waits for it. Every
    // conversion ends in finite time: the library refuses a FIFO or a
    // device at the output's name rather than open it (regular files only).
    bool mustFinish = false;
};

unsigned Processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

// The output's name: the source's, its extension changed.
std::string OutputName(const std::string& sourceName, Direction direction)
{
    const size_t dot = sourceName.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? sourceName : sourceName.substr(0, dot);
    return stem + (direction == Direction::BmpToTiff ? ".tif" : ".bmp");
}

std::string BaseName(const std::string& path)
{
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const size_t slash = path.rfind('/', end - 1);
    return slash == std::string::npos ? path.substr(0, end) : path.substr(slash + 1, end - slash - 1);
}

std::string Join(const std::string& dir, const std::string& name)
{
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// A SIGINT or SIGTERM waiting (they are blocked from the start of a
// batch): the planning stops looking for more files.
bool StopPending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 && (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}

// Whether the directory `dir` holds nothing (or does not exist yet), so
// that no output in it can exist: one look at it instead of one at each
// name. False where it cannot be read, or holds anything.
bool IsEmptyDirectory(const std::string& dir)
{
    DIR* stream = opendir(dir.c_str());
    if (stream == nullptr) {
        return errno == ENOENT;
    }
    bool empty = true;
    errno = 0;
    while (const dirent* entry = readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    empty = empty && errno == 0;
    (void)closedir(stream);
    return empty;
}

const char kSpecialOutput[] = "skipped: the output is not a regular file (a FIFO, a device or a socket)";

class Planner {
public:
    Planner(const Arguments& options, Reporter& reporter) : options_(options), reporter_(reporter) {}
    ~Planner();
    Planner(const Planner&) = delete;
    Planner& operator=(const Planner&) = delete;

    // Finds the sources and plans their outputs. Returns 0, 1 when DIR
    // cannot be made, or 2 when the batch is refused.
    int Plan();

    std::vector<Job>& jobs() { return jobs_; }
    size_t skipped() const { return skipped_; }
    size_t failed() const { return failed_; }

private:
    void AddSource(const std::string& path);
    void Walk(const std::string& dir, const std::string& relative);
    void AddFile(const std::string& path, const std::string& relative, const std::string& name);
    bool MakeDirectories();
    bool Stopped();

    const Arguments& options_;
    Reporter& reporter_;
    std::vector<Job> jobs_;
    std::vector<std::string> relativeDirs_;  // each job's directory under DIR
    std::set<std::pair<dev_t, ino_t>> sourceFiles_;
    std::map<std::string, int> folders_;  // directory under DIR -> open (O_PATH)
    struct stat outDir_ {};
    bool outDirExists_ = false;
    size_t skipped_ = 0;
    size_t failed_ = 0;
    unsigned looks_ = 0;  // calls of Stopped
};

// A SIGINT or SIGTERM pending, looked for once every kFilesPerSignalLook
// calls.
bool Planner::Stopped()
{
    return looks_++ % kFilesPerSignalLook == 0 && StopPending();
}

void Planner::AddSource(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        reporter_.Fail(path, SourceFailure(errno));
        ++failed_;
    } else if (S_ISDIR(info.st_mode)) {
        Walk(path, "");
    } else if (S_ISREG(info.st_mode)) {
        AddFile(path, "", BaseName(path));
    } else {
        if (!options_.quiet) {
            reporter_.Fail(path, "skipped: not a regular file");
        }
        ++skipped_;
    }
}

// The pictures in `dir`, in name order; its subdirectories with -r, but
// not DIR itself, nor links to directories (which could lead in circles).
void Planner::Walk(const std::string& dir, const std::string& relative)
{
    DIR* stream = opendir(dir.c_str());
    if (stream == nullptr) {
        reporter_.Fail(dir, SourceFailure(errno));
        ++failed_;
        return;
    }
    std::vector<std::pair<std::string, unsigned char>> entries;
    errno = 0;
    while (const dirent* entry = readdir(stream)) {
        if (entry->d_name[0] != '.') {  // hidden files, "." and ".."
            entries.emplace_back(entry->d_name, entry->d_type);
        }
    }
    const int error = errno;  // 0 at the end of the directory
    (void)closedir(stream);
    if (error != 0) {
        reporter_.Fail(dir, SourceFailure(error));
        ++failed_;
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [name, type] : entries) {
        if (Stopped()) {
            return;
        }
        const std::string path = Join(dir, name);
        bool isDir = type == DT_DIR;
        bool isFile = type == DT_REG;
        bool isOther = type != DT_DIR && type != DT_REG && type != DT_UNKNOWN && type != DT_LNK;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat info {};
            struct stat link {};
            if (stat(path.c_str(), &info) != 0) {
                // A dangling or looping link: reported as the same name given
                // on the command line is.
                reporter_.Fail(path, SourceFailure(errno));
                ++failed_;
                continue;
            }
            const bool viaLink = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
            isDir = S_ISDIR(info.st_mode) && !viaLink;
            isFile = S_ISREG(info.st_mode);
            isOther = !S_ISDIR(info.st_mode) && !isFile;
            if (S_ISDIR(info.st_mode) && viaLink && options_.recurse) {
                if (!options_.quiet) {
                    reporter_.Fail(path, "skipped: a link to a directory, not followed");
                }
                ++skipped_;
                continue;
            }
        }
        if (isOther) {
            // A FIFO, a device or a socket: never opened, only reported.
            if (!options_.quiet) {
                reporter_.Fail(path, "skipped: not a regular file");
            }
            ++skipped_;
        } else if (isFile) {
            AddFile(path, relative, name);
        } else if (isDir && options_.recurse) {
            struct stat info {};
            if (outDirExists_ && stat(path.c_str(), &info) == 0 && info.st_dev == outDir_.st_dev &&
                info.st_ino == outDir_.st_ino) {
                continue;  // the outputs of this batch, or of an earlier one
            }
            Walk(path, relative + name + "/");
        }
    }
}

void Planner::AddFile(const std::string& path, const std::string& relative, const std::string& name)
{
    // Opened without waiting: a FIFO put in the file's place is not read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    unsigned char magic[4] = {};
    ssize_t got = -1;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        do {
            got = read(fd, magic, sizeof magic);
        } while (got < 0 && errno == EINTR);
    } else if (fd >= 0) {
        errno = EINVAL;
    }
    const int error = errno;
    if (fd >= 0) {
        (void)close(fd);  // read-only: nothing to lose
    }
    if (got < 0) {
        reporter_.Fail(path, SourceFailure(error));
        ++failed_;
        return;
    }
    const Direction direction = DirectionOf(magic, got);
    if (direction == Direction::Unknown) {
        if (!options_.quiet) {
            reporter_.Fail(path, "skipped: neither a BMP nor a TIFF");
        }
        ++skipped_;
        return;
    }
    Job job;
    job.source = path;
    job.leaf = OutputName(name, direction);
    job.dest = Join(options_.outDir, relative + job.leaf);
    job.direction = direction;
    job.bytes = static_cast<uint64_t>(info.st_size);
    job.sourceDevice = info.st_dev;
    job.sourceInode = info.st_ino;
    jobs_.push_back(std::move(job));
    relativeDirs_.push_back(relative);
    sourceFiles_.emplace(info.st_dev, info.st_ino);
}

int Planner::Plan()
{
    outDirExists_ = stat(options_.outDir.c_str(), &outDir_) == 0;
    if (outDirExists_ && !S_ISDIR(outDir_.st_mode)) {
        reporter_.Fail(options_.outDir, std::strerror(ENOTDIR));
        return 2;
    }
    for (const std::string& source : options_.operands) {
        if (Stopped()) {
            break;
        }
        AddSource(source);
    }
    // One output name, one source (a file named twice is converted once);
    // and no output may be a source.
    bool refused = false;
    std::map<std::string, size_t> byOutput;
    std::vector<bool> repeated(jobs_.size(), false);
    for (size_t i = 0; i < jobs_.size(); ++i) {
        const auto [at, added] = byOutput.emplace(jobs_[i].dest, i);
        const Job& first = jobs_[at->second];
        if (!added && first.sourceDevice == jobs_[i].sourceDevice && first.sourceInode == jobs_[i].sourceInode) {
            repeated[i] = true;
        } else if (!added) {
            reporter_.Line("kestovatiff: " + jobs_[at->second].source + " and " + jobs_[i].source +
                           " would both be converted to " + jobs_[i].dest);
            refused = true;
        }
    }
    std::vector<Job> kept;
    std::vector<std::string> keptDirs;
    std::map<std::string, bool> emptyDirs;  // directory under DIR -> holds nothing
    for (size_t i = 0; i < jobs_.size() && !refused; ++i) {
        if (repeated[i]) {
            continue;
        }
        Job& job = jobs_[i];
        auto empty = emptyDirs.find(relativeDirs_[i]);
        if (empty == emptyDirs.end()) {
            empty = emptyDirs.emplace(relativeDirs_[i], IsEmptyDirectory(Join(options_.outDir, relativeDirs_[i])))
                        .first;
        }
        struct stat info {};
        const bool exists = !empty->second && stat(job.dest.c_str(), &info) == 0;
        // A FIFO, a device or a socket, or a link to one. Opening one to
        // write waits for a reader or wakes a device, and nothing there can
        // be staged and replaced whole: a batch skips it. A directory is
        // left to the conversion, which fails naming it. One made after
        // this look is refused by the library, which the batch asks for
        // regular files only.
        if (exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
            if (!options_.quiet) {
                reporter_.Fail(job.dest, kSpecialOutput);
            }
            ++skipped_;
            continue;
        }
        if (exists) {
            // With -n an existing output is kept, even one that is also a
            // source (a folder converted into itself, run again).
            if (options_.keepExisting) {
                if (!options_.quiet) {
                    reporter_.Fail(job.source, "skipped: " + job.dest + " exists");
                }
                ++skipped_;
                continue;
            }
            if (sourceFiles_.count({info.st_dev, info.st_ino}) != 0) {
                reporter_.Line("kestovatiff: " + job.dest + " is one of the sources; converting " + job.source +
                               " would replace it");
                refused = true;
                continue;
            }
            job.mustFinish = true;
        }
        kept.push_back(std::move(job));
        keptDirs.push_back(relativeDirs_[i]);
    }
    if (refused) {
        reporter_.Line("kestovatiff: nothing converted");
        return 2;
    }
    jobs_ = std::move(kept);
    relativeDirs_ = std::move(keptDirs);
    return MakeDirectories() ? 0 : 1;
}

// Makes DIR and the subdirectories the outputs go to, opens each once for
// the conversions (which then name their outputs in it, not by a path the
// kernel resolves again for each file), and finds out where an output
// cannot stay unnamed until it is complete.
bool Planner::MakeDirectories()
{
    std::map<std::string, bool> unnamed;  // directory under DIR -> O_TMPFILE works there
    for (const std::string& relative : relativeDirs_) {
        unnamed.emplace(relative, false);
    }
    if (unnamed.empty()) {
        return true;
    }
    // DIR and any of its parents missing, each level in turn.
    for (size_t slash = options_.outDir.find('/', 1); ; slash = options_.outDir.find('/', slash + 1)) {
        const std::string dir = options_.outDir.substr(0, slash);
        if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
            reporter_.Fail(dir, std::string("cannot make the directory: ") + std::strerror(errno));
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    for (auto& [relative, works] : unnamed) {
        // Each level in turn: "a/b/" needs "a" first.
        for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
            const std::string dir = Join(options_.outDir, relative.substr(0, slash));
            if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
                reporter_.Fail(dir, std::string("cannot make the directory: ") + std::strerror(errno));
                return false;
            }
        }
        const std::string dir = Join(options_.outDir, relative);
        const int folder = folders_.size() < kMaxOpenFolders
                               ? open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)
                               : -1;
        if (folder >= 0) {
            folders_.emplace(relative, folder);
        }
        const int probe = folder >= 0 ? openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)
                                      : open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        works = probe >= 0;
        if (probe >= 0) {
            (void)close(probe);
        }
    }
    for (size_t i = 0; i < jobs_.size(); ++i) {
        jobs_[i].mustFinish = jobs_[i].mustFinish || !unnamed[relativeDirs_[i]];
        const auto folder = folders_.find(relativeDirs_[i]);
        jobs_[i].folder = folder != folders_.end() ? folder->second : -1;
    }
    return true;
}

Planner::~Planner()
{
    for (const auto& [relative, folder] : folders_) {
        (void)close(folder);  // O_PATH: nothing written through it
    }
}

// What the workers and the main thread share.
struct Batch {
    std::vector<Job>& jobs;
    Reporter& reporter;
    pthread_t mainThread;
    KestovaOptions options;  // the library's, as the command line asks
    bool quiet;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<unsigned> running{0};
    std::atomic<unsigned> slots{0};  // hands each worker its place in `finishing`
    // Each worker's conversion that a second signal waits for, if any.
    std::array<std::atomic<const Job*>, kMaxWorkers> finishing{};
    std::atomic<size_t> done{0};
    std::atomic<size_t> converted{0};
    std::atomic<size_t> skipped{0};  // outputs that became special files after planning
    std::atomic<size_t> failed{0};
    std::atomic<uint64_t> bytes{0};
};

void ConvertOne(Batch& batch, const Job& job)
{
    const std::u16string source16 = FileNameToUtf16(job.source);
    KestovaOptions options = batch.options;
    // Named in its directory, opened once for the batch, where there is one.
    if (job.folder >= 0) {
        options.flags |= KESTOVA_FLAG_IN_FOLDER;
        options.folder = job.folder;
    }
    const std::u16string dest16 = FileNameToUtf16(job.folder >= 0 ? job.leaf : job.dest);
    const int32_t result = KestovaConvert(source16.c_str(), dest16.c_str(), &options);
    // A FIFO, a device or a socket put at the name since the planning:
    // skipped, as the planning skips one found there.
    if (options.reason == KESTOVA_REASON_NOT_REGULAR_FILE && options.reasonValue != EISDIR) {
        if (!batch.quiet) {
            batch.reporter.Fail(job.dest, kSpecialOutput);
        }
        batch.skipped.fetch_add(1);
        batch.done.fetch_add(1);
        return;
    }
    if (result != KESTOVATIFF_OK) {
        const bool destFailed =
            result == KESTOVATIFF_ERROR_DESTINATION || options.reason == KESTOVA_REASON_DESTINATION_PATH;
        batch.reporter.Fail(destFailed ? job.dest : job.source, FailureText(result, options));
    }
    if (result == KESTOVATIFF_OK) {
        batch.converted.fetch_add(1);
        batch.bytes.fetch_add(job.bytes);
    } else {
        batch.failed.fetch_add(1);
    }
    batch.done.fetch_add(1);
}

void* Work(void* argument)
{
    Batch& batch = *static_cast<Batch*>(argument);
    std::atomic<const Job*>& finishing = batch.finishing.at(batch.slots.fetch_add(1));
    for (;;) {
        const size_t i = batch.next.fetch_add(1);
        if (i >= batch.jobs.size()) {
            break;
        }
        const Job& job = batch.jobs[i];
        // Shown before the look at `stop`: a second signal that sees no
        // such conversion under way knows none will start.
        if (job.mustFinish) {
            finishing.store(&job);
        }
        if (batch.stop.load()) {
            finishing.store(nullptr);
            break;
        }
        ConvertOne(batch, job);
        finishing.store(nullptr);
    }
    if (batch.running.fetch_sub(1) == 1) {
        (void)pthread_kill(batch.mainThread, SIGUSR1);  // wakes the main thread
    }
    return nullptr;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whether a second signal must wait for some conversion still under way:
// one replacing a file, or one whose file is named before it is complete.
// Each ends in finite time, none waiting for a FIFO's reader.
bool MustWait(const Batch& batch)
{
    return std::any_of(batch.finishing.begin(), batch.finishing.end(),
                       [](const std::atomic<const Job*>& slot) { return slot.load() != nullptr; });
}

void PrintSummary(Batch& batch, size_t skipped, size_t failedEarlier, double seconds, int signal)
{
    char time[32];
    (void)std::snprintf(time, sizeof time, "%.2f s", seconds);
    std::string line = "kestovatiff: " + std::to_string(batch.converted.load()) + " converted, " +
                       std::to_string(skipped + batch.skipped.load()) + " skipped, " +
                       std::to_string(batch.failed.load() + failedEarlier) + " failed, " + FormatBytes(batch.bytes.load()) + " in " + time;
    if (signal != 0) {
        line += "; stopped by " + std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") + ", " +
                std::to_string(batch.jobs.size() - batch.done.load()) + " not converted";
    }
    batch.reporter.Line(line);
}

// Ends the process by `signal`, as a shell expects of a program the user
// stopped (a script's loop then stops too); its status there is 128 + the
// signal's number.
[[noreturn]] void EndBySignal(int signal)
{
    (void)std::fflush(stderr);
    (void)std::signal(signal, SIG_DFL);
    sigset_t set;
    (void)sigemptyset(&set);
    (void)sigaddset(&set, signal);
    (void)pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    (void)raise(signal);
    _exit(128 + signal);
}

}  // namespace

int RunBatch(const Arguments& options)
{
    if (!options.haveOutDir || options.outDir.empty()) {
        return UsageError("many files need -o DIR, the directory for the outputs");
    }
    if (options.operands.empty()) {
        return UsageError("expected a SOURCE after -o DIR");
    }
    // The host's own lines to a closed pipe fail with EPIPE instead of
    // ending the batch between a conversion's steps (past a file-size
    // limit they fail with EFBIG: main ignores SIGXFSZ).
    (void)signal(SIGPIPE, SIG_IGN);
    // The signals are taken by the main thread alone, with sigtimedwait:
    // blocked here, before planning and before any worker starts, they stay
    // blocked in each. One that comes while planning ends the planning.
    sigset_t signals;
    (void)sigemptyset(&signals);
    (void)sigaddset(&signals, SIGINT);
    (void)sigaddset(&signals, SIGTERM);
    (void)sigaddset(&signals, SIGUSR1);
    (void)pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const auto start = std::chrono::steady_clock::now();
    Reporter reporter(!options.quiet && isatty(STDERR_FILENO) == 1);
    Planner planner(options, reporter);
    if (const int status = planner.Plan(); status != 0) {
        return status;
    }
    std::vector<Job>& jobs = planner.jobs();
    uint64_t totalBytes = 0;
    for (const Job& job : jobs) {
        totalBytes += job.bytes;
    }

    reporter.Progress(ProgressText(0, jobs.size(), 0, totalBytes, 0.0));  // the totals, at once
    // Regular files only: a FIFO at an output's name is skipped, never
    // waited on, whenever it was made. SIGPIPE and SIGXFSZ are ignored for
    // the whole process (here and in main), which the library is told so
    // that it leaves each thread's signal mask alone.
    KestovaOptions conversion = ConversionOptions(options);
    conversion.flags |= KESTOVA_FLAG_REGULAR_FILES_ONLY | KESTOVA_FLAG_WRITE_SIGNALS_IGNORED;
    Batch batch{jobs, reporter, pthread_self(), conversion, options.quiet};
    batch.stop.store(StopPending());  // stopped while planning: no file starts
    // At most kMaxWorkers, however many processors: each has its slot.
    const unsigned wanted = options.workers != 0 ? options.workers : std::min(Processors(), kMaxWorkers);
    const auto workers = static_cast<unsigned>(std::min<size_t>(wanted, std::max<size_t>(jobs.size(), 1)));
    pthread_attr_t attributes;
    (void)pthread_attr_init(&attributes);
    (void)pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
    std::vector<pthread_t> threads;
    batch.running.store(workers);
    for (unsigned i = 0; i < workers; ++i) {
        pthread_t thread;
        const int error = pthread_create(&thread, &attributes, Work, &batch);
        if (error != 0) {
            batch.running.fetch_sub(workers - i);
            if (threads.empty()) {
                reporter.Line(std::string("kestovatiff: cannot start a thread: ") + std::strerror(error));
                return 1;
            }
            break;  // fewer workers do the same work
        }
        threads.push_back(thread);
    }
    (void)pthread_attr_destroy(&attributes);

    int stoppedBy = 0;
    int signalCount = 0;
    while (batch.running.load() > 0) {
        const timespec redraw = {0, kRedrawNanoseconds};
        const timespec idle = {3600, 0};
        const int signal = sigtimedwait(&signals, nullptr, reporter.ShowsProgress() ? &redraw : &idle);
        if (signal == SIGINT || signal == SIGTERM) {
            batch.stop.store(true);
            stoppedBy = stoppedBy == 0 ? signal : stoppedBy;
            if (++signalCount == 2) {
                // New files have no name until complete: those conversions
                // are abandoned with the process. A replacement is waited for.
                while (MustWait(batch)) {
                    const timespec pause = {0, 10L * 1000 * 1000};
                    (void)nanosleep(&pause, nullptr);
                }
                PrintSummary(batch, planner.skipped(), planner.failed(), SecondsSince(start), stoppedBy);
                EndBySignal(stoppedBy);
            }
        }
        reporter.Progress(
            ProgressText(batch.done.load(), jobs.size(), batch.bytes.load(), totalBytes, SecondsSince(start)));
    }
    for (const pthread_t thread : threads) {
        (void)pthread_join(thread, nullptr);
    }
    reporter.Progress("");
    PrintSummary(batch, planner.skipped(), planner.failed(), SecondsSince(start), stoppedBy);
    if (stoppedBy != 0) {
        EndBySignal(stoppedBy);
    }
    return batch.failed.load() + planner.failed() == 0 ? 0 : 1;
}

}  // namespace kestovatiff_cli
