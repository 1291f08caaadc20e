// Putting files back from the trash: the reverse of a move, checked as strictly. The trash folder
// is reached one name at a time without following a link and must still be the one the move
// used, the user's own and closed to others; a record is read without blocking and must still be
// exactly the one written; the file in files/ must be the inode that was moved; and each put-back
// is journaled before the file goes, so a kill between the file and its record leaves nothing
// behind for good (the next run clears it, see records.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "platform/text.h"
#include "trash/records.h"
#include "trash/relocate.h"
#include "trash/trash.h"

namespace chronosift::trash {

using namespace platform;

namespace {

struct Can {
    TrashCan can;
    std::string reason;  // why it cannot be used
};

// Opens the folder at an absolute path one name at a time, following no link.
Fd openNoLinks(const std::string& path, int& error) {
    Fd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    size_t at = 0;
    while (current.ok() && at < path.size()) {
        const size_t begin = path.find_first_not_of('/', at);
        if (begin == std::string::npos) {
            break;
        }
        const size_t end = std::min(path.find('/', begin), path.size());
        const std::string name = path.substr(begin, end - begin);
        current = Fd(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        at = end;
    }
    error = current.ok() ? 0 : errno == ELOOP || errno == ENOTDIR ? kChanged : errno;
    return current;
}

// files/ or info/ of the trash folder: the same folder the move used, the user's, closed to
// others.
Fd openPart(int top, const char* name, const Identity& expected, std::string& reason) {
    Fd fd(::openat(top, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
        reason = "the trash folder cannot be opened: " + errorText(errno);
        return {};
    }
    if (Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} != expected) {
        reason = "the trash folder is not the one it was moved to";
        return {};
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        reason = "the trash folder belongs to someone else or others may write into it";
        return {};
    }
    return fd;
}

void openCan(const TrashOutcome& moved, Can& can) {
    int error = 0;
    const Fd top = openNoLinks(moved.trashFolder, error);
    if (!top.ok()) {
        can.reason = "the trash folder cannot be opened: " + errorText(error);
        return;
    }
    can.can.folder = moved.trashFolder;
    can.can.files = openPart(top.get(), "files", moved.files, can.reason);
    if (can.can.files.ok()) {
        can.can.info = openPart(top.get(), "info", moved.info, can.reason);
    }
}

}  // namespace

std::vector<PutBackOutcome> putBack(const std::vector<TrashItem>& items,
                                    const std::vector<TrashOutcome>& outcomes,
                                    const TrashOptions& options) {
    std::vector<PutBackOutcome> result(items.size());
    std::map<std::string, Can> cans;
    std::map<const FolderRoute*, std::shared_ptr<Fd>> folders;
    const FailHook noHook;
    const FailHook& fail = options.hooks != nullptr ? options.hooks->fail : noHook;
    for (size_t i = 0; i < items.size() && i < outcomes.size(); ++i) {
        if (options.cancel != nullptr && options.cancel->load()) {
            break;
        }
        if (options.progress && i % 256 == 0) {
            options.progress(i);
        }
        const TrashOutcome& moved = outcomes[i];
        if (moved.status != TrashStatus::Moved) {
            continue;
        }
        PutBackOutcome& out = result[i];
        auto [at, added] = cans.try_emplace(moved.trashFolder);
        Can& can = at->second;
        if (added) {
            openCan(moved, can);
        }
        if (!can.reason.empty()) {
            out.reason = can.reason;
            continue;
        }
        const int info = can.can.info.get();
        const std::string infoName = moved.trashedName + kInfoSuffix;
        if (!sameRecord(info, infoName, moved.recordInode, moved.record)) {
            out.reason = "its trash record was removed or changed by another program";
            continue;
        }
        struct stat st;
        if (::fstatat(can.can.files.get(), moved.trashedName.c_str(), &st, AT_SYMLINK_NOFOLLOW) !=
                0 ||
            static_cast<uint64_t>(st.st_ino) != moved.inode) {
            out.reason = "it is no longer in the trash";
            continue;
        }
        std::shared_ptr<Fd>& folder = folders[items[i].folder.get()];
        int error = 0;
        if (folder == nullptr) {
            folder = std::make_shared<Fd>(
                items[i].folder != nullptr ? openRoute(*items[i].folder, error) : -1);
        }
        if (!folder->ok()) {
            out.reason = "its folder " + (error == kChanged || error == 0
                                              ? std::string("changed since the search")
                                              : "cannot be opened: " + errorText(error));
            continue;
        }
        if (const int e = can.can.journalPutBack(infoName, moved.recordInode, moved.record);
            e != 0) {
            out.reason = "cannot write to the trash: " + errorText(e);
            continue;
        }
        const Relocation r = relocate(can.can.files.get(), moved.trashedName, folder->get(),
                                      items[i].name, moved.inode, fail);
        if (r.state == Relocation::Stranded) {
            const std::string where = r.strandedIn == folder->get()
                                          ? items[i].folder->realPath() + "/" + r.strandedAs
                                          : moved.trashFolder + "/files/" + r.strandedAs;
            out.reason = "a file that is not the one moved took its name; it is now at " +
                         displayText(where);
            continue;
        }
        if (r.state != Relocation::Moved) {
            out.reason = r.error == EEXIST     ? "its place is taken now"
                         : r.error == kChanged ? "it is no longer the file that was moved"
                                               : errorText(r.error);
            continue;
        }
        out.putBack = true;
        if (options.hooks != nullptr && options.hooks->afterPutBack) {
            options.hooks->afterPutBack();
        }
        // A record left behind would name a file that is no longer in the trash.
        error = removeRecordIfSame(info, infoName, moved.recordInode, moved.record, fail);
        if (error != 0) {
            out.reason = error == kChanged
                             ? "its trash record was changed by another program and was left"
                             : "its trash record could not be removed: " + errorText(error);
        }
    }
    if (options.progress) {
        options.progress(items.size());
    }
    return result;
}

}  // namespace chronosift::trash
