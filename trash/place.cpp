// Which trash folder a file goes to: the home trash on its own mount, else its volume's.
#include <fcntl.h>
#include <sys/stat.h>
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

// The home trash, made when missing. $XDG_DATA_HOME or $HOME may lead there through links the
// user set up; the path it really has is kept in `realPath`, so that Undo can reach it again
// without following any. Like every trash folder of the user's it must be hers, and it is closed
// to 0700 when others could write into it (they could rename its files/ or info/ away).
Folder openHomeTrash(const std::string& path, std::string& realPath, std::string& reason) {
    int error = 0;
    Folder top;
    if (makeFolders(path, error)) {
        top = Folder::openPath(path, error);
    }
    struct stat st;
    if (!top.isOpen() || ::fstat(top.fd(), &st) != 0) {
        reason = errorText(error != 0 ? error : errno);
        return {};
    }
    if (st.st_uid != ::geteuid()) {
        reason = "the trash folder belongs to someone else";
        return {};
    }
    if ((st.st_mode & 022) != 0 && ::fchmod(top.fd(), 0700) != 0) {
        reason = "others may write into the trash folder, and it cannot be closed to them: " +
                 errorText(errno);
        return {};
    }
    realPath = top.realPath();
    if (realPath.empty()) {
        realPath = path;
    }
    return top;
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
        // Links on the way are the user's own setup, so they are followed here.
        while (true) {
            const Fd at(::open(probe.c_str(), O_PATH | O_CLOEXEC));
            if ((at.ok() && placeOf(at.get(), "", homePlace_)) || probe.size() <= 1) {
                break;
            }
            probe.resize(std::max<size_t>(1, probe.rfind('/')));
        }
    }
    if (!homeTrash_.empty() && homePlace_.sameMount(here)) {
        if (home_ == nullptr) {
            auto can = std::make_unique<TrashCan>();
            std::string why;
            const Folder top = openHomeTrash(homeTrash_, can->folder, why);
            if (!top.isOpen() || !can->open(top.fd(), why)) {
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
        if (!up.ok() || !placeOf(up.get(), "", above) || isVolumeTop(at, above)) {
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
