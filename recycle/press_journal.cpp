#include "recycle/press_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "platform/fd.h"
#include "platform/fs.h"
#include "trash/proven.h"

namespace chronosift {

namespace {

constexpr std::string_view kMagic = "chronosift-last-press 1\n";

// Fields are "LENGTH:BYTES", so any byte of a name or record goes through unchanged.
void put(std::string& out, std::string_view bytes) {
    out += std::to_string(bytes.size());
    out.push_back(':');
    out.append(bytes);
}

void put(std::string& out, uint64_t n) {
    put(out, std::to_string(n));
}

void put(std::string& out, const platform::Identity& id) {
    put(out, id.device);
    put(out, id.inode);
}

struct Reader {
    std::string_view rest;
    bool ok = true;

    std::string text() {
        const size_t colon = rest.find(':');
        size_t n = 0;
        if (!ok || colon == std::string_view::npos ||
            std::from_chars(rest.data(), rest.data() + colon, n).ptr != rest.data() + colon ||
            n > rest.size() - colon - 1) {
            ok = false;
            return {};
        }
        std::string out(rest.substr(colon + 1, n));
        rest.remove_prefix(colon + 1 + n);
        return out;
    }
    uint64_t number() {
        const std::string t = text();
        uint64_t n = 0;
        if (t.empty() ||
            std::from_chars(t.data(), t.data() + t.size(), n).ptr != t.data() + t.size()) {
            ok = false;
        }
        return n;
    }
    platform::Identity identity() {
        const uint64_t device = number();
        return {device, number()};
    }
};

bool makeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if ((at == path.size() || path[at] == '/') &&
            ::mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string lastPressPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/chronosift/last-press";
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/'
               ? std::string(home) + "/.local/state/chronosift/last-press"
               : std::string();
}

std::string writePressJournal(const std::string& path, const std::vector<trash::TrashItem>& items,
                              const std::vector<trash::TrashOutcome>& outcomes) {
    std::string out(kMagic);
    size_t moved = 0;
    for (size_t i = 0; i < items.size() && i < outcomes.size(); ++i) {
        const trash::TrashOutcome& o = outcomes[i];
        if (o.status != trash::TrashStatus::Moved || items[i].folder == nullptr) {
            continue;
        }
        ++moved;
        const platform::FolderRoute& route = *items[i].folder;
        put(out, items[i].path);
        put(out, route.rowPath);
        put(out, route.row);
        put(out, route.steps.size());
        for (const auto& step : route.steps) {
            put(out, step.name);
            put(out, step.id);
        }
        put(out, items[i].name);
        put(out, o.trashFolder);
        put(out, o.trashedName);
        put(out, o.inode);
        put(out, o.record);
        put(out, o.recordInode);
        put(out, o.files);
        put(out, o.info);
        out.push_back('\n');
    }
    if (moved == 0) {
        const int error = trash::dropOwnTemp(AT_FDCWD, path);
        return error == 0 || trash::identityAt(AT_FDCWD, path).inode == 0
                   ? std::string()
                   : platform::errorText(error);
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || !makeFolders(path.substr(0, slash))) {
        return "cannot make the folder of " + path + ": " + platform::errorText(errno);
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return platform::errorText(errno);
    }
    std::string_view rest(out);
    int error = 0;
    while (!rest.empty() && error == 0) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno != EINTR) {
            error = errno;
        } else if (n > 0) {
            rest.remove_prefix(static_cast<size_t>(n));
        }
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 && error == 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0) {
        error = trash::replaceWithOwn(AT_FDCWD, temp, platform::Identity::of(st), path);
    }
    if (error != 0) {
        trash::dropOwnTemp(AT_FDCWD, temp);
        return platform::errorText(error);
    }
    return {};
}

bool readPressJournal(const std::string& path, std::vector<trash::TrashItem>& items,
                      std::vector<trash::TrashOutcome>& outcomes, std::string& error) {
    items.clear();
    outcomes.clear();
    error.clear();
    const platform::Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.ok()) {
        if (errno != ENOENT) {
            error = platform::errorText(errno);
        }
        return false;
    }
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd.get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR) {
            error = platform::errorText(errno);
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    Reader r{bytes};
    if (!r.rest.starts_with(kMagic)) {
        error = "it is not a journal of this program";
        return false;
    }
    r.rest.remove_prefix(kMagic.size());
    while (r.ok && !r.rest.empty()) {
        trash::TrashItem item;
        trash::TrashOutcome o;
        auto route = std::make_shared<platform::FolderRoute>();
        item.path = r.text();
        route->rowPath = r.text();
        route->row = r.identity();
        const uint64_t steps = r.number();
        for (uint64_t s = 0; r.ok && s < steps; ++s) {
            platform::FolderRoute::Step step;
            step.name = r.text();
            step.id = r.identity();
            route->steps.push_back(std::move(step));
        }
        item.name = r.text();
        item.folder = std::move(route);
        o.status = trash::TrashStatus::Moved;
        o.trashFolder = r.text();
        o.trashedName = r.text();
        o.inode = r.number();
        o.record = r.text();
        o.recordInode = r.number();
        o.files = r.identity();
        o.info = r.identity();
        o.trashedAs = o.trashFolder + "/files/" + o.trashedName;
        r.ok = r.ok && r.rest.starts_with('\n');
        r.rest.remove_prefix(r.ok ? 1 : 0);
        items.push_back(std::move(item));
        outcomes.push_back(std::move(o));
    }
    if (!r.ok) {
        items.clear();
        outcomes.clear();
        error = "the journal is damaged";
        return false;
    }
    return true;
}

}  // namespace chronosift
