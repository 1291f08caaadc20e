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
#include "trash/proven.h"
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
    if (can.can.info.ok()) {
        // Undo is a run like any other: what a killed move or Undo left is cleared up first.
        can.can.filesId = moved.files;
        can.can.infoId = moved.info;
        can.can.clearDeadRuns();
    }
}

constexpr size_t kBatch = 256;

// Whether a moved file may go back: its trash folder, its record and the inode in files/ are
// still the move's, and its folder can be reopened. Journals it when so.
bool check(const TrashItem& item, const TrashOutcome& moved, Can& can, std::shared_ptr<Fd>& folder,
           PutBackOutcome& out) {
    if (!can.reason.empty()) {
        out.retry = true;  // still in the trash as it was
        out.reason = can.reason;
        return false;
    }
    int error = 0;
    if (folder == nullptr) {
        folder = std::make_shared<Fd>(item.folder != nullptr ? openRoute(*item.folder, error) : -1);
    }
    const std::string infoName = moved.trashedName + kInfoSuffix;
    const bool sameRecordNow =
        sameRecord(can.can.info.get(), infoName, moved.recordInode, moved.record);
    struct stat st;
    const bool inTrash =
        ::fstatat(can.can.files.get(), moved.trashedName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        Identity::of(st) == Identity{moved.files.device, moved.inode};
    if (!sameRecordNow || !inTrash) {
        // Put back by an Undo that was killed before it could say so; a record it left (where
        // the clean-up could not run) goes too.
        out.putBack =
            !inTrash && folder->ok() &&
            identityAt(folder->get(), item.name) == Identity{moved.files.device, moved.inode};
        if (out.putBack && sameRecordNow) {
            can.can.dropRecord(infoName, moved.recordInode, moved.record);
        }
        out.reason = out.putBack      ? ""
                     : !sameRecordNow ? "its trash record was removed or changed by another program"
                                      : "it is no longer in the trash";
        return false;
    }
    if (!folder->ok()) {
        out.retry = true;  // still in the trash as it was
        out.reason = "its folder " + (error == kChanged || error == 0
                                          ? std::string("changed since the search")
                                          : "cannot be opened: " + errorText(error));
        return false;
    }
    if (const int e = can.can.journalPutBack(infoName, moved.recordInode, moved.record); e != 0) {
        out.retry = true;  // still in the trash as it was
        out.reason = "cannot write to the trash: " + errorText(e);
        return false;
    }
    return true;
}

void putOneBack(const TrashItem& item, const TrashOutcome& moved, Can& can, int folder,
                const TrashHooks* hooks, PutBackOutcome& out) {
    const Relocation r =
        relocate(can.can.files.get(), moved.trashedName, folder, item.name, moved.inode,
                 [&](const std::string& ownFrom, const std::string& ownTo) {
                     return can.can.journalMove(moved.inode, ownFrom, ownTo,
                                                moved.trashFolder + "/files/" + moved.trashedName,
                                                item.folder->realPath() + "/" + item.name);
                 });
    if (r.state == Relocation::Stranded) {
        const std::string where = r.strandedIn == folder
                                      ? item.folder->realPath() + "/" + r.strandedAs
                                      : moved.trashFolder + "/files/" + r.strandedAs;
        out.reason =
            "a file that is not the one moved took its name; it is now at " + displayText(where);
        return;
    }
    if (r.state != Relocation::Moved) {
        out.retry = r.error != kChanged;  // still in the trash as it was
        out.reason = r.error == EEXIST     ? "its place is taken now"
                     : r.error == kChanged ? "it is no longer the file that was moved"
                                           : errorText(r.error);
        return;
    }
    out.putBack = true;
    if (!r.strandedAs.empty()) {
        out.reason = "a file put in the trash under its name meanwhile is now at " +
                     displayText(moved.trashFolder + "/files/" + r.strandedAs);
    }
    if (hooks != nullptr && hooks->afterPutBack) {
        hooks->afterPutBack();
    }
    // A record left behind would name a file that is no longer in the trash.
    const int error =
        can.can.dropRecord(moved.trashedName + kInfoSuffix, moved.recordInode, moved.record);
    if (error != 0) {
        out.reason = error == kChanged
                         ? "its trash record was changed by another program and was left"
                         : "its trash record could not be removed: " + errorText(error);
    }
}

}  // namespace

std::vector<PutBackOutcome> putBack(const std::vector<TrashItem>& items,
                                    const std::vector<TrashOutcome>& outcomes,
                                    const TrashOptions& options) {
    std::vector<PutBackOutcome> result(items.size());
    // Before the cans, so that their journals' ends are asked too.
    const HookScope hooks(options.hooks != nullptr ? &options.hooks->fail : nullptr);
    std::map<std::string, Can> cans;
    std::map<const FolderRoute*, std::shared_ptr<Fd>> folders;
    const auto cancelled = [&] { return options.cancel != nullptr && options.cancel->load(); };
    struct Ready {
        size_t item;
        Can* can;
        std::shared_ptr<Fd> folder;
    };
    std::vector<Ready> ready;
    for (size_t begin = 0; begin < items.size() && begin < outcomes.size() && !cancelled();
         begin += kBatch) {
        if (options.progress) {
            options.progress(begin);
        }
        // First every check and journal entry of the batch, with one sync, then the moves.
        ready.clear();
        for (size_t i = begin; i < begin + kBatch && i < items.size() && i < outcomes.size(); ++i) {
            if (outcomes[i].status != TrashStatus::Moved) {
                continue;
            }
            auto [at, added] = cans.try_emplace(outcomes[i].trashFolder);
            if (added) {
                openCan(outcomes[i], at->second);
            }
            std::shared_ptr<Fd>& folder = folders[items[i].folder.get()];
            if (check(items[i], outcomes[i], at->second, folder, result[i])) {
                ready.push_back({i, &at->second, folder});
            }
        }
        for (auto& [path, can] : cans) {
            if (const int e = can.can.syncJournal(); e != 0 && can.reason.empty()) {
                can.reason = "cannot write to the trash: " + errorText(e);
            }
        }
        for (const Ready& r : ready) {
            if (cancelled()) {
                break;
            }
            if (!r.can->reason.empty()) {
                result[r.item].retry = true;  // still in the trash as it was
                result[r.item].reason = r.can->reason;
                continue;
            }
            putOneBack(items[r.item], outcomes[r.item], *r.can, r.folder->get(), options.hooks,
                       result[r.item]);
        }
    }
    if (options.progress) {
        options.progress(items.size());
    }
    return result;
}

}  // namespace chronosift::trash
