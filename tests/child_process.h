// Running a conversion in a child process: for what would harm the test
// process itself (signals, limits, dropped privileges, a kill), with the
// child's result and errno brought back.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace testing_files {

struct Outcome {
    int32_t result = 0;
    int error = 0;
};

// Runs `convert` in a child process after `prepare` (which sets limits or
// changes identity there). A child that dies or exits before reporting is
// a test failure.
Outcome InChild(const std::function<void()>& prepare, const std::function<int32_t()>& convert);

// For `prepare`: become user `uid`, group `gid`, with the supplementary
// groups given. Only root can; others stay who they are.
void BecomeUser(uid_t uid, gid_t gid, std::initializer_list<gid_t> groups = {});

// For `prepare`: become the unprivileged user nobody (65534).
void DropPrivileges();

// For `prepare`: gives the child mounts of its own, which go with it.
// False where it cannot (not root).
bool PrivateMounts();

// After PrivateMounts: /tmp read-only, but for what is mounted under it.
bool ReadOnlyTmp();

// Sets a file-system protection sysctl (fs.protected_symlinks and its
// kin) for the life of the object, and puts the old value back. ok() is
// false where it cannot be set (not root, no such sysctl).
class Sysctl {
public:
    Sysctl(const char* name, const char* value);
    ~Sysctl();
    Sysctl(const Sysctl&) = delete;
    Sysctl& operator=(const Sysctl&) = delete;
    bool ok() const { return ok_; }

private:
    const char* path_;
    char old_[16] = {};
    bool ok_ = false;
};

}  // namespace testing_files
