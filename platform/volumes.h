// The mounted volumes a file manager would show, by the rules desktop file managers follow.
//
// Promises:
// - Shown: mounts below /media, /run/media/$USER (any below /run/media for root), /mnt and the
//   home folder, and any mount whose fstab or mount options say x-gvfs-show.
// - Never shown: "/" (the tree has its own item for it), kernel pseudo file systems, the
//   system's own mounts (/proc, /sys, /dev, /run, /boot and the like), snaps and other read-only
//   loop images, mounts inside a hidden folder, and any mount that says x-gvfs-hide.
// - Nothing here touches a mounted file system, so a dead network mount cannot block it.
#pragma once

#include <string>
#include <vector>

namespace chronosift::platform {

struct MountEntry {
    std::string source;      // the device or what stands for it
    std::string mountPoint;  // bytes, unescaped
    std::string type;
    std::string options;  // the mount's own options and any userspace or fstab options, comma
                          // separated
};

// Who is asking: the rules depend on the home folder and the user.
struct MountViewer {
    std::string home;
    std::string user;
    bool root = false;
};

bool shouldDisplayMount(const MountEntry& mount, const MountViewer& viewer);

// The mounts of this process (/proc/self/mountinfo), with the options that /etc/fstab and
// /run/mount/utab give for the same mount points.
std::vector<MountEntry> currentMounts();

// The mount points to show for the current user, in mount order, each once.
std::vector<std::string> mountedVolumes();

}  // namespace chronosift::platform
