#include "platform/volumes.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace chronosift::platform {

namespace {

// The mount tables write blanks, tabs, newlines and backslashes as octal escapes.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(std::stoi(digits, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

bool hasOption(const std::string& options, const std::string& option) {
    std::istringstream in(options);
    std::string one;
    while (std::getline(in, one, ',')) {
        if (one == option) {
            return true;
        }
    }
    return false;
}

bool below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.starts_with(folder) &&
           (folder.ends_with('/') || path[folder.size()] == '/');
}

bool atOrBelow(const std::string& path, const std::string& folder) {
    return path == folder || below(path, folder);
}

}  // namespace

bool shouldDisplayMount(const MountEntry& mount, const MountViewer& viewer) {
    static const char* const kSystemTypes[] = {
        "proc",      "sysfs",       "devtmpfs", "devpts",   "cgroup",    "cgroup2",    "debugfs",
        "tracefs",   "securityfs",  "pstore",   "bpf",      "configfs",  "fusectl",    "mqueue",
        "hugetlbfs", "binfmt_misc", "autofs",   "efivarfs", "selinuxfs", "rpc_pipefs", "nsfs",
        "rootfs",    "ramfs",       "squashfs", "overlay",  "devfs",     "usbfs",      "kernfs"};
    const std::string& at = mount.mountPoint;
    if (at.empty() || at == "/" || hasOption(mount.options, "x-gvfs-hide")) {
        return false;
    }
    for (const char* type : kSystemTypes) {
        if (mount.type == type) {
            return false;
        }
    }
    // A read-only loop image (a snap, an installer's image) is part of the system, not a volume.
    if (mount.source.starts_with("/dev/loop") && hasOption(mount.options, "ro")) {
        return false;
    }
    if (hasOption(mount.options, "x-gvfs-show")) {
        return true;
    }
    if (at.find("/.") != std::string::npos) {
        return false;  // inside a hidden folder: hidden on purpose
    }
    const std::string userMedia = "/run/media/" + viewer.user;
    if (below(at, "/media") || atOrBelow(at, "/mnt") ||
        (viewer.root ? below(at, "/run/media") : below(at, userMedia))) {
        return true;
    }
    // Anywhere else (/proc, /sys, /dev, /run, /boot, /var, /tmp...) it is the system's own.
    return !viewer.home.empty() && viewer.home != "/" && below(at, viewer.home);
}

std::vector<MountEntry> currentMounts() {
    // Options that the mount table itself does not keep: the userspace ones of mounts made by
    // mount(8) (utab), and those written in fstab.
    std::map<std::string, std::string> extra;
    {
        std::ifstream fstab("/etc/fstab");
        std::string line;
        while (std::getline(fstab, line)) {
            std::istringstream fields(line);
            std::string source, target, type, options;
            if (line.starts_with('#') || !(fields >> source >> target >> type >> options)) {
                continue;
            }
            extra[unescapeMountField(target)] += "," + options;
        }
        std::ifstream utab("/run/mount/utab");
        while (std::getline(utab, line)) {
            std::istringstream fields(line);
            std::string field, target, options;
            while (fields >> field) {
                if (field.starts_with("TARGET=")) {
                    target = unescapeMountField(field.substr(7));
                } else if (field.starts_with("OPTS=")) {
                    options = field.substr(5);
                }
            }
            if (!target.empty()) {
                extra[target] += "," + options;
            }
        }
    }
    std::vector<MountEntry> mounts;
    std::ifstream info("/proc/self/mountinfo");
    std::string line;
    while (std::getline(info, line)) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPEROPTIONS
        std::istringstream fields(line);
        std::string id, parent, device, root, target, options, field;
        if (!(fields >> id >> parent >> device >> root >> target >> options)) {
            continue;
        }
        while (fields >> field && field != "-") {
        }
        MountEntry entry;
        std::string super;
        if (!(fields >> entry.type >> entry.source)) {
            continue;
        }
        fields >> super;
        entry.mountPoint = unescapeMountField(target);
        entry.source = unescapeMountField(entry.source);
        entry.options = options + "," + super;
        if (const auto it = extra.find(entry.mountPoint); it != extra.end()) {
            entry.options += it->second;
        }
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

std::vector<std::string> mountedVolumes() {
    MountViewer viewer;
    viewer.root = ::geteuid() == 0;
    if (const char* home = std::getenv("HOME"); home != nullptr) {
        viewer.home = home;
    }
    while (viewer.home.size() > 1 && viewer.home.ends_with('/')) {
        viewer.home.pop_back();
    }
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr) {
        viewer.user = pw->pw_name;
    }
    std::vector<std::string> volumes;
    for (const MountEntry& m : currentMounts()) {
        if (shouldDisplayMount(m, viewer) &&
            std::find(volumes.begin(), volumes.end(), m.mountPoint) == volumes.end()) {
            volumes.push_back(m.mountPoint);
        }
    }
    return volumes;
}

}  // namespace chronosift::platform
