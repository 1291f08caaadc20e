#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sched.h>
#include <sys/resource.h>
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

#include "platform/fd.h"
#include "platform/text.h"

namespace chronosift::platform {

std::string errorText(int code) {
    if (code == kChanged) {
        return "it changed since it was listed";
    }
    if (code == kInTrash) {
        return "it is inside a trash folder";
    }
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

namespace {

constexpr uint64_t mix(uint64_t x) {
    // splitmix64's finaliser: every input bit reaches every output bit.
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

Identity Identity::of(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

uint64_t fileFingerprint(uint64_t inode, uint32_t mtimeNanos, uint64_t birthNanos) {
    return mix(mix(mix(inode) ^ mtimeNanos) ^ birthNanos);
}

int statEntry(int folder, const char* name, struct statx& sx) {
    constexpr unsigned kMask =
        STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME;
    return ::statx(folder, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kMask, &sx) == 0
               ? 0
               : errno;
}

FileIdentity FileIdentity::of(const struct statx& sx) {
    // Where the file system keeps no birth time, the same 0 at listing and at the check.
    const uint64_t birth =
        (sx.stx_mask & STATX_BTIME) != 0
            ? static_cast<uint64_t>(sx.stx_btime.tv_sec) * 1000000000u + sx.stx_btime.tv_nsec
            : 0;
    return {true, static_cast<int64_t>(sx.stx_mtime.tv_sec), static_cast<uint64_t>(sx.stx_size),
            fileFingerprint(sx.stx_ino, sx.stx_mtime.tv_nsec, birth)};
}

bool FileIdentity::matches(const struct statx& sx) const {
    const FileIdentity now = of(sx);
    return known && now.mtimeSeconds == mtimeSeconds && now.size == size &&
           now.fingerprint == fingerprint;
}

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

Folder Folder::openChild(const Folder& parent, const char* name, const Identity& listed,
                         int& error) {
    error = 0;
    Fd fd(::openat(parent.fd(), name, kOpenFlags | O_NOFOLLOW));
    struct stat own;
    if (!fd.ok()) {
        // A link or a file under the name now: not the folder that was listed.
        error = errno == ELOOP || errno == ENOTDIR ? kChanged : errno;
        return {};
    }
    if (::fstat(fd.get(), &own) != 0) {
        error = errno;
        return {};
    }
    if (Identity::of(own) != listed) {
        error = kChanged;
        return {};
    }
    DIR* dir = fdopendir(fd.get());
    if (dir == nullptr) {
        error = errno;
        return {};
    }
    fd.release();
    return Folder(dir);
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
    struct statx sx;
    if ((result.error = statEntry(fd(), name, sx)) != 0) {
        return result;
    }
    result.isFolder = S_ISDIR(sx.stx_mode);
    const FileIdentity id = FileIdentity::of(sx);
    result.mtimeSeconds = id.mtimeSeconds;
    result.size = id.size;
    result.fingerprint = id.fingerprint;
    result.id = {makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
    return result;
}

Identity Folder::identity(int& error) const {
    error = 0;
    struct stat st;
    if (::fstat(fd(), &st) != 0) {
        error = errno;
        return {};
    }
    return Identity::of(st);
}

std::string Folder::realPath() const {
    // The kernel's own name for the open folder, so no path text is trusted.
    const std::string link = "/proc/self/fd/" + std::to_string(fd());
    std::string out(PATH_MAX, '\0');
    const ssize_t n = ::readlink(link.c_str(), out.data(), out.size());
    if (n <= 0 || static_cast<size_t>(n) >= out.size() || out[0] != '/') {
        return {};
    }
    out.resize(static_cast<size_t>(n));
    return out;
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
            const Identity id = identity(error);
            return error == 0 && mountedAsDevtmpfs(id.device);
        }
        default:
            return false;
    }
}

std::vector<std::string> listSubfolders(const std::string& path, bool hidden, size_t limit) {
    std::vector<std::string> names;
    int error = 0;
    Folder folder = Folder::openPath(path, error);
    if (!folder.isOpen()) {
        return names;
    }
    std::string_view name;
    EntryKind kind;
    while (names.size() < limit && folder.next(name, kind, error)) {
        if (name[0] == '.' && !hidden) {
            continue;
        }
        if (kind == EntryKind::Folder ||
            (kind == EntryKind::Unknown && folder.stat(name.data()).isFolder)) {
            names.emplace_back(name);
        }
    }
    return names;
}

unsigned usableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

uint64_t blocksReadFromDevice() {
    struct rusage usage;
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? static_cast<uint64_t>(usage.ru_inblock) : 0;
}

Storage Folder::storage() const {
    struct statfs fs;
    if (::fstatfs(fd(), &fs) != 0) {
        return Storage::Local;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
        case TMPFS_MAGIC:
        case RAMFS_MAGIC:
            return Storage::Memory;
        case NFS_SUPER_MAGIC:
        case SMB_SUPER_MAGIC:
        case CODA_SUPER_MAGIC:
        case AFS_SUPER_MAGIC:
        case V9FS_MAGIC:
        case 0xFF534D42:  // cifs
        case 0xFE534D42:  // smb2
        case 0x65735546:  // fuse: sshfs, rclone, s3fs and the like
        case 0x00C36400:  // ceph
        case 0x47504653:  // gpfs
        case 0x0BD00BD0:  // lustre
        case 0x6B414653:  // kafs
            return Storage::Network;
        default:
            return Storage::Local;
    }
}

size_t raiseOpenFileLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t old = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            limit.rlim_cur = old;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? size_t{1} << 20 : static_cast<size_t>(limit.rlim_cur);
}

bool isFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace chronosift::platform
