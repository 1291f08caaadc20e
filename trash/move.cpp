// Moving listed files to the trash, in batches: check each file, write its record, sync the
// records once, then move the files.
#include "trash/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <utility>

#include "platform/text.h"
#include "platform/trash_folders.h"
#include "trash/proven.h"
#include "trash/records.h"
#include "trash/relocate.h"

namespace chronosift::trash {

using namespace platform;

namespace {

constexpr size_t kFirstBatch = 16;
constexpr size_t kLargestBatch = 1024;
constexpr char kChangedReason[] = "it changed since the search";

std::string deletionDate() {
    const time_t now = ::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    return buffer;
}

}  // namespace

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
        // Never end in the middle of a UTF-8 sequence, which is at most four bytes long; bytes
        // that are no UTF-8 at all are cut anywhere.
        for (int back = 0;
             back < 3 && cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80;
             ++back) {
            --cut;
        }
        if ((static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
            cut = limit - suffix.size() - ext.size();
        }
        stem = stem.substr(0, cut);
        // A shortened name is never empty and never hidden.
        stem.remove_prefix(std::min(stem.size(), stem.find_first_not_of('.')));
        if (stem.empty()) {
            stem = "file";
        }
    }
    std::string out;
    out.reserve(stem.size() + suffix.size() + ext.size());
    out.append(stem).append(suffix).append(ext);
    return out;
}

TrashItem trashItemFor(const std::string& path) {
    TrashItem item;
    item.path = path;
    const size_t slash = path.rfind('/');
    auto route = std::make_shared<FolderRoute>();
    if (slash != std::string::npos) {
        item.name = path.substr(slash + 1);
        route->rowPath = path.substr(0, slash);
        int error = 0;
        const Folder folder = Folder::openPath(slash == 0 ? "/" : route->rowPath, error);
        if (folder.isOpen()) {
            route->row = folder.identity(error);
            const std::string real = folder.realPath();
            route->rowPath = real == "/" ? "" : real;
            struct statx sx;
            if (statEntry(folder.fd(), item.name.c_str(), sx) == 0) {
                item.identity = FileIdentity::of(sx);
            }
        }
    }
    item.folder = std::move(route);
    return item;
}

struct Trash::Batch {
    struct Pending {
        size_t item = 0;
        TrashCan* can = nullptr;
        std::shared_ptr<Fd> folder;
        std::string content;
        std::string filesName;
        uint32_t clash = 1;
        uint64_t inode = 0;
        uint64_t recordInode = 0;
    };
    const std::vector<TrashItem>& items;
    std::vector<TrashOutcome>& outcomes;
    std::vector<Pending> pending;
    std::map<const FolderRoute*, std::shared_ptr<Fd>> folders;  // opened in this batch
    struct Where {
        TrashCan* can = nullptr;
        std::string relative;
        std::string reason;
    };
    std::map<const FolderRoute*, Where> places;  // for the whole call
};

