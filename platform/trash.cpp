#include "platform/trash.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "platform/fs.h"
#include "platform/text.h"

namespace chronosift::platform {

namespace {

constexpr char kInfoSuffix[] = ".trashinfo";
constexpr size_t kInfoSuffixLength = sizeof kInfoSuffix - 1;
// An info file left without its file by a run that was killed is removed once it is this old;
// a younger one may belong to a move still under way in another program.
constexpr time_t kOrphanAge = 10;

// An open file descriptor, closed at the end of its scope.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    bool ok() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

std::string reasonFor(int code) {
    return errorText(code);
}

// Opens a folder by an absolute path of any length, following links on the way.
Fd openFolderPath(const std::string& path, int& error) {
    error = 0;
    if (path.size() < PATH_MAX) {
        Fd fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!fd.ok()) {
            error = errno;
        }
        return fd;
    }
    // Piece by piece, each piece shorter than PATH_MAX and ending before a "/".
    Fd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string_view rest(path);
    while (!rest.empty() && rest.front() == '/') {
        rest.remove_prefix(1);
    }
    while (!rest.empty()) {
        size_t take = rest.size();
        if (take >= PATH_MAX) {
            take = rest.rfind('/', PATH_MAX - 1);
            if (take == std::string_view::npos || take == 0) {
                error = ENAMETOOLONG;
                return {};
            }
        }
        const std::string piece(rest.substr(0, take));
        Fd next(::openat(current.get(), piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!next.ok()) {
            error = errno;
            return {};
        }
        current = std::move(next);
        rest.remove_prefix(std::min(rest.size(), take + 1));
    }
    return current;
}

// Makes `name` below `parent` a folder of mode 0700 if it is not there, and opens it without
// following a link. The folder must belong to the user.
Fd openOwnFolder(int parent, const char* name, std::string& reason) {
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) {
        reason = reasonFor(errno);
        return {};
    }
    Fd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok()) {
        reason = reasonFor(errno);
        return {};
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid()) {
        reason = "the trash folder belongs to someone else";
        return {};
    }
    return fd;
}

// Makes every missing folder of an absolute path, each of mode 0700.
bool makeFolders(const std::string& path, int& error) {
    error = 0;
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            const std::string part = path.substr(0, at);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                error = errno;
                return false;
            }
        }
    }
    return true;
}

bool writeAll(int fd, const std::string& bytes, int& error) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string deletionDate() {
    const time_t now = ::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    return buffer;
}

}  // namespace

// One trash folder: its files/ and info/, open, and the next clash number to try for a name.
struct Trash::Can {
    std::string folder;  // for messages
    std::string topdir;  // Path= is relative to it; empty for the home trash (absolute Path=)
    bool relative = false;
    Fd files;
    Fd info;
    size_t nameLimit = NAME_MAX - kInfoSuffixLength;
    std::unordered_map<std::string, uint32_t> next;

    // Removes info files whose file never arrived in files/ (a move cut short by a crash).
    void removeOrphans() {
        const int dupFd = ::dup(info.get());
        DIR* dir = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
        if (dir == nullptr) {
            if (dupFd >= 0) {
                ::close(dupFd);
            }
            return;
        }
        const time_t now = ::time(nullptr);
        std::vector<std::string> orphans;
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name(e->d_name);
            if (name.size() <= kInfoSuffixLength || !name.ends_with(kInfoSuffix)) {
                continue;
            }
            const std::string file(name.substr(0, name.size() - kInfoSuffixLength));
            struct stat st;
            if (::fstatat(files.get(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
                errno != ENOENT) {
                continue;
            }
            if (::fstatat(info.get(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode) && now - st.st_mtime >= kOrphanAge) {
                orphans.emplace_back(name);
            }
        }
        ::closedir(dir);
        for (const std::string& orphan : orphans) {
            ::unlinkat(info.get(), orphan.c_str(), 0);
        }
    }
};

Trash::Trash() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        homeTrash_ = std::string(data) + "/Trash";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        homeTrash_ = std::string(home) + "/.local/share/Trash";
    }
}

Trash::~Trash() = default;

std::string trashInfoPath(std::string_view path) {
    return uriEscapePath(path);
}

