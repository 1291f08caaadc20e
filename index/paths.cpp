#include "index/paths.h"

namespace chronosift {

std::string_view rowFolderPath(std::string_view row) {
    if (!row.empty() && row.back() == '/') {
        row.remove_suffix(1);
    }
    return row;
}

std::string joinPath(std::string_view folderPath, std::string_view name) {
    std::string path;
    path.reserve(folderPath.size() + 1 + name.size());
    path.append(folderPath);
    path.push_back('/');
    path.append(name);
    return path;
}

}  // namespace chronosift
