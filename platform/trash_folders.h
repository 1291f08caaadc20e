// Where the desktop's trash folders are, so that nothing walks into one or moves what is in one:
// a search over a folder that holds a trash must never take the trash's own files and records.
//
// One rule says where a trash folder can be, and both sides use it: placement puts a volume's
// trash (.Trash/$uid or .Trash-$uid) only directly in a volume's top folder, and the walk and the
// move count a ".Trash" or ".Trash-*" folder as a trash there and nowhere else. A folder of that
// name deeper in a volume is an ordinary folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace chronosift::platform {

// The home trash: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash; "" when neither is set.
std::string homeTrashPath();

// The home trash's identity now (links followed), or {} when it does not exist.
Identity homeTrashIdentity();

// Where a folder sits: its device, the mount it was reached through (0 where the kernel does not
// say; one device can be mounted twice, and a rename cannot cross mounts) and its inode.
struct VolumePlace {
    uint64_t device = 0;
    uint64_t mount = 0;
    uint64_t inode = 0;
    bool sameMount(const VolumePlace& o) const { return device == o.device && mount == o.mount; }
};

// The place of the entry `name` of the open folder `folder` ("" for the folder itself), no link
// followed. False, with errno set, when it cannot be told.
bool placeOf(int folder, const char* name, VolumePlace& place);

// Whether a folder is the top of a volume, given its parent (".." of it): "/", the root of a
// mount, or a folder on another device than its parent, such as a btrfs subvolume.
bool isVolumeTop(const VolumePlace& folder, const VolumePlace& parent);

// Whether a folder of this name in a volume's top is a trash folder.
bool isTrashName(std::string_view name);

// Whether the folder with this real path (absolute, no links) is a trash folder or lies inside
// one: the home trash by its identity, or a trash folder by the rule above. Returns that trash
// folder's path, or "" when the folder is outside every trash. Each step is opened without
// following a link.
std::string trashFolderAround(const std::string& realPath);

}  // namespace chronosift::platform
