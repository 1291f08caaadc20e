#include "trash/relocate.h"

#include <cerrno>

#include "platform/fs.h"

namespace chronosift::trash {

using platform::Identity;
using platform::kChanged;

namespace {

// The file at `name` in `folder` is not where it should be: back to `back`, or stranded.
Relocation putBackOrStrand(int folder, const std::string& name, int backFolder,
                           const std::string& back, int why) {
    Relocation r;
    r.error = why;
    if (giveBack(folder, name, backFolder, back) != 0) {
        r.state = Relocation::Stranded;
        r.strandedIn = folder;
        r.strandedAs = name;
    }
    return r;
}

// Takes `name` in `folder` off to the private `own` and unlinks it only as a second name of
// what `kept` holds; anything else gets `name` back, or is stranded at `own`. False when a name
// is left where it should not be (at `own`, or `name` could not be taken off).
bool dropLinkProved(int folder, const std::string& name, const std::string& own, int keptFolder,
                    const std::string& kept) {
    if (takeOff(folder, name, own) != 0) {
        return false;
    }
    const int error = dropSecondName(folder, own, keptFolder, kept);
    return error == 0 || (error == kChanged && giveBack(folder, own, folder, name) == 0);
}

}  // namespace

Relocation relocate(int fromFolder, const std::string& from, int toFolder, const std::string& to,
                    uint64_t inode, const Announce& announce) {
    Relocation r;
    r.error = moveNoReplace(fromFolder, from, toFolder, to);
    if (r.error == 0) {
        // Another file could have taken the name between the check and the rename.
        if (identityAt(toFolder, to).inode == inode) {
            r.state = Relocation::Moved;
            return r;
        }
        return putBackOrStrand(toFolder, to, fromFolder, from, kChanged);
    }
    if (r.error != EINVAL && r.error != ENOSYS) {
        return r;
    }
    // No rename that cannot replace here. A link cannot replace either: link the file to its new
    // name, check that it is the checked file, then take the old name off to a name of our own
    // and unlink that only as a second name of what arrived. A program that saved a new version
    // to the old name meanwhile gets it back there; nothing is unlinked before it is proved to be
    // a second name, and at no moment is a name of ours the file's only one.
    const std::string ownFrom = privateName(".moving"), ownTo = privateName(".moving");
    if (announce && (r.error = announce(ownFrom, ownTo)) != 0) {
        return r;
    }
    r.error = addName(fromFolder, from, toFolder, to);
    if (r.error != 0) {
        return r;
    }
    if (identityAt(toFolder, to).inode != inode) {
        // The link is of another file, or another file took the new name since: ours stays.
        r.error = kChanged;
    } else if ((r.error = takeOff(fromFolder, from, ownFrom)) == 0) {
        r.state = Relocation::Moved;
        const int error = dropSecondName(fromFolder, ownFrom, toFolder, to);
        // The checked file moved, but another took its old name just before we took that name
        // off: it gets its name back.
        if (error == kChanged && giveBack(fromFolder, ownFrom, fromFolder, from) != 0) {
            r.strandedIn = fromFolder;
            r.strandedAs = ownFrom;
        }
        return r;
    }
    // The old name stays: as if nothing had moved, the new one goes once proved a second name.
    if (!dropLinkProved(toFolder, to, ownTo, fromFolder, from)) {
        r.state = Relocation::Stranded;
        r.strandedIn = toFolder;
        r.strandedAs = identityAt(toFolder, ownTo).inode != 0 ? ownTo : to;
    }
    return r;
}

namespace {

// The folder that holds `path`, and the last name in it.
platform::Folder openParent(const std::string& path, std::string& name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return {};
    }
    name = path.substr(slash + 1);
    int error = 0;
    return platform::Folder::openPath(slash == 0 ? "/" : path.substr(0, slash), error);
}

}  // namespace

void finishMove(uint64_t inode, const std::string& ownFrom, const std::string& ownTo,
                const std::string& from, const std::string& to, const Identity& files) {
    std::string oldName, toName;
    const platform::Folder fromOpen = openParent(from, oldName);
    const platform::Folder toOpen = openParent(to, toName);
    int error = 0;
    if (!fromOpen.isOpen() || !toOpen.isOpen() || inode == 0 ||
        (fromOpen.identity(error) != files && toOpen.identity(error) != files)) {
        return;  // not a route through this trash folder: left alone
    }
    const int folder = fromOpen.fd(), toFolder = toOpen.fd();
    // Killed while undoing a link: the new name goes only as a second name of the old.
    if (!ownTo.empty() && identityAt(toFolder, ownTo).inode != 0 &&
        dropSecondName(toFolder, ownTo, folder, oldName) == kChanged) {
        giveBack(toFolder, ownTo, toFolder, toName);
    }
    // Killed after the old name was taken off: that name goes only as a second name of what
    // arrived; anything else (a version saved to the old name, or the file's only name left when
    // the trash was emptied) gets the old name back.
    if (identityAt(folder, ownFrom).inode != 0) {
        if (dropSecondName(folder, ownFrom, toFolder, toName) == kChanged) {
            giveBack(folder, ownFrom, folder, oldName);
        }
        return;
    }
    const Identity arrived = identityAt(toFolder, toName);
    if (arrived.inode == 0 || identityAt(folder, oldName) != arrived) {
        return;  // it moved, or never left: nothing of the run is left here
    }
    // Killed between the link and taking the old name off: the checked file finishes its move
    // under the names announced; a link of another file is undone.
    if (arrived.inode == inode) {
        dropLinkProved(folder, oldName, ownFrom, toFolder, toName);
    } else if (!ownTo.empty()) {
        dropLinkProved(toFolder, toName, ownTo, folder, oldName);
    }
}

int removeRecordIfSame(int info, const std::string& name, uint64_t inode,
                       const std::string& content,
                       const std::function<int(const std::string& gone)>& announce) {
    const std::string gone = privateName(".gone");
    if (const int error = announce(gone); error != 0) {
        return error;
    }
    if (const int error = takeOff(info, name, gone); error != 0) {
        return error;
    }
    const int error = dropRecord(info, gone, inode, content);
    if (error != 0) {
        giveBack(info, gone, info, name);  // when the name is taken again, it stays where it is
    }
    return error;
}

}  // namespace chronosift::trash
