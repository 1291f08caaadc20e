// The path rules: search-folder rows end in exactly one "/", and a file's path is its folder's
// path without the trailing "/", then "/", then the name, so a file in the root is "/name".
#pragma once

#include <string>
#include <string_view>

namespace chronosift {

// A row's folder path without its trailing "/": "/data/" gives "/data", "/" gives "".
std::string_view rowFolderPath(std::string_view row);

// The path of `name` in the folder whose path (without trailing "/") is `folderPath`.
std::string joinPath(std::string_view folderPath, std::string_view name);

// Whether `row` lies inside `other`, or is the same folder. Both end in "/".
inline bool isInside(std::string_view row, std::string_view other) {
    return row.starts_with(other);
}

}  // namespace chronosift
