// Which search-folder rows to drop before a build, because another row already covers them.
#pragma once

#include <string>
#include <vector>

namespace chronosift {

struct PruneMark {
    size_t row = 0;       // position in the list, from 0
    std::string message;  // what to tell the user before the row goes
};

// A row is dropped when it lies inside any other row, or names the same folder as another row
// (of identical rows the lowest stays). Rows end in "/", so a row lies inside another when its
// text begins with the other's: "/data2/" is not inside "/data/". The comparison is byte for byte.
// The marks come bottom-up (highest position first), the order in which to tell and remove them.
std::vector<PruneMark> pruneNestedRows(const std::vector<std::string>& rows);

// The message for a dropped row.
std::string pruneMessage(const std::string& row);

}  // namespace chronosift
