#include "platform/trash_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

bool placeOf(int folder, const char* name, VolumePlace& place) {
    struct statx sx;
    const int flags = (name[0] == '\0' ? AT_EMPTY_PATH : 0) | AT_SYMLINK_NOFOLLOW;
    if (::statx(folder, name, flags, STATX_INO | STATX_MNT_ID, &sx) != 0) {
        return false;
    }
    place.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    place.mount = (sx.stx_mask & STATX_MNT_ID) != 0 ? sx.stx_mnt_id : 0;
    place.inode = sx.stx_ino;
    return true;
}

bool isVolumeTop(const VolumePlace& folder, const VolumePlace& parent) {
    // ".." of "/" is "/" itself.
    return !folder.sameMount(parent) || folder.inode == parent.inode;
}

bool isTrashName(std::string_view name) {
    return name == ".Trash" || name.starts_with(".Trash-");
}

std::string trashFolderAround(const std::string& realPath) {
    const Identity home = homeTrashIdentity();
    Fd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    VolumePlace here, parent;
    if (!current.ok() || !placeOf(current.get(), "", here)) {
        return {};
    }
    parent = here;  // "/" is its own parent
    std::string_view rest(realPath);
    std::string path;
    while (true) {
        const size_t skip = rest.find_first_not_of('/');
        if (skip == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(skip);
        const std::string name(rest.substr(0, std::min(rest.find('/'), rest.size())));
        rest.remove_prefix(name.size());
        Fd next(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        path += "/" + name;
        VolumePlace there;
        if (!next.ok() || !placeOf(next.get(), "", there)) {
            break;
        }
        if ((home.inode != 0 && Identity{there.device, there.inode} == home) ||
            (isVolumeTop(here, parent) && isTrashName(name))) {
            return path;
        }
        current = std::move(next);
        parent = here;
        here = there;
    }
    return {};
}

}  // namespace chronosift::platform
