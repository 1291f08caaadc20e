// Reaching a listed folder again: from its row's real path, one name at a time, no link
// followed and the identity of every folder checked.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/fd.h"
#include "platform/fs.h"

namespace chronosift::platform {

std::string FolderRoute::realPath() const {
    std::string out = rowPath;
    for (const Step& step : steps) {
        out.push_back('/');
        out.append(step.name);
    }
    return out.empty() ? "/" : out;
}

namespace {

// Opens one name below `base` as a path-only folder, following no link, and checks its identity.
Fd openStep(int base, const std::string& name, const Identity& expected, int& error) {
    Fd fd(::openat(base, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok()) {
        error = errno == ELOOP || errno == ENOTDIR ? kChanged : errno;
        return {};
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        error = errno;
        return {};
    }
    if (Identity::of(st) != expected) {
        error = kChanged;
        return {};
    }
    return fd;
}

}  // namespace

int openRoute(const FolderRoute& route, int& error) {
    error = 0;
    Fd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!current.ok()) {
        error = errno;
        return -1;
    }
    // The row's real path holds no link, so it is walked one name at a time with none followed.
    std::string_view rest(route.rowPath);
    std::string name;
    while (!rest.empty()) {
        const size_t skip = rest.find_first_not_of('/');
        if (skip == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(skip);
        const size_t end = std::min(rest.find('/'), rest.size());
        name.assign(rest.substr(0, end));
        rest.remove_prefix(end);
        Fd next(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.ok()) {
            error = errno == ELOOP || errno == ENOTDIR ? kChanged : errno;
            return -1;
        }
        current = std::move(next);
    }
    struct stat st;
    if (::fstat(current.get(), &st) != 0) {
        error = errno;
        return -1;
    }
    if (Identity::of(st) != route.row) {
        error = kChanged;
        return -1;
    }
    for (const FolderRoute::Step& step : route.steps) {
        current = openStep(current.get(), step.name, step.id, error);
        if (!current.ok()) {
            return -1;
        }
    }
    return current.release();
}

}  // namespace chronosift::platform
