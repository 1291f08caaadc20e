// The one file in trash/ and recycle/ that unlinks, renames or links (see proven.h).
#include "trash/proven.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

#include "platform/fd.h"

namespace chronosift::trash {

using platform::Identity;
using platform::kChanged;

namespace {

constexpr std::string_view kPrivatePrefix = ".chronosift-";

thread_local const FailHook* currentHook = nullptr;

// 0 when the call succeeded, else errno.
int result(int rc) {
    return rc == 0 ? 0 : errno;
}

bool statAt(int folder, const std::string& name, struct stat& st) {
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// A plain rename onto a private name that is still free, for file systems with no rename that
// cannot replace. Only ever onto a private name: no other program knows it, so nothing can take
// it between the check and the rename. A plain rename onto any other name could replace a file
// made there meanwhile, so it is refused.
int renameToPrivate(int folder, const std::string& from, const std::string& to) {
    if (!isPrivateName(to, "")) {
        return EINVAL;
    }
    if (const int error = injected("rename"); error != 0) {
        return error;
    }
    struct stat st;
    if (statAt(folder, to, st)) {
        return EEXIST;
    }
    return result(::renameat(folder, from.c_str(), folder, to.c_str()));
}

// A regular file of the user's at `name`, opened without blocking or following a link; its
// identity, or a zero one.
Identity ownRegularFile(int folder, const std::string& name, platform::Fd* keep = nullptr) {
    platform::Fd fd(::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return {};
    }
    if (keep != nullptr) {
        *keep = std::move(fd);
    }
    return Identity::of(st);
}

}  // namespace

HookScope::HookScope(const FailHook* hook) : previous_(currentHook) {
    currentHook = hook != nullptr && *hook ? hook : nullptr;
}

HookScope::~HookScope() {
    currentHook = previous_;
}

int injected(std::string_view call) {
    return currentHook != nullptr ? (*currentHook)(call) : 0;
}

std::string privateName(std::string_view suffix) {
    std::random_device device;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, ".chronosift-%d-%08x%08x", static_cast<int>(::getpid()),
                  device(), device());
    return std::string(buffer).append(suffix);
}

bool isPrivateName(std::string_view name, std::string_view suffix) {
    return name.size() > kPrivatePrefix.size() + suffix.size() && name.size() < 64 &&
           name.starts_with(kPrivatePrefix) && name.ends_with(suffix) &&
           name.find('/') == std::string_view::npos;
}

Identity identityAt(int folder, const std::string& name) {
    struct stat st;
    return statAt(folder, name, st) ? Identity::of(st) : Identity{};
}

bool sameRecord(int info, const std::string& name, uint64_t inode, const std::string& content) {
    platform::Fd fd;
    const Identity id = ownRegularFile(info, name, &fd);
    struct stat st;
    if (id.inode != inode || inode == 0 || ::fstat(fd.get(), &st) != 0 ||
        static_cast<size_t>(st.st_size) != content.size()) {
        return false;
    }
    std::string bytes(content.size() + 1, '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return got == content.size() && bytes.compare(0, got, content) == 0;
}

int addName(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    if (const int error = injected("linkat"); error != 0) {
        return error;
    }
    return result(::linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0));
}

int moveNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    if (const int error = injected("renameat2"); error != 0) {
        return error;
    }
    return result(::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE));
}

int takeOff(int folder, const std::string& name, const std::string& own) {
    const int error = moveNoReplace(folder, name, folder, own);
    return error == EINVAL || error == ENOSYS ? renameToPrivate(folder, name, own) : error;
}

int giveBack(int folder, const std::string& own, int backFolder, const std::string& back) {
    const Identity at = identityAt(folder, own);
    if (at.inode == 0) {
        return ENOENT;
    }
    if (identityAt(backFolder, back) == at) {
        return dropSecondName(folder, own, backFolder, back);  // linked back before a kill
    }
    int error = moveNoReplace(folder, own, backFolder, back);
    if (error != EINVAL && error != ENOSYS) {
        return error;
    }
    // No rename that cannot replace: a link cannot replace either. Where there are no links
    // either, the file keeps its private name: a plain rename could replace a file made at
    // `back` after it was checked.
    error = addName(folder, own, backFolder, back);
    return error == 0 ? dropSecondName(folder, own, backFolder, back) : error;
}

int dropSecondName(int folder, const std::string& own, int keptFolder, const std::string& kept) {
    if (const int error = injected("unlinkat"); error != 0) {
        return error;
    }
    struct stat a, b;
    if (!statAt(folder, own, a) || !statAt(keptFolder, kept, b) || a.st_dev != b.st_dev ||
        a.st_ino != b.st_ino || a.st_nlink < 2) {
        return kChanged;
    }
    return result(::unlinkat(folder, own.c_str(), 0));
}

int dropRecord(int info, const std::string& own, uint64_t inode, const std::string& content) {
    if (const int error = injected("unlinkat"); error != 0) {
        return error;
    }
    return sameRecord(info, own, inode, content) ? result(::unlinkat(info, own.c_str(), 0))
                                                 : kChanged;
}

int dropOwnFile(int folder, const std::string& name, const Identity& id) {
    if (const int error = injected("unlinkat"); error != 0) {
        return error;
    }
    return id.inode != 0 && identityAt(folder, name) == id
               ? result(::unlinkat(folder, name.c_str(), 0))
               : kChanged;
}

int dropOwnTemp(int folder, const std::string& name) {
    const Identity id = ownRegularFile(folder, name);
    return id.inode != 0 ? dropOwnFile(folder, name, id) : kChanged;
}

int nameOpenFile(int fd, int folder, const std::string& name) {
    if (const int error = injected("linkat"); error != 0) {
        return error;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return result(::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW));
}

}  // namespace chronosift::trash
