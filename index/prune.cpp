#include "index/prune.h"

#include "index/paths.h"

namespace chronosift {

std::string pruneMessage(const std::string& row) {
    return row + " will be removed because it is a subfolder of another folder that you added.";
}

std::vector<PruneMark> pruneNestedRows(const std::vector<std::string>& rows) {
    std::vector<PruneMark> marks;
    for (size_t i = rows.size(); i-- > 0;) {
        for (size_t j = 0; j < rows.size(); ++j) {
            if (j == i || !isInside(rows[i], rows[j])) {
                continue;
            }
            // Inside another folder, or the same folder as a row further down.
            if (rows[i].size() != rows[j].size() || j > i) {
                marks.push_back({i, pruneMessage(rows[i])});
                break;
            }
        }
    }
    return marks;
}

}  // namespace chronosift
