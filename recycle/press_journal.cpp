#include "recycle/press_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "platform/fs.h"
#include "trash/proven.h"

namespace chronosift {

namespace {

using platform::Fd;
using platform::Identity;

constexpr std::string_view kVersionLine = "chronosift press journal ";
constexpr std::string_view kVersion = "2";
constexpr std::string_view kPrefix = "press-";
constexpr std::string_view kOldJournal = "last-press";

// A journal may only ever be read, never trusted, beyond this.
constexpr size_t kMostBytes = size_t{1} << 30;

std::string escape(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const unsigned char c : bytes) {
        if (c <= ' ' || c >= 0x7F || c == '%' || c == '=' || c == ':') {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

bool unescape(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        unsigned value = 0;
        if (i + 3 > text.size() ||
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr !=
                text.data() + i + 3) {
            return false;
        }
        out.push_back(static_cast<char>(value));
        i += 2;
    }
    return true;
}

std::string identityText(const Identity& id) {
    return std::to_string(id.device) + ":" + std::to_string(id.inode);
}

template <typename N>
bool number(std::string_view text, N& n) {
    return !text.empty() && std::from_chars(text.data(), text.data() + text.size(), n).ptr ==
                                text.data() + text.size();
}

bool identity(std::string_view text, Identity& id) {
    const size_t colon = text.find(':');
    return colon != std::string_view::npos && number(text.substr(0, colon), id.device) &&
           number(text.substr(colon + 1), id.inode);
}

std::string movedLine(size_t place, const trash::TrashItem& item, const trash::TrashOutcome& o) {
    const platform::FolderRoute& route = *item.folder;
    std::string line = "moved " + std::to_string(place);
    const auto field = [&](std::string_view key, std::string_view value) {
        line.append(" ").append(key).append("=").append(escape(value));
    };
    field("path", item.path);
    field("row", route.rowPath);
    line += " row-id=" + identityText(route.row);
    for (const auto& step : route.steps) {
        line += " step=" + identityText(step.id) + ":" + escape(step.name);
    }
    field("name", item.name);
    field("trash", o.trashFolder);
    field("as", o.trashedName);
    line += " inode=" + std::to_string(o.inode);
    field("record", o.record);
    line += " record-inode=" + std::to_string(o.recordInode);
    line += " files=" + identityText(o.files) + " info=" + identityText(o.info) + "\n";
    return line;
}

// Reads one "moved" line's fields after "moved N".
bool readMoved(std::string_view rest, trash::TrashItem& item, trash::TrashOutcome& o) {
    std::vector<std::pair<std::string_view, std::string_view>> fields;
    while (!rest.empty()) {
        const size_t space = rest.find(' ');
        const std::string_view token = rest.substr(0, space);
        const size_t eq = token.find('=');
        if (eq == std::string_view::npos) {
            return false;
        }
        fields.emplace_back(token.substr(0, eq), token.substr(eq + 1));
        rest.remove_prefix(space == std::string_view::npos ? rest.size() : space + 1);
    }
    size_t at = 0;
    bool ok = true;
    const auto next = [&](std::string_view key) -> std::string_view {
        ok = ok && at < fields.size() && fields[at].first == key;
        return ok ? fields[at++].second : std::string_view();
    };
    const auto text = [&](std::string_view key, std::string& out) {
        const std::string_view value = next(key);
        ok = ok && unescape(value, out);
    };
    auto route = std::make_shared<platform::FolderRoute>();
    text("path", item.path);
    text("row", route->rowPath);
    ok = ok && identity(next("row-id"), route->row);
    while (ok && at < fields.size() && fields[at].first == "step") {
        const std::string_view value = fields[at++].second;
        const size_t second = value.find(':', value.find(':') + 1);
        platform::FolderRoute::Step step;
        ok = second != std::string_view::npos && identity(value.substr(0, second), step.id) &&
             unescape(value.substr(second + 1), step.name);
        route->steps.push_back(std::move(step));
    }
    text("name", item.name);
    text("trash", o.trashFolder);
    text("as", o.trashedName);
    ok = ok && number(next("inode"), o.inode);
    text("record", o.record);
    ok = ok && number(next("record-inode"), o.recordInode);
    ok = ok && identity(next("files"), o.files) && identity(next("info"), o.info);
    ok = ok && at == fields.size() && !item.name.empty() && !o.trashedName.empty();
    item.folder = std::move(route);
    o.status = trash::TrashStatus::Moved;
    o.trashedAs = o.trashFolder + "/files/" + o.trashedName;
    return ok;
}

std::string readAll(int fd, int& error) {
    std::string bytes;
    char buffer[65536];
    error = 0;
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR) {
            error = errno;
            break;
        }
        bytes.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (bytes.size() > kMostBytes) {
            error = EFBIG;
            break;
        }
    }
    return bytes;
}

enum class Read { Ok, Unfinished, Refused };

// Reads a journal's whole lines. Unfinished: not even its version line is whole. Refused: `why`
// says why it cannot be used.
Read readJournal(PressJournal& j, std::string& why) {
    int error = 0;
    const std::string bytes = readAll(j.fd.get(), error);
    if (error != 0) {
        why = "it cannot be read: " + platform::errorText(error);
        return Read::Refused;
    }
    const size_t first = bytes.find('\n');
    if (first == std::string::npos &&
        (std::string(kVersionLine) + std::string(kVersion)).starts_with(bytes)) {
        return Read::Unfinished;
    }
    const std::string_view version = std::string_view(bytes).substr(0, std::min(first, size_t{80}));
    if (version != std::string(kVersionLine) + std::string(kVersion)) {
        why = version.starts_with(kVersionLine)
                  ? "it was written by another version of Chronosift (\"" + std::string(version) +
                        "\")"
                  : std::string("it is not a journal of Chronosift");
        return Read::Refused;
    }
    j.length = bytes.rfind('\n') + 1;
    std::string_view rest = std::string_view(bytes).substr(first + 1, j.length - first - 1);
    for (size_t line = 2; !rest.empty(); ++line) {
        const size_t end = rest.find('\n');
        std::string_view text = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        const size_t space = text.find(' ');
        const std::string_view kind = text.substr(0, space);
        const std::string_view tail =
            space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        const size_t space2 = tail.find(' ');
        size_t place = 0;
        bool ok = number(tail.substr(0, space2), place);
        if (ok && kind == "moved") {
            trash::TrashItem item;
            trash::TrashOutcome o;
            ok = space2 != std::string_view::npos && readMoved(tail.substr(space2 + 1), item, o) &&
                 (j.places.empty() || place > j.places.back());
            j.places.push_back(place);
            j.items.push_back(std::move(item));
            j.outcomes.push_back(std::move(o));
            j.done.push_back(false);
        } else if (ok && kind == "back" && space2 == std::string_view::npos) {
            const auto at = std::lower_bound(j.places.begin(), j.places.end(), place);
            ok = at != j.places.end() && *at == place;
            if (ok) {
                j.done[static_cast<size_t>(at - j.places.begin())] = true;
            }
        } else {
            ok = false;
        }
        if (!ok) {
            why = "it is damaged (line " + std::to_string(line) + ")";
            return Read::Refused;
        }
    }
    return Read::Ok;
}

// The journals' folder, open; made (mode 0700) where missing. Only a real folder of the user's,
// closed to others: whoever could write into it could swap a journal between the check and the
// act, and whoever could read it would learn every path moved. Invalid and `why` set otherwise.
Fd openFolder(const std::string& folder, std::string& why) {
    if (folder.empty()) {
        why = "neither $XDG_STATE_HOME nor $HOME is set";
        return {};
    }
    for (size_t at = 1; at < folder.size(); ++at) {
        if (folder[at] == '/' && ::mkdir(folder.substr(0, at).c_str(), 0700) != 0 &&
            errno != EEXIST) {
            why = "cannot make " + folder.substr(0, at) + ": " + platform::errorText(errno);
            return {};
        }
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = "cannot make " + folder + ": " + platform::errorText(errno);
        return {};
    }
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
        why = folder + ": " +
              (errno == ELOOP || errno == ENOTDIR ? std::string("it is not a folder")
                                                  : platform::errorText(errno));
        return {};
    }
    if (st.st_uid != ::geteuid()) {
        why = folder + ": it belongs to someone else, so no undo journal is kept or read there";
        return {};
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0) {
        why = folder +
              ": others may use it, and it cannot be closed to them: " + platform::errorText(errno);
        return {};
    }
    return fd;
}

