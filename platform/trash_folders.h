// Where the desktop's trash folders are, so that nothing walks into one or moves what is in one:
// a search over a folder that holds a trash must never take the trash's own files and records.
#pragma once

#include <string>

#include "platform/fs.h"

namespace chronosift::platform {

// The home trash: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash; "" when neither is set.
std::string homeTrashPath();

// The home trash's identity now (links followed), or {} when it does not exist.
Identity homeTrashIdentity();

// Whether the folder with this real path (absolute, no links) is a trash folder or lies inside
// one: the home trash by its identity, or a ".Trash" or ".Trash-*" folder at the root of a
// mount. Returns that trash folder's path, or "" when the folder is outside every trash. Each
// step is opened without following a link.
std::string trashFolderAround(const std::string& realPath);

}  // namespace chronosift::platform