std::string trashName(std::string_view name, uint32_t n, size_t limit) {
    std::string suffix;
    if (n > 1) {
        suffix.push_back('.');
        suffix += std::to_string(n);
    }
    std::string_view stem = name;
    std::string_view ext;
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && name.size() - dot <= 16) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    if (suffix.size() + ext.size() >= limit) {
        stem = name;
        ext = {};
    }
    if (stem.size() + suffix.size() + ext.size() > limit) {
        size_t cut = limit - suffix.size() - ext.size();
        // Never end in the middle of a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        stem = stem.substr(0, cut);
    }
    std::string out;
    out.reserve(stem.size() + suffix.size() + ext.size());
    out.append(stem).append(suffix).append(ext);
    return out;
}

Trash::Can* Trash::canFor(const std::string& path, uint64_t device, std::string& reason) {
    if (auto it = cans_.find(device); it != cans_.end()) {
        return it->second.get();
    }
    auto can = std::make_unique<Can>();

    // The home trash, when the file is on its file system.
    if (!homeTrash_.empty()) {
        std::string probe = homeTrash_;
        struct stat st;
        while (::stat(probe.c_str(), &st) != 0 && probe.size() > 1) {
            probe.resize(std::max<size_t>(1, probe.rfind('/')));
        }
        if (static_cast<uint64_t>(st.st_dev) == device) {
            int error = 0;
            if (!makeFolders(homeTrash_, error)) {
                reason = "cannot make the trash folder " + displayText(homeTrash_) + ": " +
                         reasonFor(error);
                return nullptr;
            }
            Fd top(::open(homeTrash_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!top.ok()) {
                reason = "cannot open the trash folder " + displayText(homeTrash_) + ": " +
                         reasonFor(errno);
                return nullptr;
            }
            can->folder = homeTrash_;
            can->files = openOwnFolder(top.get(), "files", reason);
            can->info = can->files.ok() ? openOwnFolder(top.get(), "info", reason) : Fd();
            if (!can->info.ok()) {
                reason = "cannot use the trash folder " + displayText(homeTrash_) + ": " + reason;
                return nullptr;
            }
        }
    }

    if (!can->info.ok()) {
        // The volume's top folder: up from the file's folder while the device stays the same.
        int error = 0;
        const size_t slash = path.rfind('/');
        std::string top = slash == 0 ? "/" : path.substr(0, slash);
        Fd current = openFolderPath(top, error);
        if (!current.ok()) {
            reason = reasonFor(error);
            return nullptr;
        }
        while (top != "/") {
            Fd up(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            struct stat st;
            if (!up.ok() || ::fstat(up.get(), &st) != 0 ||
                static_cast<uint64_t>(st.st_dev) != device) {
                break;
            }
            current = std::move(up);
            const size_t s = top.rfind('/');
            top = s == 0 ? "/" : top.substr(0, s);
        }
        Fd topFd(::openat(current.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        can->topdir = top == "/" ? "" : top;
        can->relative = true;
        const std::string uid = std::to_string(::geteuid());

        // $topdir/.Trash/$uid, only when .Trash is a real folder with the sticky bit.
        struct stat shared;
        if (topFd.ok() && ::fstatat(topFd.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0) {
            Fd sharedFd(
                ::openat(topFd.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            std::string ignored;
            Fd mine = sharedFd.ok() ? openOwnFolder(sharedFd.get(), uid.c_str(), ignored) : Fd();
            if (mine.ok()) {
                can->files = openOwnFolder(mine.get(), "files", ignored);
                can->info = can->files.ok() ? openOwnFolder(mine.get(), "info", ignored) : Fd();
                can->folder = top + (top == "/" ? "" : "/") + ".Trash/" + uid;
            }
        }
        // Failing that, $topdir/.Trash-$uid.
        if (!can->info.ok()) {
            const std::string name = ".Trash-" + uid;
            Fd mine = topFd.ok() ? openOwnFolder(topFd.get(), name.c_str(), reason) : Fd();
            if (mine.ok()) {
                can->files = openOwnFolder(mine.get(), "files", reason);
                can->info = can->files.ok() ? openOwnFolder(mine.get(), "info", reason) : Fd();
            }
            can->folder = top + (top == "/" ? "" : "/") + name;
            if (!can->info.ok()) {
                reason = "cannot use the trash folder " + displayText(can->folder) + ": " +
                         (reason.empty() ? reasonFor(errno) : reason);
                return nullptr;
            }
        }
    }

    // A rename cannot leave the device, and a copy is never made.
    struct stat filesStat;
    if (::fstat(can->files.get(), &filesStat) != 0 ||
        static_cast<uint64_t>(filesStat.st_dev) != device) {
        reason = "the trash folder " + displayText(can->folder) + " is on another device";
        return nullptr;
    }
    can->removeOrphans();
    Can* result = can.get();
    cans_.emplace(device, std::move(can));
    return result;
}

TrashOutcome Trash::moveToTrash(const std::string& path) {
    TrashOutcome outcome;
    outcome.status = TrashStatus::Failed;
    const size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == path.size() - 1) {
        outcome.reason = "not a file path";
        return outcome;
    }
    const std::string base = path.substr(slash + 1);
    int error = 0;
    Fd parent = openFolderPath(slash == 0 ? "/" : path.substr(0, slash), error);
    struct stat st;
    if (parent.ok() && ::fstatat(parent.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno;
    }
    if (error != 0) {
        outcome.status =
            error == ENOENT || error == ENOTDIR ? TrashStatus::Missing : TrashStatus::Failed;
        outcome.reason = reasonFor(error);
        return outcome;
    }
    if (S_ISDIR(st.st_mode)) {
        outcome.reason = "it is a folder now";
        return outcome;
    }
    Can* can = canFor(path, static_cast<uint64_t>(st.st_dev), outcome.reason);
    if (can == nullptr) {
        return outcome;
    }

    const std::string original = can->relative ? path.substr(can->topdir.size() + 1) : path;
    const std::string info =
        "[Trash Info]\nPath=" + trashInfoPath(original) + "\nDeletionDate=" + deletionDate() + "\n";
    uint32_t n = can->next.count(base) != 0 ? can->next[base] : 1;
    for (int attempts = 0; attempts < 100000; ++attempts, ++n) {
        const std::string name = trashName(base, n, can->nameLimit);
        const std::string infoName = name + kInfoSuffix;
        Fd fd(::openat(can->info.get(), infoName.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.ok()) {
            if (errno == EEXIST) {
                continue;
            }
            if (errno == ENAMETOOLONG && can->nameLimit > 143 - kInfoSuffixLength) {
                // A file system with shorter names (such as eCryptfs): try once more, shorter.
                can->nameLimit = 143 - kInfoSuffixLength;
                --n;
                continue;
            }
            outcome.reason = "cannot write to the trash: " + reasonFor(errno);
            return outcome;
        }
        auto dropInfo = [&](const std::string& why) {
            if (::unlinkat(can->info.get(), infoName.c_str(), 0) != 0) {
                outcome.reason =
                    why + " (and its trash record could not be removed: " + reasonFor(errno) + ")";
            } else {
                outcome.reason = why;
            }
        };
        int writeError = 0;
        if (!writeAll(fd.get(), info, writeError)) {
            fd.reset();
            dropInfo("cannot write to the trash: " + reasonFor(writeError));
            return outcome;
        }
        // A full disk may only show when the file is closed.
        if (::close(fd.release()) != 0) {
            dropInfo("cannot write to the trash: " + reasonFor(errno));
            return outcome;
        }

        int moved = ::renameat2(parent.get(), base.c_str(), can->files.get(), name.c_str(),
                                RENAME_NOREPLACE);
        if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // No rename-without-replace here: a hard link cannot replace either.
            moved = ::linkat(parent.get(), base.c_str(), can->files.get(), name.c_str(), 0);
            if (moved == 0 && ::unlinkat(parent.get(), base.c_str(), 0) != 0) {
                const int unlinkError = errno;
                ::unlinkat(can->files.get(), name.c_str(), 0);
                dropInfo(reasonFor(unlinkError));
                return outcome;
            }
        }
        if (moved != 0) {
            const int moveError = errno;
            if (moveError == EEXIST) {
                dropInfo({});
                continue;  // a file of that name without its info: take the next name
            }
            dropInfo(reasonFor(moveError));
            if (moveError == ENOENT) {
                outcome.status = TrashStatus::Missing;
            }
            return outcome;
        }
        can->next[base] = n + 1;
        outcome.status = TrashStatus::Moved;
        outcome.reason.clear();
        outcome.trashedAs = can->folder + "/files/" + name;
        return outcome;
    }
    outcome.reason = "too many files of this name in the trash";
    return outcome;
}

std::vector<TrashOutcome> Trash::moveAll(const std::vector<std::string>& paths,
                                         const TrashOptions& options) {
    std::vector<TrashOutcome> outcomes(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        if (options.cancel != nullptr && options.cancel->load()) {
            break;  // the rest stay NotTried
        }
        outcomes[i] = moveToTrash(paths[i]);
        if (options.progress) {
            options.progress(i + 1);
        }
    }
    return outcomes;
}

}  // namespace chronosift::platform
