#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/text.h"

namespace chronosift::platform {

std::string errorText(int code) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in `buffer`.
    return strerror_r(code, buffer, sizeof buffer);
}

std::string currentFolder() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string FsError::message() const {
    return displayText(path) + ": " + errorText(code);
}

Folder::~Folder() {
    if (dir_ != nullptr) {
        closedir(static_cast<DIR*>(dir_));
    }
}

Folder::Folder(Folder&& other) noexcept : dir_(other.dir_) {
    other.dir_ = nullptr;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (dir_ != nullptr) {
            closedir(static_cast<DIR*>(dir_));
        }
        dir_ = other.dir_;
        other.dir_ = nullptr;
    }
    return *this;
}

int Folder::fd() const {
    return dir_ != nullptr ? dirfd(static_cast<DIR*>(dir_)) : -1;
}

namespace {

constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

}  // namespace

Folder Folder::openPath(const std::string& path, int& error) {
    error = 0;
    int fd = ::open(path.c_str(), kOpenFlags);
    if (fd < 0) {
        error = errno;
        return {};
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        error = errno;
        ::close(fd);
        return {};
    }
    return Folder(dir);
}

Folder Folder::openBelow(const Folder& base, std::string_view relative, int& error) {
    error = 0;
    // Each openat takes at most PATH_MAX bytes; a deeper path is opened in pieces that end at a
    // "/", so that no path is too long to reach.
    constexpr size_t kPiece = PATH_MAX - 1;
    int current = base.fd();
    int owned = -1;
    std::string piece;
    while (true) {
        size_t take = relative.size();
        if (take > kPiece) {
            take = relative.rfind('/', kPiece);
            if (take == std::string_view::npos || take == 0) {
                error = ENAMETOOLONG;
                break;
            }
        }
        piece.assign(relative.substr(0, take));
        int fd = ::openat(current, piece.c_str(), kOpenFlags | O_NOFOLLOW);
        int openError = errno;
        if (owned >= 0) {
            ::close(owned);
        }
        owned = -1;
        if (fd < 0) {
            error = openError;
            break;
        }
        owned = fd;
        current = fd;
        if (take == relative.size()) {
            DIR* dir = fdopendir(fd);
            if (dir == nullptr) {
                error = errno;
                ::close(fd);
                return {};
            }
            return Folder(dir);
        }
        relative.remove_prefix(take + 1);
    }
    if (owned >= 0) {
        ::close(owned);
    }
    return {};
}

bool Folder::next(std::string_view& name, EntryKind& kind, int& error) {
    error = 0;
    DIR* dir = static_cast<DIR*>(dir_);
    while (true) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            error = errno;
            return false;
        }
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) {
            continue;
        }
        name = std::string_view(n);
        switch (entry->d_type) {
            case DT_DIR:
                kind = EntryKind::Folder;
                break;
            case DT_UNKNOWN:
                kind = EntryKind::Unknown;
                break;
            default:
                kind = EntryKind::NotFolder;
                break;
        }
        return true;
    }
}

EntryStat Folder::stat(const char* name) const {
    EntryStat result;
    struct stat st;
    if (::fstatat(fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        result.error = errno;
        return result;
    }
    result.isFolder = S_ISDIR(st.st_mode);
    result.mtimeSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    return result;
}

uint64_t Folder::device(int& error) const {
    error = 0;
    struct stat st;
    if (::fstat(fd(), &st) != 0) {
        error = errno;
        return 0;
    }
    return static_cast<uint64_t>(st.st_dev);
}

namespace {

// devtmpfs reports the tmpfs magic number, so it is told apart by the mount table.
bool mountedAsDevtmpfs(uint64_t device) {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    const unsigned wantMajor = major(device);
    const unsigned wantMinor = minor(device);
    while (std::getline(mounts, line)) {
        // id parent major:minor root mountpoint options ... - fstype source superoptions
        std::istringstream fields(line);
        std::string id, parent, devField;
        fields >> id >> parent >> devField;
        unsigned maj = 0, min = 0;
        if (std::sscanf(devField.c_str(), "%u:%u", &maj, &min) != 2 || maj != wantMajor ||
            min != wantMinor) {
            continue;
        }
        size_t dash = line.find(" - ");
        if (dash != std::string::npos && line.compare(dash + 3, 9, "devtmpfs ") == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool Folder::onPseudoFileSystem() const {
    struct statfs fs;
    if (::fstatfs(fd(), &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case PSTOREFS_MAGIC:
        case BPF_FS_MAGIC:
        case BINFMTFS_MAGIC:
        case SELINUX_MAGIC:
        case SMACK_MAGIC:
        case EFIVARFS_MAGIC:
        case NSFS_MAGIC:
        case 0x62656570:  // configfs
        case 0x65735543:  // fusectl
        case 0x19800202:  // mqueue
            return true;
        case TMPFS_MAGIC: {
            int error = 0;
            uint64_t dev = device(error);
            return error == 0 && mountedAsDevtmpfs(dev);
        }
        default:
            return false;
    }
}

std::vector<std::string> listSubfolders(const std::string& path) {
    std::vector<std::string> names;
    int error = 0;
    Folder folder = Folder::openPath(path, error);
    if (!folder.isOpen()) {
        return names;
    }
    std::string_view name;
    EntryKind kind;
    while (folder.next(name, kind, error)) {
        if (name[0] == '.') {
            continue;
        }
        if (kind == EntryKind::Folder ||
            (kind == EntryKind::Unknown && folder.stat(name.data()).isFolder)) {
            names.emplace_back(name);
        }
    }
    return names;
}

namespace {

// /proc/self/mounts writes blanks, tabs, newlines and backslashes as octal escapes.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(std::stoi(digits, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

}  // namespace

std::vector<std::string> mountedVolumes() {
    static const char* const kSkipTypes[] = {
        "proc",      "sysfs",       "devtmpfs", "devpts",   "cgroup",    "cgroup2",    "debugfs",
        "tracefs",   "securityfs",  "pstore",   "bpf",      "configfs",  "fusectl",    "mqueue",
        "hugetlbfs", "binfmt_misc", "autofs",   "efivarfs", "selinuxfs", "rpc_pipefs", "nsfs",
        "tmpfs",     "ramfs",       "squashfs", "overlay"};
    static const char* const kSystemPrefixes[] = {"/proc", "/sys",  "/dev",    "/run",
                                                  "/boot", "/snap", "/var/lib"};
    std::vector<std::string> volumes;
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string source, target, type;
        if (!(fields >> source >> target >> type)) {
            continue;
        }
        target = unescapeMountField(target);
        bool skip = target == "/";
        for (const char* t : kSkipTypes) {
            skip = skip || type == t;
        }
        for (const char* prefix : kSystemPrefixes) {
            const std::string p(prefix);
            if (target == p || target.starts_with(p + "/")) {
                skip = skip || !target.starts_with("/run/media/");
            }
        }
        if (!skip && std::find(volumes.begin(), volumes.end(), target) == volumes.end()) {
            volumes.push_back(target);
        }
    }
    return volumes;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace chronosift::platform
