// The desktop trash (FreeDesktop.org Trash specification 1.0), on raw byte paths.
//
// Promises:
// - A file either stays where it was or is in a trash folder's files/ with a complete info file
//   in info/. Nothing is ever deleted, copied across devices or replaced.
// - The info file is created first (O_EXCL) and written in full before the file is moved with a
//   rename that never replaces. If any step fails, the info file is removed and the file stays.
// - A file on the file system of $XDG_DATA_HOME/Trash goes there, with an absolute Path=. Any
//   other goes to $topdir/.Trash/$uid when .Trash is a real folder with the sticky bit, else to
//   $topdir/.Trash-$uid, with Path= relative to $topdir.
// - Links are moved as links; their targets are not touched.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace chronosift::platform {

enum class TrashStatus : uint8_t {
    Moved,     // in the trash
    Missing,   // not there any more: nothing to move
    Failed,    // stayed where it was; see the reason
    NotTried,  // the operation was cancelled before this file
};

struct TrashOutcome {
    TrashStatus status = TrashStatus::NotTried;
    std::string reason;     // for Missing and Failed
    std::string trashedAs;  // for Moved: the path in files/
};

struct TrashOptions {
    // Checked before each file; once set, the remaining files are not tried.
    const std::atomic<bool>* cancel = nullptr;
    // Called after each file with the number done so far.
    std::function<void(size_t done)> progress;
};

// The trash of the current user, as the environment describes it ($XDG_DATA_HOME, $HOME).
class Trash {
  public:
    Trash();
    ~Trash();
    Trash(const Trash&) = delete;
    Trash& operator=(const Trash&) = delete;

    TrashOutcome moveToTrash(const std::string& path);

    // The files in order; one outcome each.
    std::vector<TrashOutcome> moveAll(const std::vector<std::string>& paths,
                                      const TrashOptions& options = {});

    struct Can;  // one trash folder in use

  private:
    Can* canFor(const std::string& path, uint64_t device, std::string& reason);

    std::string homeTrash_;
    std::map<uint64_t, std::unique_ptr<Can>> cans_;  // by device
};

// The value of Path= for a path: every byte but unreserved ones and "/" as %XX.
std::string trashInfoPath(std::string_view path);

// The name under files/ for `name` with clash number `n` (1: none), at most `limit` bytes: the
// stem is shortened, never splitting a UTF-8 sequence, and the extension kept.
std::string trashName(std::string_view name, uint32_t n, size_t limit);

}  // namespace chronosift::platform
