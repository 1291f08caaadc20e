#include "support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace testsupport {

namespace {

std::vector<std::string> namesIn(DIR* dir) {
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    return names;
}

// By descriptors, so that paths of any length go; unreadable folders are opened up first.
void removeTree(int parent, const char* name) {
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        unlinkat(parent, name, 0);
        return;
    }
    fchmod(fd, 0700);
    DIR* dir = fdopendir(fd);
    for (const auto& n : namesIn(dir)) {
        removeTree(dirfd(dir), n.c_str());
    }
    closedir(dir);
    unlinkat(parent, name, AT_REMOVEDIR);
}

tm wallTime(int year, int month, int day, int hour, int minute, int second) {
    tm t{};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
    return t;
}

std::string readAll(int fd) {
    std::string out;
    char buffer[65536];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return out;
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base ? base : "/tmp") + "/chronosift-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    removeTree(AT_FDCWD, path_.c_str());
}

void makeDir(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    ASSERT_FALSE(ec) << path << ": " << ec.message();
}

void setTime(const std::string& path, int64_t mtime) {
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0)
        << path << ": " << std::strerror(errno);
}

void makeFile(const std::string& path, int64_t mtime, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    setTime(path, mtime);
}

void makeLink(const std::string& target, const std::string& path) {
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path << ": " << std::strerror(errno);
}

int64_t localTime(int year, int month, int day, int hour, int minute, int second) {
    tm t = wallTime(year, month, day, hour, minute, second);
    return static_cast<int64_t>(mktime(&t));
}

int64_t utcTime(int year, int month, int day, int hour, int minute, int second) {
    tm t = wallTime(year, month, day, hour, minute, second);
    return static_cast<int64_t>(timegm(&t));
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    setenv(name, value.c_str(), 1);
    tzset();
}

ScopedEnv::~ScopedEnv() {
    had_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str());
    tzset();
}

std::vector<std::string> listFolder(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        ADD_FAILURE() << path << ": " << std::strerror(errno);
        return {};
    }
    auto names = namesIn(dir);
    closedir(dir);
    return names;
}

bool setImmutable(const std::string& path, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return ok;
}

void handToUnprivileged(const std::string& path) {
    if (geteuid() != 0) {
        return;
    }
    std::error_code ec;
    lchown(path.c_str(), 65534, 65534);
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        lchown(it->path().c_str(), 65534, 65534);
    }
}

std::string runUnprivileged(const std::function<int()>& check, std::string& skipped) {
    if (geteuid() != 0) {
        return check() == 0 ? "" : "the check failed";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const bool dropped = setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
                             setresuid(65534, 65534, 65534) == 0;
        _exit(!dropped ? 77 : check() == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        skipped = "cannot drop root privileges here";
        return "";
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0
               ? ""
               : "the unprivileged check failed (see its output above)";
}

Output runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                  const std::string& input) {
    // env(1) sets the extra variables; everything the child needs is made before the fork.
    std::vector<std::string> command;
    if (!extraEnv.empty()) {
        command.push_back("/usr/bin/env");
        command.insert(command.end(), extraEnv.begin(), extraEnv.end());
    }
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& a : command) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    int fds[3];  // standard input, output and error, in files
    for (int& fd : fds) {
        fd = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
    (void)!write(fds[0], input.data(), input.size());
    lseek(fds[0], 0, SEEK_SET);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[0], 0), dup2(fds[1], 1), dup2(fds[2], 2);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(fds[0]);
    Output result;
    result.out = readAll(fds[1]);
    result.err = readAll(fds[2]);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace testsupport

namespace testsupport {

std::string mountImage(const std::string& type, const std::string& image, const std::string& at) {
    makeDir(at);
    const std::string size = type == "btrfs" ? "128M" : "16M";  // btrfs's least is about 110M
    const Output made = runProgram({"/bin/sh", "-c",
                                    "truncate -s " + size + " " + image + " && mkfs." + type +
                                        " -q " + (type == "btrfs" ? "" : "-F ") + image +
                                        " && mount -o loop " + image + " " + at});
    return made.exitCode == 0 ? "" : "no " + type + " volume here: " + made.err;
}

}  // namespace testsupport