namespace {

// Takes the next free name in the can and writes the record under it. 0 or errno.
int reserve(TrashCan& can, const std::string& name, std::string& filesName, uint32_t& clash,
            const std::string& content) {
    for (int attempts = 0; attempts < 100000; ++attempts, ++clash) {
        filesName = trashName(name, clash, can.nameLimit);
        struct stat st;
        if (::fstatat(can.files.get(), filesName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            continue;  // a file of that name without its record
        }
        const int error = can.writeRecord(filesName + kInfoSuffix, content);
        if (error == EEXIST) {
            continue;
        }
        if (error == ENAMETOOLONG && can.nameLimit > 143 - kInfoSuffixLength) {
            // A file system with shorter names (such as eCryptfs): once more, shorter.
            can.nameLimit = 143 - kInfoSuffixLength;
            --clash;
            continue;
        }
        return error;
    }
    return EEXIST;
}

}  // namespace

void Trash::prepare(Batch& batch, size_t i, const TrashItem& item, const TrashOptions& options) {
    TrashOutcome& outcome = batch.outcomes[i];
    outcome.status = TrashStatus::Failed;
    if (options.hooks != nullptr && options.hooks->beforeOpen) {
        options.hooks->beforeOpen(item.path);
    }
    const FolderRoute* route = item.folder.get();
    std::shared_ptr<Fd>& folder = batch.folders[route];
    int error = 0;
    if (folder == nullptr) {
        folder = std::make_shared<Fd>(route != nullptr ? openRoute(*route, error) : -1);
        error = route == nullptr ? EINVAL : error;
    }
    struct statx st;
    if (folder->ok()) {
        error = statEntry(folder->get(), item.name.c_str(), st);
    } else if (error == 0) {
        error = kChanged;  // this folder failed for an earlier file of the batch
    }
    if (error != 0) {
        outcome.status = error == ENOENT ? TrashStatus::Missing : TrashStatus::Failed;
        outcome.reason = error == kChanged ? kChangedReason : errorText(error);
        batch.folders.erase(route);  // the next file tries again
        return;
    }
    if (S_ISDIR(st.stx_mode)) {
        outcome.reason = "it is a folder now";
        return;
    }
    if (!item.identity.matches(st)) {
        outcome.reason = kChangedReason;
        return;
    }
    auto where = batch.places.find(route);
    if (where == batch.places.end()) {
        Batch::Where w;
        if (const std::string inTrash = trashFolderAround(route->realPath()); !inTrash.empty()) {
            w.reason = errorText(kInTrash) + " (" + displayText(inTrash) + ")";
        } else {
            w.can = canFor(folder->get(), *route, w.relative, w.reason);
        }
        where = batch.places.emplace(route, std::move(w)).first;
    }
    TrashCan* can = where->second.can;
    if (can == nullptr) {
        outcome.reason = where->second.reason;
        return;
    }
    std::string original;
    if (can->relative) {
        original =
            where->second.relative.empty() ? item.name : where->second.relative + "/" + item.name;
    } else {
        original = route->realPath();
        original += (original == "/" ? "" : "/") + item.name;
    }
    Batch::Pending p;
    p.item = i;
    p.can = can;
    p.folder = folder;
    p.inode = st.stx_ino;
    p.content =
        "[Trash Info]\nPath=" + trashInfoPath(original) + "\nDeletionDate=" + deletionDate() + "\n";
    p.clash = can->next.count(item.name) != 0 ? can->next[item.name] : 1;
    error = reserve(*can, item.name, p.filesName, p.clash, p.content);
    if (error != 0) {
        outcome.reason = "cannot write to the trash: " + errorText(error);
        return;
    }
    can->next[item.name] = p.clash + 1;
    p.recordInode = can->lastRecordInode;
    outcome.status = TrashStatus::NotTried;  // until it moves
    batch.pending.push_back(std::move(p));
}

void Trash::moveFile(Batch& batch, size_t k, const TrashOptions& options) {
    Batch::Pending& p = batch.pending[k];
    const TrashItem& item = batch.items[p.item];
    TrashOutcome& outcome = batch.outcomes[p.item];
    TrashCan& can = *p.can;
    const int folder = p.folder->get();
    // The record's name follows p.filesName, which a clash below may change.
    auto fail = [&](TrashStatus status, std::string why) {
        if (const int error = can.dropRecord(p.filesName + kInfoSuffix, p.recordInode, p.content);
            error != 0) {
            why += " (and its trash record could not be removed: " + errorText(error) + ")";
        }
        outcome.status = status;
        outcome.reason = std::move(why);
    };
    if (options.cancel != nullptr && options.cancel->load()) {
        fail(TrashStatus::NotTried, {});
        return;
    }
    std::string note;
    for (int attempt = 0;; ++attempt) {
        const Relocation r =
            relocate(folder, item.name, can.files.get(), p.filesName, p.inode,
                     [&](const std::string& ownFrom, const std::string& ownTo) {
                         return can.journalMove(p.inode, ownFrom, ownTo,
                                                item.folder->realPath() + "/" + item.name,
                                                can.folder + "/files/" + p.filesName);
                     });
        if (r.state == Relocation::Moved) {
            if (!r.strandedAs.empty()) {
                note = "a file saved under its name while it moved is now at " +
                       displayText(item.folder->realPath() + "/" + r.strandedAs);
            }
            break;
        }
        if (r.state == Relocation::Stranded) {
            // A file that was not the checked one reached files/, or left its name, and could
            // not be given back: say exactly where it is, so nothing is hidden.
            std::string where =
                (r.strandedIn == folder ? item.folder->realPath() : can.folder + "/files") + "/" +
                r.strandedAs;
            fail(TrashStatus::Failed,
                 std::string(r.error == kChanged ? kChangedReason : errorText(r.error)) +
                     "; a file that took its name is now at " + displayText(where) +
                     " and could not be put back");
            return;
        }
        if (r.error == EEXIST && attempt < 3) {
            // A file of that name arrived in files/ meanwhile: take the next name.
            can.dropRecord(p.filesName + kInfoSuffix, p.recordInode, p.content);
            ++p.clash;
            int error = reserve(can, item.name, p.filesName, p.clash, p.content);
            p.recordInode = can.lastRecordInode;
            error = error != 0 ? error : can.sync();
            if (error != 0) {
                outcome.status = TrashStatus::Failed;
                outcome.reason = "cannot write to the trash: " + errorText(error);
                return;
            }
            continue;
        }
        struct stat st;
        const bool gone = r.error != kChanged &&
                          ::fstatat(folder, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
                          errno == ENOENT;
        fail(gone ? TrashStatus::Missing : TrashStatus::Failed,
             r.error == kChanged ? kChangedReason : errorText(r.error));
        return;
    }
    if (!can.note.empty()) {  // what its trash folder's clean-up left alone, said once
        note += (note.empty() ? "" : "; ") + std::exchange(can.note, {});
    }
    outcome.status = TrashStatus::Moved;
    outcome.reason = std::move(note);
    outcome.trashedAs = can.folder + "/files/" + p.filesName;
    outcome.trashFolder = can.folder;
    outcome.trashedName = p.filesName;
    outcome.inode = p.inode;
    outcome.record = std::move(p.content);
    outcome.recordInode = p.recordInode;
    outcome.files = can.filesId;
    outcome.info = can.infoId;
}

std::vector<TrashOutcome> Trash::moveAll(const std::vector<TrashItem>& items,
                                         const TrashOptions& options) {
    const HookScope hooks(options.hooks != nullptr ? &options.hooks->fail : nullptr);
    std::vector<TrashOutcome> outcomes(items.size());
    Batch batch{items, outcomes, {}, {}, {}};
    size_t size = kFirstBatch;
    for (size_t begin = 0; begin < items.size(); size = std::min(size * 2, kLargestBatch)) {
        const size_t end = std::min(items.size(), begin + size);
        batch.pending.clear();
        batch.folders.clear();
        for (size_t i = begin; i < end; ++i) {
            if (options.cancel != nullptr && options.cancel->load()) {
                break;
            }
            prepare(batch, i, items[i], options);
        }
        // Every record reaches the disk before its file moves.
        for (Batch::Pending& p : batch.pending) {
            if (const int error = p.can->sync(); error != 0) {
                p.can->dropRecord(p.filesName + kInfoSuffix, p.recordInode, p.content);
                outcomes[p.item].status = TrashStatus::Failed;
                outcomes[p.item].reason = "cannot write to the trash: " + errorText(error);
                p.can = nullptr;
            }
        }
        for (size_t k = 0; k < batch.pending.size(); ++k) {
            if (batch.pending[k].can != nullptr) {
                moveFile(batch, k, options);
            }
        }
        begin = end;
        if (options.progress) {
            options.progress(end);
        }
        if (options.cancel != nullptr && options.cancel->load()) {
            break;  // the rest stay NotTried
        }
    }
    if (home_ != nullptr) {
        home_->endRun();
    }
    for (auto& [top, can] : cans_) {
        can->endRun();
    }
    return outcomes;
}

}  // namespace chronosift::trash
