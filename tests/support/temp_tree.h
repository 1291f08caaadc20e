// Real temporary folder trees for tests, with set modification times.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// Creates a folder (and its parents); fails the test on error.
void makeDir(const std::string& path);
// Creates a file with the given bytes and sets its modification time (UTC seconds).
void makeFile(const std::string& path, int64_t mtime = 1151625600, const std::string& bytes = "");
// Sets the modification time of an entry itself, links included.
void setTime(const std::string& path, int64_t mtime);
void makeLink(const std::string& target, const std::string& path);

// UTC seconds of a local wall time in the zone of TZ now.
int64_t localTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// UTC seconds of a UTC wall time.
int64_t utcTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Sets TZ for the scope and restores it afterwards.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();

  private:
    std::string old_;
    bool had_ = false;
};

// The enumeration order of a folder as readdir gives it, "." and ".." left out.
std::vector<std::string> listFolder(const std::string& path);

// Runs `check` in a child process as the unprivileged user "nobody" when running as root, or
// directly otherwise. Returns "" when the check returned 0, or what went wrong. Sets `skipped`
// with a reason when privileges cannot be dropped.
std::string runUnprivileged(const std::function<int()>& check, std::string& skipped);

// Sets or clears the immutable attribute of a file, which stops even root from moving it. False
// where the file system or the privileges do not allow it.
bool setImmutable(const std::string& path, bool on);

// Gives a tree to "nobody" so that an unprivileged check can read it (no-op when not root).
void handToUnprivileged(const std::string& path);

struct Output {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs a program with arguments (bytes), feeding it `input`, and collects its output and exit
// code. `extraEnv` entries ("NAME=value") replace inherited ones.
Output runProgram(const std::vector<std::string>& argv,
                  const std::vector<std::string>& extraEnv = {}, const std::string& input = {});

// Sets an environment variable for the scope and restores it afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace testsupport
