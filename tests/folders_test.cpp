#include "folders/selection.h"

#include <gtest/gtest.h>

namespace chronosift {
namespace {

TEST(FolderSelection, AddFolderDisabledForExactlyThreeNames) {
    EXPECT_FALSE(addFolderEnabled("My Computer"));
    EXPECT_FALSE(addFolderEnabled("My Network Places"));
    EXPECT_FALSE(addFolderEnabled("Recycle Bin"));
    for (const char* enabled : {"Desktop", "my computer", "MY COMPUTER", "Recycle bin",
                                "My Computer ", "Control Panel", "", "/", "/home/user"}) {
        EXPECT_TRUE(addFolderEnabled(enabled)) << enabled;
    }
}

TEST(FolderSelection, RowsEndInExactlyOneSlash) {
    EXPECT_EQ(rowForSelection("/"), "/");
    EXPECT_EQ(rowForSelection("/data"), "/data/");
    EXPECT_EQ(rowForSelection("/data/"), "/data/");
    EXPECT_EQ(rowForSelection("/caf\xE9"), "/caf\xE9/");
    for (const char* refused : {"", "Desktop", "Control Panel", "data/x", "//host/share",
                                "\\\\host\\share", "C:\\Data", "~"}) {
        EXPECT_FALSE(rowForSelection(refused).has_value()) << refused;
    }
}

}  // namespace
}  // namespace chronosift
