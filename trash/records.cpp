#include "trash/records.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
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

// One entry of a run's journal: "R INODE NAME", a NUL, the record's bytes and a NUL, for a record
// it linked or a put-back; "M INODE OWN", a NUL, the path it moves from, a NUL, the path it moves
// to and a NUL, for a move by link. An entry cut short by the kill was never acted on.
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
            (head[0] == 'M' && !field(e.second))) {
            break;
        }
        e.kind = head[0];
        e.inode = std::strtoull(head.c_str() + 2, nullptr, 10);
        e.name = head.substr(space + 1);
        entries.push_back(std::move(e));
    }
    return entries;
}

// Clears up after a dead run: first its half-done moves by link, then its records whose files are
// not in files/. Only a record with the inode and bytes it listed is removed, so another program's
// record that took the name, even on a reused inode, stays.
void clearDeadRun(int info, int files, const std::string& journal) {
    const std::vector<Entry> entries = readJournal(journal);
    for (const Entry& e : entries) {
        if (e.kind == 'M') {
            finishMove(e.inode, e.name, e.first, e.second);
        }
    }
    for (const Entry& e : entries) {
        if (e.kind != 'R' || !e.name.ends_with(kInfoSuffix)) {
            continue;
        }
        const std::string file(e.name, 0, e.name.size() - kInfoSuffixLength);
        struct stat st;
        if (::fstatat(files, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT &&
            sameRecord(info, e.name, e.inode, e.first)) {
            removeRecordIfSame(info, e.name, e.inode, e.first);
        }
    }
}

}  // namespace

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

Fd openOwnFolder(int parent, const char* name, std::string& reason) {
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
    if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0) {
        reason = "others may write into the trash folder, and it cannot be closed to them: " +
                 errorText(errno);
        return {};
    }
    return fd;
}

void removeDeadRuns(int info, int files) {
    const int dupFd = ::dup(info);
    DIR* dir = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
    if (dir == nullptr) {
        if (dupFd >= 0) {
            ::close(dupFd);
        }
        return;
    }
    std::vector<std::string> journals;
    std::vector<std::string> fresh;
    std::vector<std::string> gone;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (!name.starts_with(kRunPrefix)) {
            continue;
        }
        if (name.ends_with(kJournalSuffix)) {
            journals.emplace_back(name);
        } else if (name.ends_with(kNewSuffix)) {
            fresh.emplace_back(name);
        } else if (name.ends_with(".gone")) {
            gone.emplace_back(name);
        }
    }
    ::closedir(dir);
    // A record a run had taken off its name to remove it, when that run died before it could:
    // its name says which process, and only a process that is no more leaves it for good.
    for (const std::string& name : gone) {
        const long pid = std::strtol(name.c_str() + kRunPrefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            ::unlinkat(info, name.c_str(), 0);
        }
    }
    const time_t now = ::time(nullptr);
    for (const std::string& name : journals) {
        Fd fd(::openat(info, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        // A live run holds the lock; the kernel released a dead one's.
        if (!fd.ok() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        clearDeadRun(info, files, readAll(fd.get()));
        const std::string id = name.substr(0, name.size() - kJournalSuffix.size());
        ::unlinkat(info, (id + std::string(kTempSuffix)).c_str(), 0);
        ::unlinkat(info, name.c_str(), 0);
    }
    for (const std::string& name : fresh) {
        Fd fd(::openat(info, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (fd.ok() && ::fstat(fd.get(), &st) == 0 && now - st.st_mtime >= kNewJournalAge &&
            ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            ::unlinkat(info, name.c_str(), 0);
        }
    }
}

TrashCan::~TrashCan() {
    endRun();
}

void TrashCan::endRun() {
    if (journal_.ok()) {
        ::unlinkat(info.get(), (id_ + std::string(kTempSuffix)).c_str(), 0);
        ::unlinkat(info.get(), (id_ + std::string(kJournalSuffix)).c_str(), 0);
        journal_.reset();
    }
}

bool TrashCan::open(int trashFolder, std::string& reason) {
    files = openOwnFolder(trashFolder, "files", reason);
    info = files.ok() ? openOwnFolder(trashFolder, "info", reason) : Fd();
    struct stat f, i;
    if (!info.ok() || ::fstat(files.get(), &f) != 0 || ::fstat(info.get(), &i) != 0) {
        return false;
    }
    filesId = {static_cast<uint64_t>(f.st_dev), static_cast<uint64_t>(f.st_ino)};
    infoId = {static_cast<uint64_t>(i.st_dev), static_cast<uint64_t>(i.st_ino)};
    removeDeadRuns(info.get(), files.get());
    return true;
}

bool TrashCan::startJournal(int& error) {
    id_ = std::string(kRunPrefix) + randomId();
    // Locked under a name the clean-up leaves alone for a while, then named as a journal, so
    // no other run ever finds it unlocked while this one lives.
    const std::string fresh = id_ + std::string(kNewSuffix);
    Fd fd(::openat(info.get(), fresh.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.ok() || ::flock(fd.get(), LOCK_EX) != 0 ||
        ::renameat(info.get(), fresh.c_str(), info.get(),
                   (id_ + std::string(kJournalSuffix)).c_str()) != 0) {
        error = errno;
        if (fd.ok()) {
            ::unlinkat(info.get(), fresh.c_str(), 0);
        }
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
    ::unlinkat(info.get(), temp.c_str(), 0);
    Fd fd(::openat(info.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   0600));
    if (!fd.ok()) {
        return errno;
    }
    struct stat st;
    bool ok = writeAll(fd.get(), content, error) && ::fstat(fd.get(), &st) == 0;
    if (ok && ::close(fd.release()) != 0) {  // a full disk may only show here
        ok = false;
    }
    if (ok) {
        // Listed before it is linked, so a kill between the two leaves nothing unlisted.
        error = journal(infoName, static_cast<uint64_t>(st.st_ino), content);
        ok = error == 0;
    }
    if (ok && ::linkat(info.get(), temp.c_str(), info.get(), infoName.c_str(), 0) != 0) {
        ok = false;
    }
    if (!ok) {
        error = error != 0 ? error : errno;
        ::unlinkat(info.get(), temp.c_str(), 0);
        return error;
    }
    ::unlinkat(info.get(), temp.c_str(), 0);
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

int TrashCan::journalMove(uint64_t inode, const std::string& own, const std::string& from,
                          const std::string& to) {
    std::string entry = "M " + std::to_string(inode) + ' ' + own;
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

int TrashCan::syncJournal(const std::function<int(std::string_view)>& fail) {
    if (const int injected = journal_.ok() && fail ? fail("fdatasync") : 0; injected != 0) {
        return injected;
    }
    return !journal_.ok() || ::fdatasync(journal_.get()) == 0 ? 0 : errno;
}

int TrashCan::dropRecord(const std::string& infoName) {
    return ::unlinkat(info.get(), infoName.c_str(), 0) == 0 ? 0 : errno;
}

int TrashCan::sync(const std::function<int(std::string_view)>& fail) {
    if (synced) {
        return 0;
    }
    if (const int injected = fail ? fail("syncfs") : 0; injected != 0) {
        return injected;
    }
    if (::syncfs(info.get()) != 0) {
        return errno;
    }
    synced = true;
    return 0;
}

}  // namespace chronosift::trash
