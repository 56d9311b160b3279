#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "destination_path.h"

namespace kestova {
namespace {

// Rewrites an absolute path in place without empty and "." components, and
// with each ".." taking the component before it away: the spelling, not
// the file system, so only for matching known names.
void Tidy(char* path)
{
    char* out = path;  // the tidied path so far, from its leading slash
    for (const char* at = path; *at != '\0';) {
        while (*at == '/') {
            ++at;
        }
        const char* end = at;
        while (*end != '\0' && *end != '/') {
            ++end;
        }
        const auto length = static_cast<size_t>(end - at);
        if (length == 2 && at[0] == '.' && at[1] == '.') {
            while (out > path && *--out != '/') {
            }
        } else if (length > 0 && !(length == 1 && at[0] == '.')) {
            *out++ = '/';
            std::memmove(out, at, length);
            out += length;
        }
        at = end;
    }
    if (out == path) {
        *out++ = '/';
    }
    *out = '\0';
}

}  // namespace

int DescriptorNamed(const char* path)
{
    if (path[0] != '/' || std::strlen(path) >= 256) {
        return -1;  // known names are absolute, and short
    }
    char tidy[256];
    std::memcpy(tidy, path, std::strlen(path) + 1);
    Tidy(tidy);
    static const char* const kStandard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    for (int fd = 0; fd < 3; ++fd) {
        if (std::strcmp(tidy, kStandard[fd]) == 0) {
            return fd;
        }
    }
    char own[32];
    (void)std::snprintf(own, sizeof own, "/proc/%ld/fd/", static_cast<long>(getpid()));
    const char* const prefixes[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/", own};
    const char* number = nullptr;
    for (const char* prefix : prefixes) {
        if (std::strncmp(tidy, prefix, std::strlen(prefix)) == 0) {
            number = tidy + std::strlen(prefix);
        }
    }
    if (number == nullptr || *number < '0' || *number > '9') {
        return -1;
    }
    char* end = nullptr;
    errno = 0;
    const long fd = std::strtol(number, &end, 10);
    return *end == '\0' && errno == 0 && fd <= 0x7FFFFFFF ? static_cast<int>(fd) : -1;
}

int OpenParent(char* path, char (&name)[kMaxNameBytes + 1], int in)
{
    char* slash = std::strrchr(path, '/');
    const char* base = slash == nullptr ? path : slash + 1;
    const size_t length = std::strlen(base);
    if (length == 0) {  // "dir/": a directory, not a file
        errno = EISDIR;
        return -1;
    }
    if (length > kMaxNameBytes) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(name, base, length + 1);
    if (slash == nullptr) {
        return in == AT_FDCWD ? open(".", O_PATH | O_DIRECTORY | O_CLOEXEC) : in;
    }
    // Cut briefly at the last slash; "/name" keeps its root.
    char* cut = slash == path ? slash + 1 : slash;
    const char kept = *cut;
    *cut = '\0';
    const int dir = openat(in, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    *cut = kept;
    return dir;
}

int OpenTargetParent(int fd, const struct stat& info, char (&name)[kMaxNameBytes + 1])
{
    char link[32];
    (void)std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    NativePath target;
    const ssize_t length = readlink(link, target.text, sizeof target.text - 1);
    if (length <= 0 || target.text[0] != '/') {
        return -1;  // no /proc, or a file outside this process's root
    }
    target.text[length] = '\0';
    const int dir = OpenParent(target.text, name);
    struct stat entry {};
    if (dir >= 0 && (fstatat(dir, name, &entry, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(entry, info))) {
        close(dir);
        return -1;
    }
    return dir;
}

}  // namespace kestova
