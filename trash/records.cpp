#include "trash/records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string_view>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"
#include "trash/proven.h"
#include "trash/relocate.h"

namespace chronosift::trash {

using namespace platform;

namespace {

constexpr std::string_view kRunPrefix = ".chronosift-";
constexpr std::string_view kJournalSuffix = ".journal";
constexpr std::string_view kNewSuffix = ".new";
constexpr std::string_view kTempSuffix = ".tmp";
// A journal still under its first name is given this long to be locked and named.
constexpr time_t kNewJournalAge = 60;

bool writeAll(int fd, std::string_view bytes, int& error) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string randomId() {
    std::random_device device;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d-%08x%08x", static_cast<int>(::getpid()), device(),
                  device());
    return buffer;
}

// One entry of a run's journal, each field ended by a NUL: "R INODE NAME", the record's bytes,
// for a record it linked or a put-back; "M INODE OWNFROM OWNTO", the path it moves from, the path
// it moves to, for a move by link; "G INODE GONE", the record's name, its bytes, for a record
// about to be taken off to the private name GONE to be removed. An entry cut short by the kill
// was never acted on.
struct Entry {
    char kind = 0;
    uint64_t inode = 0;
    std::string name;
    std::string first, second;
};

std::vector<Entry> readJournal(const std::string& journal) {
    std::vector<Entry> entries;
    size_t at = 0;
    const auto field = [&](std::string& out) {
        const size_t end = journal.find('\0', at);
        if (end == std::string::npos) {
            return false;
        }
        out.assign(journal, at, end - at);
        at = end + 1;
        return true;
    };
    std::string head;
    while (field(head)) {
        Entry e;
        const size_t space = head.find(' ', 2);
        if (head.size() < 2 || head[1] != ' ' || space == std::string::npos || !field(e.first) ||
            ((head[0] == 'M' || head[0] == 'G') && !field(e.second))) {
            break;
        }
        e.kind = head[0];
        e.inode = std::strtoull(head.c_str() + 2, nullptr, 10);
        e.name = head.substr(space + 1);
        entries.push_back(std::move(e));
    }
    return entries;
}

// A record's name inside info/ itself, never a path or a hidden name.
bool isRecordName(const std::string& name) {
    return name.size() > kInfoSuffixLength && name.find('/') == std::string::npos &&
           name[0] != '.' && name.ends_with(kInfoSuffix);
}

// A journal, opened without blocking on a FIFO or following a link, and only when it is a
// regular file of the user's.
Fd openJournal(int info, const std::string& name, struct stat& st) {
    Fd fd(::openat(info, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return {};
    }
    return fd;
}

}  // namespace

// Clears up after a dead run: first its half-done moves by link, then the records it was taking
// off to remove, then its records whose files are not in files/. Only a record with the inode
// and bytes it listed is removed, so another program's record that took the name, even on a
// reused inode, stays; entries that name anything outside this trash folder are passed over.
void TrashCan::clearDeadRun(const std::string& journal) {
    const std::vector<Entry> entries = readJournal(journal);
    for (const Entry& e : entries) {
        const size_t space = e.name.find(' ');
        const std::string ownFrom = e.name.substr(0, space);
        const std::string ownTo = space == std::string::npos ? "" : e.name.substr(space + 1);
        if (e.kind == 'M' && isPrivateName(ownFrom, ".moving") &&
            (ownTo.empty() || isPrivateName(ownTo, ".moving"))) {
            finishMove(e.inode, ownFrom, ownTo, e.first, e.second, filesId);
        }
    }
    for (const Entry& e : entries) {
        if (e.kind == 'G' && isPrivateName(e.name, ".gone") && isRecordName(e.first) &&
            identityAt(info.get(), e.name).inode != 0 &&
            trash::dropRecord(info.get(), e.name, e.inode, e.second) == kChanged) {
            giveBack(info.get(), e.name, info.get(), e.first);
        }
    }
    for (const Entry& e : entries) {
        if (e.kind != 'R' || !isRecordName(e.name)) {
            continue;
        }
        const std::string file(e.name, 0, e.name.size() - kInfoSuffixLength);
        struct stat st;
        if (::fstatat(files.get(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT && sameRecord(info.get(), e.name, e.inode, e.first)) {
            dropRecord(e.name, e.inode, e.first);
        }
    }
}

std::string readAll(int fd) {
    std::string out;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
        }
    }
    return out;
}

Fd openOwnFolder(int parent, const char* name, std::string& reason, bool* wasOpen) {
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) {
        reason = errorText(errno);
        return {};
    }
    Fd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok()) {
        reason = errorText(errno);
        return {};
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid()) {
        reason = "the trash folder belongs to someone else";
        return {};
    }
    // Others who could write here could rename files/ or plant records: shut them out first.
    if ((st.st_mode & 022) != 0) {
        if (::fchmod(fd.get(), 0700) != 0) {
            reason = "others may write into the trash folder, and it cannot be closed to them: " +
                     errorText(errno);
            return {};
        }
        if (wasOpen != nullptr) {
            *wasOpen = true;
        }
    }
    return fd;
}

