#include "folders/selection.h"

namespace chronosift {

bool addFolderEnabled(std::string_view selectedFolder) {
    return selectedFolder != "My Computer" && selectedFolder != "My Network Places" &&
           selectedFolder != "Recycle Bin";
}

std::optional<std::string> rowForSelection(std::string_view selectedFolder) {
    if (selectedFolder.empty() || selectedFolder[0] != '/' ||
        (selectedFolder.size() > 1 && selectedFolder[1] == '/')) {
        return std::nullopt;
    }
    std::string row(selectedFolder);
    if (row.back() != '/') {
        row.push_back('/');
    }
    return row;
}

}  // namespace chronosift
