// The trash on other volumes: a tmpfs of each test's own stands for one.
#include "index/build.h"
#include "recycle/recycling_bin.h"
#include "support/trash_fixture.h"

namespace chronosift::trash {
namespace {

// A volume's .Trash is used only as a real folder with the sticky bit; else .Trash-$uid.
TEST_F(VolumeTest, StickyDotTrashIsUsedOthersAreNot) {
    makeDir(volume_ + "/real-trash");
    const std::vector<std::tuple<std::string, std::string, mode_t>> cases = {
        {"one", "/.Trash/" + uid_, 01777}, {"two", "/.Trash-" + uid_, 0777}, {"link", "", 01777}};
    for (const auto& [name, can, mode] : cases) {
        if (name == "link") {  // not even a link to a sticky folder
            ASSERT_EQ(rename((volume_ + "/.Trash").c_str(), (volume_ + "/real-trash/x").c_str()),
                      0);
            testsupport::makeLink("real-trash", volume_ + "/.Trash");
            ASSERT_EQ(chmod((volume_ + "/real-trash").c_str(), mode), 0);
        } else {
            makeDir(volume_ + "/.Trash");
            ASSERT_EQ(chmod((volume_ + "/.Trash").c_str(), mode), 0);
        }
        makeFile(volume_ + "/" + name);
        Trash trash;
        const TrashOutcome o = moveToTrash(trash, volume_ + "/" + name);
        ASSERT_EQ(o.status, TrashStatus::Moved) << o.reason;
        const std::string at = volume_ + (can.empty() ? "/.Trash-" + uid_ : can);
        EXPECT_EQ(o.trashedAs, at + "/files/" + name);
        EXPECT_NE(readFile(at + "/info/" + name + ".trashinfo").find("\nPath=" + name + "\n"),
                  std::string::npos);
    }
}

TEST_F(VolumeTest, FullVolumeKeepsTheFileAndLeavesNoEmptyRecord) {
    makeFile(volume_ + "/victim", 1000000000, "keep me");
    const std::string can = volume_ + "/.Trash-" + uid_;
    makeDir(can + "/files");
    makeDir(can + "/info");
    // Fill the volume, to the last byte.
    const int fd = open((volume_ + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(65536, 'f');
    for (size_t size : {block.size(), size_t{1}}) {
        while (write(fd, block.data(), size) > 0) {
        }
    }
    close(fd);
    Trash trash;
    const TrashOutcome o = moveToTrash(trash, volume_ + "/victim");
    EXPECT_EQ(o.status, TrashStatus::Failed);
    EXPECT_NE(o.reason.find("No space left on device"), std::string::npos) << o.reason;
    EXPECT_EQ(readFile(volume_ + "/victim"), "keep me");
    EXPECT_TRUE(names(can + "/info").empty());
    EXPECT_TRUE(names(can + "/files").empty());
}

// A file on another volume goes to that volume's trash with a relative path; a tmpfs mounted a
// second time stands for one volume in two places, each keeping its own paths.
TEST_F(VolumeTest, EachMountOfAVolumeKeepsItsOwnPaths) {
    const std::string again = home_ / "again";
    makeDir(again);
    if (mount(volume_.c_str(), again.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    }
    makeDir(volume_ + "/sub");
    makeFile(volume_ + "/sub/f");
    makeFile(volume_ + "/sub/g");
    const std::string can = "/.Trash-" + uid_;
    // Left open to everyone by someone: closed before use.
    makeDir(volume_ + can);
    ASSERT_EQ(chmod((volume_ + can).c_str(), 0777), 0);
    Trash trash;
    const auto outcomes = trash.moveAll(itemsFor({volume_ + "/sub/f", again + "/sub/g"}));
    umount2(again.c_str(), MNT_DETACH);
    ASSERT_EQ(outcomes[0].status, TrashStatus::Moved) << outcomes[0].reason;
    ASSERT_EQ(outcomes[1].status, TrashStatus::Moved) << outcomes[1].reason;
    EXPECT_TRUE(names(trashDir() + "/files").empty()) << "not the home trash";
    EXPECT_EQ(outcomes[0].trashedAs, volume_ + can + "/files/f");
    EXPECT_EQ(outcomes[1].trashedAs, again + can + "/files/g");
    EXPECT_NE(readFile(volume_ + can + "/info/f.trashinfo").find("\nPath=sub/f\n"),
              std::string::npos);
    EXPECT_NE(readFile(volume_ + can + "/info/g.trashinfo").find("\nPath=sub/g\n"),
              std::string::npos);
    struct stat st;
    ASSERT_EQ(lstat((volume_ + can).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(VolumeTest, ARowLinkedIntoAVolumeGetsThePathOfTheRealFile) {
    // ~/Desktop is a link to a folder deeper inside another volume.
    makeDir(volume_ + "/users/me/Desktop");
    makeFile(volume_ + "/users/me/Desktop/note.txt");
    testsupport::makeLink(volume_ + "/users/me/Desktop", home_ / "Desktop");
    const auto index = buildIndex({home_ / "Desktop/"});
    ASSERT_EQ(index->fileCount(), 1u);
    EXPECT_EQ(index->path(0), home_ / "Desktop/note.txt") << "shown as the user picked it";
    Trash trash;
    const TrashOutcome o = trash.moveAll(trashItems(*index, {0})).front();
    ASSERT_EQ(o.status, TrashStatus::Moved) << o.reason;
    const std::string can = volume_ + "/.Trash-" + uid_;
    EXPECT_EQ(readFile(can + "/info/note.txt.trashinfo").find("\nPath=users/me/Desktop/note.txt\n"),
              std::string("[Trash Info]").size());
    EXPECT_FALSE(exists(volume_ + "/users/.Trash-" + uid_));
    EXPECT_FALSE(exists(volume_ + "/users/me/.Trash-" + uid_));
}

// A volume mounted below a row is searched, and its files go to that volume's trash; a bind
// mount of the same device is a mount of its own, whose files go to its own trash.
TEST_F(VolumeTest, MountsBelowARowAreSearchedAndTrashedToTheirOwnTrash) {
    makeFile(volume_ + "/on-volume", 1000000000, "v");
    const std::string bind = home_ / "bind";
    makeDir(bind);
    if (mount(work_.c_str(), bind.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    }
    makeFile(work_ + "/on-bind", 1000000000, "b");
    const IndexSnapshot index = buildIndex({home_.path() + "/"});
    std::vector<FileId> ids;
    for (FileId f = 0; f < index->fileCount(); ++f) {
        if (index->path(f) == home_ / "volume/on-volume" ||
            index->path(f) == home_ / "bind/on-bind") {
            ids.push_back(f);
        }
    }
    EXPECT_TRUE(index->errors().empty()) << index->errors().front().message();
    ASSERT_EQ(ids.size(), 2u);
    Trash trash;
    const auto outcomes = trash.moveAll(trashItems(*index, ids));
    umount2(bind.c_str(), MNT_DETACH);
    for (const auto& o : outcomes) {
        EXPECT_EQ(o.status, TrashStatus::Moved) << o.reason;
    }
    std::vector<std::string> where{outcomes[0].trashedAs, outcomes[1].trashedAs};
    std::sort(where.begin(), where.end());
    EXPECT_EQ(where, (std::vector<std::string>{bind + "/.Trash-" + uid_ + "/files/on-bind",
                                               volume_ + "/.Trash-" + uid_ + "/files/on-volume"}));
}

// A trash is one where placement would put it: in a volume's top, a btrfs subvolume's too. One
// there is neither walked nor moved from; a folder of a trash's name deeper down is searched.
TEST_F(TrashTest, ATrashAtASubvolumeTopIsOutOfBoundsOneDeeperIsNot) {
    const std::string vol = home_ / "vol", sub = vol + "/sub", uid = std::to_string(geteuid());
    if (const std::string why = testsupport::mountImage("btrfs", home_ / "btrfs.img", vol);
        !why.empty()) {
        GTEST_SKIP() << why;
    }
    testsupport::runProgram({"/bin/btrfs", "subvolume", "create", sub});
    const std::string can = sub + "/.Trash-" + uid, deep = sub + "/deep/.Trash-" + uid;
    makeDir(deep);
    makeFile(deep + "/kept");
    makeFile(sub + "/f");
    Trash trash;
    const TrashOutcome first = moveToTrash(trash, sub + "/f");
    const IndexSnapshot index = buildIndex({can + "/files/", deep + "/"});
    const auto outcomes = trash.moveAll(itemsFor({can + "/files/f", deep + "/kept"}));
    umount2(vol.c_str(), MNT_DETACH);
    EXPECT_EQ(first.trashedAs, can + "/files/f") << first.reason;
    EXPECT_EQ(index->rows()[0].error.code, kInTrash);
    EXPECT_EQ(index->fileCount(), 1u);
    EXPECT_EQ(outcomes[0].status, TrashStatus::Failed);
    EXPECT_TRUE(outcomes[0].reason.starts_with("it is inside a trash folder"))
        << outcomes[0].reason;
    EXPECT_EQ(outcomes[1].trashedAs, can + "/files/kept") << outcomes[1].reason;
}

// A file made again on its freed inode (ext4 gives it back at once) with the same size and
// modification time, to the nanosecond, is another file: its birth time tells it apart.
TEST_F(TrashTest, AFileMadeAgainOnItsFreedInodeIsAnother) {
    const std::string vol = home_ / "ext4", path = vol + "/f";
    if (const std::string why = testsupport::mountImage("ext4", home_ / "ext4.img", vol);
        !why.empty()) {
        GTEST_SKIP() << why;
    }
    struct statx before, after;
    makeFile(path, 1000000000, "same");
    const IndexSnapshot index = buildIndex({vol + "/"});
    statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &before);
    unlink(path.c_str());
    makeFile(path, 1000000000, "same");
    statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &after);
    Trash trash;
    const TrashOutcome o = trash.moveAll(trashItems(*index, {0})).front();
    umount2(vol.c_str(), MNT_DETACH);
    if (after.stx_ino != before.stx_ino || (after.stx_mask & STATX_BTIME) == 0) {
        GTEST_SKIP() << "the inode was not given again, or the file system keeps no birth time";
    }
    EXPECT_EQ(o.status, TrashStatus::Failed);
    EXPECT_EQ(o.reason, "it changed since the search");
}

}  // namespace
}  // namespace chronosift::trash
