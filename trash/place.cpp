// Which trash folder a file goes to: the home trash on its own mount, else its volume's.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text.h"
#include "platform/trash_folders.h"
#include "trash/records.h"
#include "trash/trash.h"

namespace chronosift::trash {

using namespace platform;

namespace {

using Place = Trash::Place;

bool placeOf(int fd, const char* name, Place& place) {
    struct statx sx;
    if (::statx(fd, name, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_MNT_ID, &sx) !=
        0) {
        return false;
    }
    place.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    place.mount = (sx.stx_mask & STATX_MNT_ID) != 0 ? sx.stx_mnt_id : 0;
    place.inode = sx.stx_ino;
    return true;
}

// Makes every missing folder of an absolute path, each of mode 0700.
bool makeFolders(const std::string& path, int& error) {
    error = 0;
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            if (::mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) {
                error = errno;
                return false;
            }
        }
    }
    return true;
}

}  // namespace

// The same home trash the walk leaves out, by the same rule.
Trash::Trash() : homeTrash_(homeTrashPath()) {}

Trash::~Trash() = default;

TrashCan* Trash::canFor(int folder, const FolderRoute& route, std::string& relative,
                        std::string& reason) {
    Place here;
    if (!placeOf(folder, "", here)) {
        reason = errorText(errno);
        return nullptr;
    }
    relative.clear();

    // The home trash, when the file is on the mount that holds it (or would hold it).
    if (!homeTrash_.empty() && !homeTried_) {
        homeTried_ = true;
        std::string probe = homeTrash_;
        while (!placeOf(AT_FDCWD, probe.c_str(), homePlace_) && probe.size() > 1) {
            probe.resize(std::max<size_t>(1, probe.rfind('/')));
        }
    }
    if (!homeTrash_.empty() && homePlace_.sameMount(here)) {
        if (home_ == nullptr) {
            int error = 0;
            Fd top;
            if (makeFolders(homeTrash_, error)) {
                top = Fd(::open(homeTrash_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                error = top.ok() ? 0 : errno;
            }
            auto can = std::make_unique<TrashCan>();
            can->folder = homeTrash_;
            std::string why = error != 0 ? errorText(error) : std::string();
            if (!top.ok() || !can->open(top.get(), why)) {
                reason = "cannot use the trash folder " + displayText(homeTrash_) + ": " + why;
                return nullptr;
            }
            home_ = std::move(can);
        }
        return home_.get();
    }

    // The volume's top folder: up the real folders while the mount stays the same.
    Fd current(::openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    size_t steps = 0;
    Place at = here;
    while (current.ok()) {
        Fd up(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        Place above;
        if (!up.ok() || !placeOf(up.get(), "", above) || !above.sameMount(here) ||
            above.inode == at.inode) {
            break;
        }
        current = std::move(up);
        at = above;
        ++steps;
    }
    // The folder's real path, less one name a step, is the top's path; check that it names the
    // folder reached, so no path text can put a record elsewhere.
    std::string top = route.realPath();
    for (size_t i = 0; i < steps && top.size() > 1; ++i) {
        const size_t slash = top.rfind('/');
        relative = top.substr(slash + 1) + (relative.empty() ? "" : "/") + relative;
        top.resize(slash == 0 ? 1 : slash);
    }
    int error = 0;
    FolderRoute topRoute{top == "/" ? "" : top, {here.device, at.inode}, {}};
    Fd topCheck(current.ok() ? openRoute(topRoute, error) : -1);
    if (!topCheck.ok()) {
        reason = "cannot tell where its volume begins";
        return nullptr;
    }
    if (auto it = cans_.find(top); it != cans_.end()) {
        return it->second.get();
    }

    auto can = std::make_unique<TrashCan>();
    can->topdir = top == "/" ? "" : top;
    can->relative = true;
    const std::string uid = std::to_string(::geteuid());
    Fd topFd(::openat(current.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));

    // $topdir/.Trash/$uid, only when .Trash is a real folder with the sticky bit.
    struct stat shared;
    if (topFd.ok() && ::fstatat(topFd.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0) {
        Fd sharedFd(
            ::openat(topFd.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        std::string ignored;
        bool wasOpen = false;
        Fd mine =
            sharedFd.ok() ? openOwnFolder(sharedFd.get(), uid.c_str(), ignored, &wasOpen) : Fd();
        can->folder = can->topdir + "/.Trash/" + uid;
        if (!mine.ok() || !can->open(mine.get(), ignored, wasOpen)) {
            can->files.reset();
            can->info.reset();
        }
    }
    // Failing that, $topdir/.Trash-$uid.
    if (!can->info.ok()) {
        const std::string name = ".Trash-" + uid;
        can->folder = can->topdir + "/" + name;
        bool wasOpen = false;
        Fd mine = topFd.ok() ? openOwnFolder(topFd.get(), name.c_str(), reason, &wasOpen) : Fd();
        if (!mine.ok() || !can->open(mine.get(), reason, wasOpen)) {
            reason = "cannot use the trash folder " + displayText(can->folder) + ": " +
                     (reason.empty() ? errorText(errno) : reason);
            return nullptr;
        }
    }
    // A rename cannot leave the mount, and a copy is never made.
    Place filesPlace;
    if (!placeOf(can->files.get(), "", filesPlace) || !filesPlace.sameMount(here)) {
        reason = "the trash folder " + displayText(can->folder) + " is on another device";
        return nullptr;
    }
    TrashCan* result = can.get();
    cans_.emplace(top, std::move(can));
    return result;
}

}  // namespace chronosift::trash