// The journal's own name in its folder.
std::string nameIn(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

int writeWhole(int fd, std::string_view rest) {
    while (!rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno != EINTR) {
            return errno;
        }
        rest.remove_prefix(static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    return ::fsync(fd) != 0 ? errno : 0;
}

// Writes `text` as a new journal named for `nanoseconds`. "" or why not.
std::string writeNew(const std::string& text, int64_t nanoseconds, std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = pressFolder();
    std::string why;
    const Fd dir = openFolder(folder, why);
    if (!dir.ok()) {
        return why;
    }
    char time[24];
    std::snprintf(time, sizeof time, "%020lld", static_cast<long long>(nanoseconds));
    Fd fd;
    for (int attempt = 0; !fd.ok() && attempt < 100; ++attempt) {
        path = folder + "/" + std::string(kPrefix) + time + "-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++);
        fd = Fd(::openat(dir.get(), nameIn(path).c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.ok() && errno != EEXIST) {
            break;
        }
    }
    if (!fd.ok()) {
        why = platform::errorText(errno);
        path.clear();
        return "cannot make a journal in " + folder + ": " + why;
    }
    // Held while it is written, so that no Undo reads it half way.
    ::flock(fd.get(), LOCK_EX);
    if (const int error = writeWhole(fd.get(), text); error != 0) {
        return "cannot write " + path + ": " + platform::errorText(error);
    }
    return {};
}

// The journal of earlier versions, "chronosift-last-press 1": fields "LENGTH:BYTES".
bool readOldJournal(std::string_view rest, PressJournal& j) {
    constexpr std::string_view kMagic = "chronosift-last-press 1\n";
    if (!rest.starts_with(kMagic)) {
        return false;
    }
    rest.remove_prefix(kMagic.size());
    bool ok = true;
    const auto text = [&] {
        const size_t colon = rest.find(':');
        size_t n = 0;
        ok = ok && colon != std::string_view::npos &&
             std::from_chars(rest.data(), rest.data() + colon, n).ptr == rest.data() + colon &&
             n <= rest.size() - colon - 1;
        if (!ok) {
            return std::string();
        }
        std::string out(rest.substr(colon + 1, n));
        rest.remove_prefix(colon + 1 + n);
        return out;
    };
    const auto num = [&] {
        uint64_t n = 0;
        ok = ok && number(text(), n);
        return n;
    };
    const auto id = [&] {
        const uint64_t device = num();
        return Identity{device, num()};
    };
    while (ok && !rest.empty()) {
        trash::TrashItem item;
        trash::TrashOutcome o;
        auto route = std::make_shared<platform::FolderRoute>();
        item.path = text();
        route->rowPath = text();
        route->row = id();
        for (uint64_t s = 0, steps = num(); ok && s < steps; ++s) {
            std::string name = text();
            route->steps.push_back({std::move(name), id()});
        }
        item.name = text();
        item.folder = std::move(route);
        o.status = trash::TrashStatus::Moved;
        o.trashFolder = text();
        o.trashedName = text();
        o.inode = num();
        o.record = text();
        o.recordInode = num();
        o.files = id();
        o.info = id();
        ok = ok && rest.starts_with('\n');
        rest.remove_prefix(ok ? 1 : 0);
        j.items.push_back(std::move(item));
        j.outcomes.push_back(std::move(o));
    }
    return ok;
}

// Takes over the single journal of earlier versions as a press of its own, dated by its time,
// and removes the temporaries of one that a kill left (old, so surely no writer's any more).
void takeOverOldJournal(int folder, const std::vector<std::string>& names,
                        std::vector<std::string>& problems) {
    const std::string old = pressFolder() + "/" + std::string(kOldJournal);
    for (const std::string& name : names) {
        struct stat st;
        if (name.size() == kOldJournal.size() + 7 && name.starts_with(kOldJournal) &&
            name[kOldJournal.size()] == '.' &&
            ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && st.st_mtime < std::time(nullptr) - 600) {
            trash::dropOwnTemp(folder, name);
        }
    }
    PressJournal j;
    j.fd = Fd(::openat(folder, std::string(kOldJournal).c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!j.fd.ok() || ::flock(j.fd.get(), LOCK_EX | LOCK_NB) != 0 ||
        ::fstat(j.fd.get(), &st) != 0 || st.st_nlink == 0) {
        return;  // none, or another run is taking it over
    }
    int error = 0;
    const std::string bytes = readAll(j.fd.get(), error);
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || error != 0 ||
        !readOldJournal(bytes, j)) {
        problems.push_back(old + ": the undo journal of an earlier version of Chronosift is " +
                           "damaged, so its files were left in the trash; it is left as it is");
        return;
    }
    std::string path;
    std::string text = std::string(kVersionLine) + std::string(kVersion) + "\n";
    for (size_t i = 0; i < j.items.size(); ++i) {
        text += movedLine(i, j.items[i], j.outcomes[i]);
    }
    const int64_t when = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    if (std::string why = writeNew(text, when, path); !why.empty()) {
        problems.push_back(old + ": the undo journal of an earlier version of Chronosift " +
                           "could not be taken over: " + why);
        return;
    }
    trash::dropOwnTemp(folder, std::string(kOldJournal));
}

// The pid in a journal's name, or 0.
pid_t writerOf(std::string_view name) {
    name.remove_prefix(std::min(name.size(), kPrefix.size() + 21));
    pid_t pid = 0;
    const size_t dash = name.find('-');
    return number(name.substr(0, dash), pid) ? pid : 0;
}

}  // namespace

std::string pressFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/chronosift";
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) + "/.local/state/chronosift"
                                             : std::string();
}