void TrashCan::clearDeadRuns() {
    const int dupFd = ::dup(info.get());
    DIR* dir = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
    if (dir == nullptr) {
        if (dupFd >= 0) {
            ::close(dupFd);
        }
        return;
    }
    std::vector<std::string> journals;
    std::vector<std::string> fresh;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (isPrivateName(name, kJournalSuffix)) {
            journals.emplace_back(name);
        } else if (isPrivateName(name, kNewSuffix)) {
            fresh.emplace_back(name);
        }
    }
    ::closedir(dir);
    // A `.gone` name is removed only through the journal that announced it (clearDeadRun).
    const time_t now = ::time(nullptr);
    for (const std::string& name : journals) {
        struct stat st;
        Fd fd = openJournal(info.get(), name, st);
        if (!fd.ok()) {
            note += (note.empty() ? "left alone in the trash: " : ", ") +
                    displayText(folder + "/info/" + name) +
                    ", which is not a journal of the user's";
            continue;
        }
        // A live run holds the lock; the kernel released a dead one's.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        clearDeadRun(readAll(fd.get()));
        const std::string id = name.substr(0, name.size() - kJournalSuffix.size());
        dropOwnTemp(info.get(), id + std::string(kTempSuffix));
        dropOwnFile(info.get(), name, Identity::of(st));
    }
    for (const std::string& name : fresh) {
        struct stat st;
        Fd fd = openJournal(info.get(), name, st);
        if (fd.ok() && now - st.st_mtime >= kNewJournalAge &&
            ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            dropOwnFile(info.get(), name, Identity::of(st));
        }
    }
}

TrashCan::~TrashCan() {
    endRun();
}

void TrashCan::endRun() {
    if (journal_.ok()) {
        dropOwnTemp(info.get(), id_ + std::string(kTempSuffix));
        if (!unfinished) {
            dropOwnFile(info.get(), id_ + std::string(kJournalSuffix), journalId_);
        }
        journal_.reset();
    }
}

bool TrashCan::open(int trashFolder, std::string& reason, bool wasOpen) {
    struct stat top;
    if (::fstat(trashFolder, &top) == 0 && top.st_uid == ::geteuid() && (top.st_mode & 022) != 0) {
        if (::fchmod(trashFolder, 0700) != 0) {
            reason = "others may write into the trash folder, and it cannot be closed to them: " +
                     errorText(errno);
            return false;
        }
        wasOpen = true;
    }
    files = openOwnFolder(trashFolder, "files", reason, &wasOpen);
    info = files.ok() ? openOwnFolder(trashFolder, "info", reason, &wasOpen) : Fd();
    struct stat f, i;
    if (!info.ok() || ::fstat(files.get(), &f) != 0 || ::fstat(info.get(), &i) != 0) {
        return false;
    }
    filesId = Identity::of(f);
    infoId = Identity::of(i);
    if (wasOpen) {
        // Another user could have planted anything there: none of it is acted on.
        note = "the trash folder " + displayText(folder) +
               " was open to others; it is closed to them now, and what was in it is left alone";
    } else {
        clearDeadRuns();
    }
    return true;
}

