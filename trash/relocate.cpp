#include "trash/relocate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/fd.h"
#include "platform/fs.h"

namespace chronosift::trash {

namespace {

// Makes the system call `syscall` (a callable returning 0 on success), unless the hook fails it
// first. 0 or errno.
template <typename Call>
int call(const FailHook& fail, std::string_view name, Call syscall) {
    const int injected = fail ? fail(name) : 0;
    if (injected != 0) {
        return injected;
    }
    return syscall() == 0 ? 0 : errno;
}

// What is at `name` in `folder`, or a zero identity when nothing is.
platform::Identity identityAt(int folder, const std::string& name) {
    struct stat st;
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
               ? platform::Identity::of(st)
               : platform::Identity{};
}

bool isInode(int folder, const std::string& name, uint64_t inode) {
    return identityAt(folder, name).inode == inode;
}

// The file at `name` in `folder` is not where it should be: back to `back`, or stranded.
Relocation putBackOrStrand(int folder, const std::string& name, int backFolder,
                           const std::string& back, int why, const FailHook& fail) {
    Relocation r;
    r.error = why;
    if (giveBack(folder, name, backFolder, back, fail) != 0) {
        r.state = Relocation::Stranded;
        r.strandedIn = folder;
        r.strandedAs = name;
    }
    return r;
}

}  // namespace

bool sameRecord(int info, const std::string& name, uint64_t inode, const std::string& content) {
    // Never blocks on a FIFO or follows a link that someone put in the record's place.
    const platform::Fd fd(
        ::openat(info, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || static_cast<uint64_t>(st.st_ino) != inode ||
        static_cast<size_t>(st.st_size) != content.size()) {
        return false;
    }
    std::string bytes(content.size() + 1, '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return got == content.size() && bytes.compare(0, got, content) == 0;
}

int giveBack(int folder, const std::string& name, int backFolder, const std::string& back,
             const FailHook& fail) {
    int error = fail ? fail("renameat2") : 0;
    if (error == 0 &&
        ::renameat2(folder, name.c_str(), backFolder, back.c_str(), RENAME_NOREPLACE) != 0) {
        error = errno;
    }
    if (error != EINVAL && error != ENOSYS) {
        return error;
    }
    error = fail ? fail("linkat") : 0;
    if (error == 0 && ::linkat(folder, name.c_str(), backFolder, back.c_str(), 0) != 0) {
        error = errno;
    }
    if (error == 0) {
        ::unlinkat(folder, name.c_str(), 0);
        return 0;
    }
    // A file system with no links either: a plain rename, only while the name is still free.
    struct stat st;
    if (error != EEXIST && ::fstatat(backFolder, back.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT) {
        error = ::renameat(folder, name.c_str(), backFolder, back.c_str()) == 0 ? 0 : errno;
    }
    return error;
}

std::string privateName(std::string_view suffix) {
    std::random_device device;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, ".chronosift-%d-%08x%08x", static_cast<int>(::getpid()),
                  device(), device());
    return std::string(buffer).append(suffix);
}

Relocation relocate(int fromFolder, const std::string& from, int toFolder, const std::string& to,
                    uint64_t inode, const FailHook& fail, const Announce& announce) {
    Relocation r;
    r.error = call(fail, "renameat2", [&] {
        return ::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE);
    });
    if (r.error == 0) {
        // Another file could have taken the name between the check and the rename.
        if (isInode(toFolder, to, inode)) {
            r.state = Relocation::Moved;
            return r;
        }
        return putBackOrStrand(toFolder, to, fromFolder, from, platform::kChanged, fail);
    }
    if (r.error != EINVAL && r.error != ENOSYS) {
        return r;
    }
    // No rename that cannot replace here. A link cannot replace either: link the file to its new
    // name, check that it is the checked file, then take the old name off to a name of our own
    // and check what came with it. A program that saved a new version to the old name meanwhile
    // gets it back there; nothing is unlinked before it is proved to be the checked file, and at
    // no moment is a name of ours the file's only one.
    const std::string own = privateName(".moving");
    if (announce && (r.error = announce(own)) != 0) {
        return r;
    }
    r.error = call(fail, "linkat",
                   [&] { return ::linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0); });
    if (r.error != 0) {
        return r;
    }
    if (!isInode(toFolder, to, inode)) {
        ::unlinkat(toFolder, to.c_str(), 0);  // another file took the name first: ours stays
        r.error = platform::kChanged;
        return r;
    }
    r.error = call(fail, "rename",
                   [&] { return ::renameat(fromFolder, from.c_str(), fromFolder, own.c_str()); });
    if (r.error != 0) {
        ::unlinkat(toFolder, to.c_str(), 0);  // the old name stays: as if nothing had moved
        return r;
    }
    r.state = Relocation::Moved;
    r.error = 0;
    if (isInode(fromFolder, own, inode)) {
        call(fail, "unlinkat", [&] { return ::unlinkat(fromFolder, own.c_str(), 0); });
        return r;
    }
    // The checked file moved, but another took its old name just before we took that name off.
    if (giveBack(fromFolder, own, fromFolder, from, fail) != 0) {
        r.strandedIn = fromFolder;
        r.strandedAs = own;
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

void finishMove(uint64_t inode, const std::string& own, const std::string& from,
                const std::string& to) {
    std::string oldName, toName;
    const platform::Folder fromOpen = openParent(from, oldName);
    const platform::Folder toOpen = openParent(to, toName);
    if (!fromOpen.isOpen() || !toOpen.isOpen() || inode == 0) {
        return;
    }
    const int folder = fromOpen.fd(), toFolder = toOpen.fd();
    // Names are the same file only on the same device: a folder may sit on another mount now.
    const platform::Identity arrived = identityAt(toFolder, toName);
    const bool reached = arrived.inode == inode;
    if (const platform::Identity taken = identityAt(folder, own); taken.inode != 0) {
        if (reached && taken == arrived) {
            ::unlinkat(folder, own.c_str(), 0);  // a second name of a file that arrived
        } else {
            giveBack(folder, own, folder, oldName);
        }
        return;
    }
    if (!reached || identityAt(folder, oldName) != arrived) {
        return;  // it moved, or never left: nothing of the run is left here
    }
    // Killed between the link and taking the old name off: the file has both names, and the
    // one at `to` goes, taken off first so that a file put there meanwhile is never removed.
    const std::string gone = privateName(".moving");
    if (::renameat(toFolder, toName.c_str(), toFolder, gone.c_str()) != 0) {
        return;
    }
    if (identityAt(toFolder, gone) == arrived && identityAt(folder, oldName) == arrived) {
        ::unlinkat(toFolder, gone.c_str(), 0);
    } else {
        giveBack(toFolder, gone, toFolder, toName);
    }
}

int removeRecordIfSame(int info, const std::string& name, uint64_t inode,
                       const std::string& content, const FailHook& fail) {
    const std::string own = privateName(".gone");
    if (const int error =
            call(fail, "rename", [&] { return ::renameat(info, name.c_str(), info, own.c_str()); });
        error != 0) {
        return error;
    }
    if (sameRecord(info, own, inode, content)) {
        return call(fail, "unlinkat", [&] { return ::unlinkat(info, own.c_str(), 0); });
    }
    giveBack(info, own, info, name, fail);
    return platform::kChanged;
}

}  // namespace chronosift::trash