std::string writePressJournal(const std::vector<trash::TrashItem>& items,
                              const std::vector<trash::TrashOutcome>& outcomes, std::string& path) {
    path.clear();
    std::string text = std::string(kVersionLine) + std::string(kVersion) + "\n";
    const size_t header = text.size();
    for (size_t i = 0; i < items.size() && i < outcomes.size(); ++i) {
        if (outcomes[i].status == trash::TrashStatus::Moved && items[i].folder != nullptr) {
            text += movedLine(i, items[i], outcomes[i]);
        }
    }
    if (text.size() == header) {
        return {};
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return writeNew(text, int64_t{now.tv_sec} * 1000000000 + now.tv_nsec, path);
}

std::string PressJournal::markDone(const std::vector<size_t>& files) {
    std::string lines;
    for (const size_t k : files) {
        if (k < done.size() && !done[k]) {
            done[k] = true;
            lines += "back " + std::to_string(places[k]) + "\n";
        }
    }
    if (std::find(done.begin(), done.end(), false) == done.end()) {
        const int error = trash::dropOwnTemp(folder.get(), nameIn(path));
        return error == 0 || trash::identityAt(folder.get(), nameIn(path)).inode == 0
                   ? std::string()
                   : "cannot remove " + path + ": " + platform::errorText(error);
    }
    if (lines.empty()) {
        return {};
    }
    // A line a killed run cut short goes first, so that the new lines stay whole.
    const int error = ::ftruncate(fd.get(), static_cast<off_t>(length)) != 0 ? errno
                      : ::lseek(fd.get(), 0, SEEK_END) < 0                   ? errno
                                                           : writeWhole(fd.get(), lines);
    length += lines.size();
    return error == 0 ? std::string() : "cannot write " + path + ": " + platform::errorText(error);
}

std::unique_ptr<PressJournal> latestPressJournal(std::vector<std::string>& problems) {
    const std::string folder = pressFolder();
    if (folder.empty() || (::access(folder.c_str(), F_OK) != 0 && errno == ENOENT)) {
        return nullptr;
    }
    std::string why;
    const Fd dir = openFolder(folder, why);
    const int dupFd = dir.ok() ? ::dup(dir.get()) : -1;
    DIR* list = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
    if (list == nullptr) {
        problems.push_back(why.empty() ? folder + ": " + platform::errorText(errno) : why);
        if (dupFd >= 0) {
            ::close(dupFd);
        }
        return nullptr;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(list)) {
        names.emplace_back(e->d_name);
    }
    ::closedir(list);
    takeOverOldJournal(dir.get(), names, problems);
    std::erase_if(names, [](const std::string& name) { return !name.starts_with(kPrefix); });
    std::sort(names.rbegin(), names.rend());
    for (const std::string& name : names) {
        auto j = std::make_unique<PressJournal>();
        j->path = folder + "/" + name;
        j->fd = Fd(::openat(dir.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (!j->fd.ok() || ::fstat(j->fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid()) {
            problems.push_back(j->path + ": it is not a journal file of yours" +
                               (j->fd.ok() ? "" : " (" + platform::errorText(errno) + ")") +
                               ", so it is left as it is");
            continue;
        }
        if (::flock(j->fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(j->fd.get(), &st) != 0 ||
            st.st_nlink == 0) {
            continue;  // being written or undone by a live run, or gone meanwhile
        }
        std::string why;
        const Read read = readJournal(*j, why);
        const pid_t writer = writerOf(name);
        if (read == Read::Refused) {
            problems.push_back(j->path + ": " + why + ", so its files were left in the trash " +
                               "and the journal is left as it is");
        } else if (read == Read::Unfinished
                       ? writer > 0 && ::kill(writer, 0) != 0 && errno == ESRCH
                       : std::find(j->done.begin(), j->done.end(), false) == j->done.end()) {
            // A kill before its first file was written, or nothing left to put back.
            trash::dropOwnTemp(dir.get(), name);
        } else if (read == Read::Ok) {
            j->folder = Fd(::dup(dir.get()));
            return j;
        }
    }
    return nullptr;
}

bool anyPressJournal() {
    const std::string folder = pressFolder();
    bool any = false;
    if (DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name(e->d_name);
            any = any || name.starts_with(kPrefix) || name == kOldJournal;
        }
        ::closedir(dir);
    }
    return any;
}

}  // namespace chronosift
