// Putting files back from the trash: the reverse of a move, checked the same way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "platform/text.h"
#include "trash/records.h"
#include "trash/trash.h"

namespace chronosift::trash {

using namespace platform;

namespace {

struct Can {
    Fd files;
    Fd info;
    std::string reason;  // why it cannot be used
};

void openCan(const std::string& folder, Can& can) {
    const Fd top(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const auto sub = [&](const char* name, int mode) {
        return Fd(top.ok() ? ::openat(top.get(), name, mode | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                           : -1);
    };
    can.files = sub("files", O_PATH);
    // errno is that of the first call that failed: the later ones are not made.
    if (!top.ok() || !can.files.ok() || !(can.info = sub("info", O_RDONLY)).ok()) {
        can.reason = "the trash folder cannot be opened: " + errorText(errno);
    }
}

// Whether info/`name` is still the record that was written.
bool recordIsOurs(const Can& can, const std::string& name, const std::string& record) {
    const Fd fd(::openat(can.info.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return fd.ok() && readAll(fd.get()) == record;
}

}  // namespace

std::vector<PutBackOutcome> putBack(const std::vector<TrashItem>& items,
                                    const std::vector<TrashOutcome>& outcomes,
                                    const TrashOptions& options) {
    std::vector<PutBackOutcome> result(items.size());
    std::map<std::string, Can> cans;
    std::map<const FolderRoute*, std::shared_ptr<Fd>> folders;
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
            openCan(moved.trashFolder, can);
        }
        if (!can.reason.empty()) {
            out.reason = can.reason;
            continue;
        }
        const std::string infoName = moved.trashedName + kInfoSuffix;
        if (!recordIsOurs(can, infoName, moved.record)) {
            out.reason = "its trash record was removed or changed by another program";
            continue;
        }
        struct stat st;
        if (::fstatat(can.files.get(), moved.trashedName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_ino != moved.inode) {
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
        error = renameNoReplace(can.files.get(), moved.trashedName.c_str(), folder->get(),
                                items[i].name.c_str(),
                                options.hooks != nullptr ? options.hooks->fail : nullptr);
        if (error != 0) {
            out.reason = error == EEXIST ? "its place is taken now" : errorText(error);
            continue;
        }
        out.putBack = true;
        // A record left behind would name a file that is no longer in the trash.
        if (::unlinkat(can.info.get(), infoName.c_str(), 0) != 0) {
            out.reason = "its trash record could not be removed: " + errorText(errno);
        }
    }
    if (options.progress) {
        options.progress(items.size());
    }
    return result;
}

}  // namespace chronosift::trash
