#include "child_process.h"

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace testing_files {

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
    EXPECT_TRUE(received && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child did not report (status " << status << ")";
    return outcome;
}

void BecomeUser(uid_t uid, gid_t gid, std::initializer_list<gid_t> groups)
{
    if (geteuid() != 0) {
        return;
    }
    const std::vector<gid_t> list(groups);
    if (setgroups(list.size(), list.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
        _exit(3);
    }
}

void DropPrivileges() { BecomeUser(65534, 65534); }

bool PrivateMounts()
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool ReadOnlyTmp()
{
    return mount("/tmp", "/tmp", nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
           mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

Sysctl::Sysctl(const char* name, const char* value) : path_(name)
{
    std::FILE* f = std::fopen(path_, "r");
    if (f == nullptr || std::fgets(old_, sizeof old_, f) == nullptr) {
        if (f != nullptr) {
            std::fclose(f);
        }
        return;
    }
    std::fclose(f);
    f = std::fopen(path_, "w");
    ok_ = f != nullptr && std::fputs(value, f) >= 0;
    if (f != nullptr) {
        ok_ = std::fclose(f) == 0 && ok_;
    }
}

Sysctl::~Sysctl()
{
    if (ok_) {
        if (std::FILE* f = std::fopen(path_, "w")) {
            std::fputs(old_, f);
            std::fclose(f);
        }
    }
}

}  // namespace testing_files
