#include "index/prune.h"

#include <gtest/gtest.h>

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

TEST(Prune, NothingToDoForNoneOrOneRow) {
    EXPECT_TRUE(dropped({}).empty());
    EXPECT_TRUE(dropped({"/data/"}).empty());
    EXPECT_TRUE(dropped({"/"}).empty());
}

TEST(Prune, RowInsideALowerRowIsDroppedWithItsMessage) {
    const auto marks = pruneNestedRows({"/data/sub/", "/data/"});
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].row, 0u);
    EXPECT_EQ(marks[0].message,
              "/data/sub/ will be removed because it is a subfolder of another folder that you "
              "added.");
}

TEST(Prune, RowInsideAnUpperRowIsDroppedToo) {
    // Comparing only with the rows below would keep /data/sub/ and list its files twice.
    EXPECT_EQ(dropped({"/data/", "/data/sub/"}), (std::vector<size_t>{1}));
    EXPECT_EQ(remaining({"/data/", "/data/sub/"}), (Rows{"/data/"}));
}

TEST(Prune, EveryNestedRowGoesAndTheOutermostStays) {
    // /a/b/c/ and /a/b/ both lie inside /a/.
    EXPECT_EQ(dropped({"/a/b/c/", "/a/", "/a/b/"}), (std::vector<size_t>{2, 0}));
    EXPECT_EQ(remaining({"/a/b/c/", "/a/", "/a/b/"}), (Rows{"/a/"}));
}

TEST(Prune, IdenticalRowsKeepTheLowest) {
    EXPECT_EQ(dropped({"/x/", "/y/", "/x/"}), (std::vector<size_t>{0}));
    EXPECT_EQ(dropped({"/x/", "/x/", "/x/"}), (std::vector<size_t>{1, 0}));
    EXPECT_EQ(remaining({"/x/", "/x/sub/", "/x/"}), (Rows{"/x/"}));
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

TEST(Prune, TheRootHoldsEverything) {
    EXPECT_EQ(remaining({"/home/", "/", "/tmp/x/"}), (Rows{"/"}));
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
