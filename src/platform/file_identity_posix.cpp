#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file_identity.h"

namespace kestova {
namespace {

// File capabilities go the way of setuid: a write into the file clears them.
bool IsCapability(const char* name) { return std::strcmp(name, "security.capability") == 0; }

// The names of `fd`'s extended attributes, NUL-separated; a file system
// without them has none. -1 when they cannot be listed or do not fit.
ssize_t ListAttributes(int fd, char* names, size_t size)
{
    const ssize_t length = flistxattr(fd, names, size);
    if (length < 0 && (errno == ENOTSUP || errno == ENOSYS)) {
        return 0;
    }
    return length;
}

// Removes from `to` the attributes `from` does not have: a default ACL of
// the directory, or a label the new file was given.
bool RemoveExtraAttributes(int from, int to, char* names, size_t size)
{
    const ssize_t length = ListAttributes(to, names, size);
    if (length < 0) {
        return false;
    }
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        const char* name = names + at;
        if (fgetxattr(from, name, nullptr, 0) >= 0) {
            continue;
        }
        if (errno != ENODATA || fremovexattr(to, name) != 0) {
            return false;
        }
    }
    return true;
}

bool CopyAttributes(int from, int to, char* names, size_t namesSize, char* value, size_t valueSize)
{
    const ssize_t length = ListAttributes(from, names, namesSize);
    if (length < 0) {
        return false;
    }
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        const char* name = names + at;
        if (IsCapability(name)) {
            continue;
        }
        const ssize_t size = fgetxattr(from, name, value, valueSize);
        if (size < 0 || fsetxattr(to, name, value, static_cast<size_t>(size), 0) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool CopyIdentity(int from, const struct stat& info, int to, Scratch scratch)
{
    struct stat mine {};
    if (fstat(to, &mine) != 0) {
        return false;
    }
    if ((mine.st_uid != info.st_uid || mine.st_gid != info.st_gid) && fchown(to, info.st_uid, info.st_gid) != 0) {
        return false;
    }
    // The scratch holds a list of names and one value at a time. A name
    // list is a few hundred bytes in practice; values may be larger.
    char* names = reinterpret_cast<char*>(scratch.data);
    const size_t namesSize = scratch.size / 4;
    char* value = names + namesSize;
    const size_t valueSize = scratch.size - namesSize;
    if (!RemoveExtraAttributes(from, to, names, namesSize) ||
        !CopyAttributes(from, to, names, namesSize, value, valueSize)) {
        return false;
    }
    // Last: with an ACL the group bits are its mask, which the ACL just set
    // to the same value.
    return fchmod(to, info.st_mode & 01777) == 0;
}

}  // namespace kestova
