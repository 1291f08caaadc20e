// Real temporary folder trees with set modification times, and what else the tests need.
#pragma once

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
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// These fail the test on error. Times are UTC seconds.
void makeDir(const std::string& path);  // with its parents
void makeFile(const std::string& path, int64_t mtime = 1151625600, const std::string& bytes = "");
void setTime(const std::string& path, int64_t mtime);  // of the entry itself, links included
void makeLink(const std::string& target, const std::string& path);

// UTC seconds of a wall time in the zone of TZ now, or in UTC.
int64_t localTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
int64_t utcTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Sets an environment variable for the scope and restores it afterwards; TZ takes effect at once.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

struct ScopedTimeZone : ScopedEnv {
    explicit ScopedTimeZone(const char* zone) : ScopedEnv("TZ", zone) {}
};
// The names in a folder in readdir's order, "." and ".." left out.
std::vector<std::string> listFolder(const std::string& path);
// Runs `check` as "nobody" in a child when root (whom permissions do not stop), else directly:
// "" when it returned 0, else what went wrong; `skipped` says why privileges stayed.
std::string runUnprivileged(const std::function<int()>& check, std::string& skipped);
void handToUnprivileged(const std::string& path);     // a tree "nobody" may read, when root
bool setImmutable(const std::string& path, bool on);  // stops even root; false where impossible

// Makes a file system of `type` (mkfs.TYPE) in the image file `image` and mounts it at `at`
// through a loop device: "" when done, else why not, for a skip. The caller unmounts it.
std::string mountImage(const std::string& type, const std::string& image, const std::string& at);

struct Output {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs a program (argv[0] a path) with `input` on its standard input and `extraEnv` entries
// ("NAME=value") in its environment.
Output runProgram(const std::vector<std::string>& argv,
                  const std::vector<std::string>& extraEnv = {}, const std::string& input = {});

}  // namespace testsupport
