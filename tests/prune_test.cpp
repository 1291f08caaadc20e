#include "index/prune.h"

#include <gtest/gtest.h>

#include <tuple>

#include "index/paths.h"

namespace chronosift {
namespace {

using Rows = std::vector<std::string>;

// The positions that pruning drops, in the order it tells them.
std::vector<size_t> dropped(const Rows& rows) {
    std::vector<size_t> positions;
    for (const PruneMark& m : pruneNestedRows(rows)) {
        positions.push_back(m.row);
    }
    return positions;
}

// The rows that remain after removing the marks one by one, as the page does.
Rows remaining(Rows rows) {
    for (const PruneMark& m : pruneNestedRows(rows)) {
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(m.row));
    }
    return rows;
}

TEST(Prune, RowInsideALowerRowIsDroppedWithItsMessage) {
    const auto marks = pruneNestedRows({"/data/sub/", "/data/"});
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].row, 0u);
    EXPECT_EQ(marks[0].message,
              "/data/sub/ will be removed because it is a subfolder of another folder that you "
              "added.");
}

// Rows inside a row above or below go (comparing only with the rows below would list files
// twice), the outermost stays, and of identical rows the lowest.
TEST(Prune, EveryNestedRowGoesAndTheOutermostStays) {
    const std::vector<std::tuple<Rows, std::vector<size_t>, Rows>> cases = {
        {{}, {}, {}},
        {{"/"}, {}, {"/"}},
        {{"/data/", "/data/sub/"}, {1}, {"/data/"}},
        {{"/a/b/c/", "/a/", "/a/b/"}, {2, 0}, {"/a/"}},
        {{"/x/", "/y/", "/x/"}, {0}, {"/y/", "/x/"}},
        {{"/x/", "/x/sub/", "/x/"}, {1, 0}, {"/x/"}},
        {{"/home/", "/", "/tmp/x/"}, {2, 0}, {"/"}},
    };
    for (const auto& [rows, drops, left] : cases) {
        EXPECT_EQ(dropped(rows), drops) << testing::PrintToString(rows);
        EXPECT_EQ(remaining(rows), left) << testing::PrintToString(rows);
    }
}

TEST(Prune, MessagesComeBottomUp) {
    const auto marks = pruneNestedRows({"/m/one/", "/m/", "/m/three/", "/n/"});
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].row, 2u);
    EXPECT_TRUE(marks[0].message.starts_with("/m/three/ will be removed"));
    EXPECT_EQ(marks[1].row, 0u);
    EXPECT_TRUE(marks[1].message.starts_with("/m/one/ will be removed"));
}

TEST(Prune, OnlyWholeFolderPrefixesNest) {
    EXPECT_TRUE(dropped({"/DATA/sub/", "/data/"}).empty());  // byte for byte, case kept
    EXPECT_TRUE(dropped({"/data2/", "/data/"}).empty());     // the "/" ends the folder name
    EXPECT_TRUE(dropped({"/x/a/", "/a/"}).empty());          // occurring inside is not nesting
    EXPECT_TRUE(dropped({"/a/", "/x/a/"}).empty());
}

TEST(Paths, RootFolderGivesASingleSlash) {
    EXPECT_EQ(rowFolderPath("/"), "");
    EXPECT_EQ(joinPath(rowFolderPath("/"), "readme.txt"), "/readme.txt");
    EXPECT_EQ(rowFolderPath("/data/"), "/data");
    EXPECT_EQ(joinPath(rowFolderPath("/data/"), "a"), "/data/a");
    EXPECT_EQ(joinPath("/data/sub", "\xff\xfe"), "/data/sub/\xff\xfe");
}

}  // namespace
}  // namespace chronosift