bool TrashCan::startJournal(int& error) {
    id_ = std::string(kRunPrefix) + randomId();
    const std::string name = id_ + std::string(kJournalSuffix);
    // Locked before it has a name, so that no other run ever finds it unlocked while this one
    // lives. The journal's name also stands for the run's temporary record (ID.tmp), which is
    // only ever made while the journal exists.
    Fd fd(::openat(info.get(), ".", O_TMPFILE | O_WRONLY | O_APPEND | O_CLOEXEC, 0600));
    struct stat st;
    if (fd.ok() && ::fstat(fd.get(), &st) == 0 && ::flock(fd.get(), LOCK_EX) == 0 &&
        (error = nameOpenFile(fd.get(), info.get(), name)) == 0) {
        journalId_ = Identity::of(st);
        journal_ = std::move(fd);
        return true;
    }
    // Where the file system has no unnamed files (or there is no /proc): locked under a name the
    // clean-up leaves alone for a while, then named as a journal.
    error = 0;
    const std::string fresh = id_ + std::string(kNewSuffix);
    fd = Fd(::openat(info.get(), fresh.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
        error = errno;
        return false;
    }
    journalId_ = Identity::of(st);
    if (::flock(fd.get(), LOCK_EX) != 0 || (error = takeOff(info.get(), fresh, name)) != 0) {
        error = error != 0 ? error : errno;
        dropOwnFile(info.get(), fresh, journalId_);
        return false;
    }
    journal_ = std::move(fd);
    return true;
}

int TrashCan::writeRecord(const std::string& infoName, const std::string& content) {
    int error = 0;
    if (!journal_.ok() && !startJournal(error)) {
        return error;
    }
    const std::string temp = id_ + std::string(kTempSuffix);
    // Never written through: a temporary name left linked to a record must not change it.
    const auto create = [&] {
        return Fd(::openat(info.get(), temp.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    };
    Fd fd = create();
    if (!fd.ok() && errno == EEXIST && dropOwnTemp(info.get(), temp) == 0) {
        fd = create();
    }
    if (!fd.ok()) {
        return errno == EEXIST ? EIO : errno;  // EEXIST would say the record's name is taken
    }
    struct stat st;
    bool ok = writeAll(fd.get(), content, error) && ::fstat(fd.get(), &st) == 0;
    if (ok && ::close(fd.release()) != 0) {  // a full disk may only show here
        ok = false;
    }
    error = !ok && error == 0 ? errno : error;
    if (ok) {
        // Listed before it is linked, so a kill between the two leaves nothing unlisted.
        error = journal(infoName, static_cast<uint64_t>(st.st_ino), content);
        error = error != 0 ? error : addName(info.get(), temp, info.get(), infoName);
        if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS) {
            // No links here (FAT, exFAT): a rename that cannot replace names it as well.
            error = moveNoReplace(info.get(), temp, info.get(), infoName);
        }
    }
    fd.reset();
    if (!ok || error != 0) {
        dropOwnTemp(info.get(), temp);
        return error != 0 ? error : EIO;
    }
    dropOwnFile(info.get(), temp, Identity::of(st));
    synced = false;
    lastRecordInode = static_cast<uint64_t>(st.st_ino);
    return 0;
}

int TrashCan::append(const std::string& entry) {
    int error = 0;
    if (!journal_.ok() && !startJournal(error)) {
        return error;
    }
    writeAll(journal_.get(), entry, error);
    return error;
}

int TrashCan::journal(const std::string& infoName, uint64_t inode, const std::string& content) {
    std::string entry = "R " + std::to_string(inode) + ' ' + infoName;
    entry.push_back('\0');
    entry += content;
    entry.push_back('\0');
    return append(entry);
}

int TrashCan::journalMove(uint64_t inode, const std::string& ownFrom, const std::string& ownTo,
                          const std::string& from, const std::string& to) {
    std::string entry = "M " + std::to_string(inode) + ' ' + ownFrom + ' ' + ownTo;
    for (const std::string* part : {&from, &to}) {
        entry.push_back('\0');
        entry += *part;
    }
    entry.push_back('\0');
    return append(entry);
}

int TrashCan::journalPutBack(const std::string& infoName, uint64_t inode,
                             const std::string& content) {
    return journal(infoName, inode, content);
}

int TrashCan::syncJournal() {
    if (const int error = journal_.ok() ? injected("fdatasync") : 0; error != 0) {
        return error;
    }
    return !journal_.ok() || ::fdatasync(journal_.get()) == 0 ? 0 : errno;
}

int TrashCan::dropRecord(const std::string& infoName, uint64_t inode, const std::string& content) {
    const int error =
        removeRecordIfSame(info.get(), infoName, inode, content, [&](const std::string& gone) {
            std::string entry = "G " + std::to_string(inode) + ' ' + gone;
            for (const std::string* part : {&infoName, &content}) {
                entry.push_back('\0');
                entry += *part;
            }
            entry.push_back('\0');
            return append(entry);
        });
    unfinished = unfinished || (error != 0 && error != kChanged);
    return error;
}

int TrashCan::sync() {
    if (synced) {
        return 0;
    }
    if (const int error = injected("syncfs"); error != 0) {
        return error;
    }
    if (::syncfs(info.get()) != 0) {
        return errno;
    }
    synced = true;
    return 0;
}

}  // namespace chronosift::trash
