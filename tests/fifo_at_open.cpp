// Preloaded into the host by its tests: the race of another process that
// puts a FIFO at an output's name between the host's last look at the name
// and the library's. When the library first looks at the path named by
// KESTOVATIFF_TEST_FIFO (an O_PATH open, of the path or of its last name in
// an open directory), the file there becomes a FIFO.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<bool> g_done{false};

}  // namespace

// The build's 64-bit file offsets make every openat an openat64.
extern "C" int openat64(int dir, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const auto mode = static_cast<mode_t>((flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, int) : 0);
    va_end(arguments);
    // The path itself, or its last name in an open directory.
    const char* fifo = std::getenv("KESTOVATIFF_TEST_FIFO");
    const char* slash = fifo != nullptr ? std::strrchr(fifo, '/') : nullptr;
    const bool named = fifo != nullptr && (std::strcmp(path, fifo) == 0 ||
                                           (dir != AT_FDCWD && slash != nullptr && std::strcmp(path, slash + 1) == 0));
    if ((flags & O_PATH) != 0 && named && !g_done.exchange(true)) {
        (void)unlink(fifo);
        (void)mkfifo(fifo, 0600);
    }
    using Open = int (*)(int, const char*, int, ...);
    return reinterpret_cast<Open>(dlsym(RTLD_NEXT, "openat64"))(dir, path, flags, mode);
}
