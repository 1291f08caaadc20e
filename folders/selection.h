// What the folder page takes from the folder tree, and how a selection becomes a row.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace chronosift {

inline constexpr std::string_view kDesktopItem = "Desktop";

// "Add Folder" is disabled for exactly "My Computer", "My Network Places" and "Recycle Bin",
// compared byte for byte, letter case included.
bool addFolderEnabled(std::string_view selectedFolder);

// The search-folder row for a selection: a folder path begins with exactly one "/", and the row
// ends in exactly one "/". Nothing for anything else (empty, a display name, "//host/share").
std::optional<std::string> rowForSelection(std::string_view selectedFolder);

}  // namespace chronosift
