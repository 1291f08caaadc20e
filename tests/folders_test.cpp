#include "folders/selection.h"
#include "platform/volumes.h"

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

namespace chronosift::platform {
namespace {

TEST(Volumes, ShownAsAFileManagerShowsThem) {
    const MountViewer user{"/home/ann", "ann", false};
    const MountViewer root{"/root", "root", true};
    struct Case {
        MountEntry mount;
        bool forUser;
        bool forRoot;
    };
    const Case cases[] = {
        {{"/dev/sdb1", "/media/ann/USB", "vfat", "rw"}, true, true},
        {{"/dev/sdc1", "/run/media/bob/USB", "vfat", "rw"}, false, true},
        {{"/dev/sdd1", "/mnt/backup", "ext4", "rw"}, true, true},
        {{"tmpfs", "/home/ann/scratch", "tmpfs", "rw"}, true, false},
        {{"server:/x", "/home/annex/x", "nfs4", "rw"}, false, false},  // not below /home/ann
        {{"server:/x", "/srv/share", "nfs4", "rw,x-gvfs-show"}, true, true},
        {{"/dev/sdb1", "/media/ann/USB", "vfat", "rw,x-gvfs-hide"}, false, false},
        {{"/dev/sda1", "/", "ext4", "rw"}, false, false},
        {{"tmpfs", "/run/user/1000", "tmpfs", "rw"}, false, false},
        {{"proc", "/proc", "proc", "rw"}, false, false},
        {{"sysfs", "/mnt/sys", "sysfs", "rw"}, false, false},
        {{"/dev/loop3", "/snap/core/1", "squashfs", "ro"}, false, false},
        {{"/dev/loop4", "/media/ann/iso", "iso9660", "ro"}, false, false},
        {{"/dev/loop5", "/media/ann/disk image", "ext4", "rw"}, true, true},  // one to work on
        {{"/dev/sdb1", "/home/ann/.local/mnt", "ext4", "rw"}, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shouldDisplayMount(c.mount, user), c.forUser) << c.mount.mountPoint;
        EXPECT_EQ(shouldDisplayMount(c.mount, root), c.forRoot) << c.mount.mountPoint;
    }
}

}  // namespace
}  // namespace chronosift::platform
