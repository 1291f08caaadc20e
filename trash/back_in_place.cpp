// Which moved files are back in their own places already, put back by anyone: another window, a
// script, a file manager. Nothing here changes the disk.
#include <fcntl.h>
#include <sys/stat.h>

#include <map>

#include "platform/fd.h"
#include "trash/trash.h"

namespace chronosift::trash {

std::vector<bool> backInPlace(const std::vector<TrashItem>& items,
                              const std::vector<TrashOutcome>& outcomes) {
    std::vector<bool> back(items.size(), false);
    std::map<std::string, platform::Fd> folders;  // by real path
    for (size_t i = 0; i < items.size() && i < outcomes.size(); ++i) {
        const TrashOutcome& o = outcomes[i];
        struct stat st;
        const auto same = [&] {
            return static_cast<uint64_t>(st.st_ino) == o.inode &&
                   static_cast<uint64_t>(st.st_dev) == o.files.device;
        };
        // Still in the trash under its name (perhaps a second name of a file back in place too):
        // not back. This is the common case, and takes one call.
        if (o.status != TrashStatus::Moved || items[i].folder == nullptr ||
            (::lstat(o.trashedAs.c_str(), &st) == 0 && same())) {
            continue;
        }
        auto [at, added] = folders.try_emplace(items[i].folder->realPath());
        if (added) {
            int error = 0;
            at->second = platform::Fd(platform::openRoute(*items[i].folder, error));
        }
        back[i] =
            at->second.ok() &&
            ::fstatat(at->second.get(), items[i].name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            same();
    }
    return back;
}

}  // namespace chronosift::trash
