#include "platform/trash_folders.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

#include "platform/fd.h"

namespace chronosift::platform {

std::string homeTrashPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::string(data) + "/Trash";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/Trash";
    }
    return {};
}

Identity homeTrashIdentity() {
    const std::string path = homeTrashPath();
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

namespace {

bool isMountRootFd(int fd) {
    struct statx sx;
    return ::statx(fd, "", AT_EMPTY_PATH, 0, &sx) == 0 &&
           (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

}  // namespace

std::string trashFolderAround(const std::string& realPath) {
    const Identity home = homeTrashIdentity();
    Fd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string_view rest(realPath);
    std::string path;
    while (current.ok()) {
        const size_t skip = rest.find_first_not_of('/');
        if (skip == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(skip);
        const std::string name(rest.substr(0, std::min(rest.find('/'), rest.size())));
        rest.remove_prefix(name.size());
        const bool parentIsTop = isMountRootFd(current.get());
        Fd next(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        path += "/" + name;
        struct stat st;
        if (!next.ok() || ::fstat(next.get(), &st) != 0) {
            break;
        }
        const Identity id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        if ((home.inode != 0 && id == home) ||
            (parentIsTop && (name == ".Trash" || name.starts_with(".Trash-")))) {
            return path;
        }
        current = std::move(next);
    }
    return {};
}

}  // namespace chronosift::platform
