#include "index/build.h"
#include "index/layout.h"
#include "index/walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <tuple>

#include "index/calendar.h"
#include "platform/local_zone.h"
#include "platform/text.h"
#include "support/temp_tree.h"

namespace chronosift {
namespace {

using testsupport::makeDir;
using testsupport::makeFile;
using testsupport::makeLink;
using testsupport::TempDir;

std::vector<std::string> allPaths(const FileIndex& index) {
    std::vector<std::string> paths;
    for (FileId id = 0; id < index.fileCount(); ++id) {
        paths.push_back(index.path(id));
    }
    return paths;
}

IndexSnapshot build(const std::vector<std::string>& rows, BuildOptions options = {}) {
    IndexSnapshot index = buildIndex(rows, options);
    EXPECT_NE(index, nullptr);
    return index;
}

// What the index must hold for one folder, worked out independently with plain readdir: level
// by level, grouped by parent in the order of the level above, files in enumeration order.
std::vector<std::string> expectedWalk(const std::string& folder) {
    std::vector<std::string> files;
    std::vector<std::string> level{folder};
    while (!level.empty()) {
        std::vector<std::string> next;
        for (const std::string& f : level) {
            for (const std::string& name : testsupport::listFolder(f)) {
                const std::string path = f + "/" + name;
                struct stat st;
                if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                    if (name[0] != '.') {
                        next.push_back(path);
                    }
                } else if (name[0] != '~') {
                    files.push_back(path);
                }
            }
        }
        level = std::move(next);
    }
    return files;
}

// Files in a fixed shape: three levels, several parents, several children each.
void makeTree(const std::string& root) {
    makeFile(root + "/r1");
    makeFile(root + "/r2");
    for (const char* p : {"A", "B", "C"}) {
        const std::string parent = root + "/" + p;
        makeDir(parent);
        makeFile(parent + "/f" + p);
        for (const char* c : {"1", "2", "3"}) {
            const std::string child = parent + "/" + p + c;
            makeDir(child);
            makeFile(child + "/g" + p + c);
            makeFile(child + "/h" + p + c);
            makeDir(child + "/deep");
            makeFile(child + "/deep/z" + p + c);
        }
    }
}

TEST(IndexOrder, SameResultWithOneThreadOrMany) {
    // Many small folders beside a few huge ones, so that threads finish out of order.
    TempDir tmp;
    makeTree(tmp.path());
    for (int i = 0; i < 300; ++i) {
        makeDir(tmp / "small/" + std::to_string(i) + "/inner");
        makeFile(tmp / "small/" + std::to_string(i) + "/inner/f", 1000000000 + i);
    }
    // The second huge folder's names pass 64 KiB, so its name offsets take the wide form.
    for (const std::string huge : {"A/A2/huge", "small/7/huge"}) {
        makeDir(tmp / huge);
        const std::string pad(huge[0] == 's' ? 40 : 0, 'n');
        for (int i = 0; i < 3000; ++i) {
            makeFile(tmp / huge + "/" + pad + std::to_string(i), 1200000000 + i,
                     std::string(i % 7, 'x'));
        }
    }
    const auto one = build({tmp.path() + "/"}, {.threads = 1});
    EXPECT_EQ(allPaths(*one), expectedWalk(tmp.path()));
    // 0: as many as the walk chooses, changing while it reads.
    for (const unsigned threads : {0u, 64u}) {
        const auto other = build({tmp.path() + "/"}, {.threads = threads});
        ASSERT_EQ(allPaths(*other), allPaths(*one)) << threads;
        for (FileId id = 0; id < one->fileCount(); ++id) {
            ASSERT_EQ(one->time(id), other->time(id)) << one->path(id);
            ASSERT_EQ(one->size(id), other->size(id)) << one->path(id);
        }
    }
    const std::string last = tmp / "small/7/huge/" + std::string(40, 'n') + "2999";
    const auto paths = allPaths(*one);
    const auto at = std::find(paths.begin(), paths.end(), last);
    ASSERT_NE(at, paths.end());
    EXPECT_EQ(one->size(static_cast<FileId>(at - paths.begin())), 2999u % 7);
}

// Hidden folders stay out (but a hidden row is walked, even one named .Trash below a volume's
// top), hidden files come in; "~" files stay out, "~" folders are walked; names that are not
// UTF-8 are kept byte for byte.
TEST(IndexContents, WhichEntriesComeIn) {
    TempDir tmp;
    for (const char* dir : {".Trash/inner", "visible/.git", "~old", "d\xC3\x28"}) {
        makeDir(tmp / dir);
    }
    for (const char* file : {".Trash/secret", ".Trash/inner/deeper", ".profile", "visible/.git/x",
                             "visible/.hidden", "~report.doc", "report~", "~old/kept.txt",
                             "~old/~lock", "caf\xE9-\xFF\xFE.txt", "d\xC3\x28/x"}) {
        makeFile(tmp / file);
    }
    auto paths = allPaths(*build({tmp.path() + "/"}));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{tmp / ".profile", tmp / "caf\xE9-\xFF\xFE.txt",
                                               tmp / "d\xC3\x28/x", tmp / "report~",
                                               tmp / "visible/.hidden", tmp / "~old/kept.txt"}));
    EXPECT_EQ(allPaths(*build({tmp / ".Trash/"})),
              (std::vector<std::string>{tmp / ".Trash/secret", tmp / ".Trash/inner/deeper"}));
}

TEST(IndexContents, LinksAreEntriesOfTheirOwnAndNeverFollowed) {
    TempDir tmp;
    makeDir(tmp / "real");
    makeFile(tmp / "real/target", 1000000000, "twelve bytes");
    makeLink("real/target", tmp / "to-file");
    makeFile(tmp / "empty");
    makeLink("real", tmp / "to-folder");
    makeLink("nowhere", tmp / "dangling");
    makeLink("..", tmp / "real/loop");  // back up into the tree
    makeLink(tmp.path(), tmp / "real/loop-abs");
    testsupport::setTime(tmp / "to-file", 1200000000);
    const auto index = build({tmp.path() + "/"});
    // Path, time (0: not looked at), size: a link has its own time and size (its target's length).
    std::vector<std::tuple<std::string, int64_t, uint64_t>> got,
        expected = {{tmp / "dangling", 0, 7},
                    {tmp / "empty", 1151625600, 0},
                    {tmp / "real/loop", 0, 2},
                    {tmp / "real/loop-abs", 0, tmp.path().size()},
                    {tmp / "real/target", 1000000000, 12},
                    {tmp / "to-file", 1200000000, 11},
                    {tmp / "to-folder", 0, 4}};
    for (FileId id = 0; id < index->fileCount(); ++id) {
        got.emplace_back(index->path(id), index->time(id), index->size(id));
    }
    std::sort(got.begin(), got.end());
    for (size_t k = 0; k < got.size() && k < expected.size(); ++k) {
        if (std::get<1>(expected[k]) == 0) {
            std::get<1>(got[k]) = 0;
        }
    }
    EXPECT_EQ(got, expected);
}

TEST(IndexContents, AFolderSwappedDuringTheWalkIsNeverEntered) {
    TempDir tmp;
    const std::string row = tmp / "row";
    makeDir(row + "/a/b/c");
    makeFile(row + "/a/b/c/keep.txt");
    makeDir(row + "/x");
    makeFile(row + "/x/mine.txt");
    makeDir(tmp / "elsewhere/b/c");
    makeFile(tmp / "elsewhere/b/c/secret.txt");
    makeDir(tmp / "other");
    makeFile(tmp / "other/theirs.txt");
    BuildOptions options;
    options.threads = 1;
    options.afterListing = [&](std::string_view folder) {
        if (folder == row + "/a") {
            // a/b is listed: now a becomes a link to a tree outside the row.
            ASSERT_EQ(rename((row + "/a").c_str(), (tmp / "a.old").c_str()), 0);
            makeLink(tmp / "elsewhere", row + "/a");
        } else if (folder == row) {
            // x is listed: now another real folder takes its name.
            ASSERT_EQ(rename((row + "/x").c_str(), (tmp / "x.old").c_str()), 0);
            ASSERT_EQ(rename((tmp / "other").c_str(), (row + "/x").c_str()), 0);
        }
    };
    const auto index = build({row + "/"}, options);
    EXPECT_EQ(allPaths(*index), std::vector<std::string>{row + "/a/b/c/keep.txt"});
    ASSERT_EQ(index->errors().size(), 1u);
    EXPECT_EQ(index->errors()[0].path, row + "/x");
    EXPECT_EQ(index->errors()[0].message(),
              platform::displayText(row + "/x") + ": it changed since it was listed");
}

// A folder is checked by its own device and inode, never the inode the listing reports: nested
// btrfs subvolumes and merged overlay folders are walked, and a folder swapped in for a listed
// one is refused as a change, even a subvolume for a subvolume (every one's top is inode 256).
TEST(IndexContents, SubvolumesAndOverlaysAreWalkedSwapsAreRefused) {
    TempDir tmp;
    const std::string vol = tmp / "vol", row = vol + "/row";
    if (const std::string why = testsupport::mountImage("btrfs", tmp / "btrfs.img", vol);
        !why.empty()) {
        GTEST_SKIP() << why;
    }
    makeDir(row + "/plain");
    makeFile(row + "/plain/mine.txt");
    for (const char* sub : {"row/sub", "row/sub2", "row/mysub", "swap", "swap2"}) {
        testsupport::runProgram({"/bin/btrfs", "subvolume", "create", vol + "/" + sub});
        const std::string path = vol + "/" + sub;
        makeFile(path + "/in-" + path.substr(path.rfind('/') + 1));
    }
    BuildOptions options;
    options.afterListing = [&](std::string_view folder) {
        if (folder == row) {  // another's folder and another's subvolume take listed names
            for (const auto& [name, swap] : {std::pair{"plain", "swap"}, {"mysub", "swap2"}}) {
                rename((row + "/" + name).c_str(), (vol + "/" + name + ".old").c_str());
                rename((vol + "/" + swap).c_str(), (row + "/" + name).c_str());
            }
        }
    };
    const auto index = build({row + "/"}, options);
    umount2(vol.c_str(), MNT_DETACH);
    auto paths = allPaths(*index);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{row + "/sub/in-sub", row + "/sub2/in-sub2"}));
    std::vector<std::string> refused;
    for (const auto& e : index->errors()) {
        refused.push_back(e.message());
    }
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused, (std::vector<std::string>{row + "/mysub: it changed since it was listed",
                                                 row + "/plain: it changed since it was listed"}));

    // An overlay whose lower layer is on another file system than its upper one.
    const std::string lower = tmp / "lower", upper = tmp / "upper", work = tmp / "work",
                      merged = tmp / "merged";
    for (const auto& d : {lower, upper + "/dir", work, merged}) {
        makeDir(d);
    }
    if (mount("tmpfs", lower.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    makeDir(lower + "/dir/deeper");
    makeFile(lower + "/dir/deeper/low");
    makeFile(upper + "/dir/up");
    const std::string layers = "lowerdir=" + lower + ",upperdir=" + upper + ",workdir=" + work;
    const bool overlay = mount("overlay", merged.c_str(), "overlay", 0, layers.c_str()) == 0;
    const int overlayError = errno;
    const auto merging = overlay ? build({merged + "/"}) : nullptr;
    umount2(merged.c_str(), MNT_DETACH);
    umount2(lower.c_str(), MNT_DETACH);
    if (!overlay) {
        GTEST_SKIP() << "cannot mount an overlay here: " << std::strerror(overlayError);
    }
    paths = allPaths(*merging);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{merged + "/dir/deeper/low", merged + "/dir/up"}));
    EXPECT_TRUE(merging->errors().empty()) << merging->errors().front().message();
}

TEST(IndexContents, TreesDeeperAndPathsLongerThanTheSystemLimit) {
    TempDir tmp;
    // 6,000 levels: a path of over 30,000 bytes, which no single path call accepts.
    int fd = open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
    std::string expected = tmp.path();
    for (int i = 0; i < 6000 && fd >= 0; ++i) {
        const std::string name = "d" + std::to_string(i);
        mkdirat(fd, name.c_str(), 0755);
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        expected += "/" + name;
    }
    const int file = openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0644);
    const timespec times[2] = {{1400000000, 0}, {1400000000, 0}};
    ASSERT_EQ(futimens(file, times), 0);
    close(file);
    close(fd);
    expected += "/bottom.txt";
    ASSERT_GT(expected.size(), 30000u);

    const auto index = build({tmp.path() + "/"});
    ASSERT_EQ(index->fileCount(), 1u);
    EXPECT_EQ(index->path(0), expected);
    EXPECT_EQ(index->time(0), 1400000000);
    EXPECT_TRUE(index->errors().empty());
}

TEST(IndexContents, UnreadableFolderIsSkippedAndReported) {
    TempDir tmp;
    makeDir(tmp / "open");
    makeDir(tmp / "locked/inner");
    for (const char* file : {"open/ok", "locked/hidden-from-us", "locked/inner/deeper", "top"}) {
        makeFile(tmp / file);
    }
    testsupport::handToUnprivileged(tmp.path());
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((tmp / "locked").c_str(), 0000), 0);
    std::string skipped;
    const std::string failure = testsupport::runUnprivileged(
        [&] {
            const auto index = buildIndex({tmp.path() + "/"});
            const auto& errors = index->errors();
            return allPaths(*index) == std::vector<std::string>{tmp / "top", tmp / "open/ok"} &&
                           errors.size() == 1 && errors[0].path == tmp / "locked" &&
                           errors[0].code == EACCES
                       ? 0
                       : 1;
        },
        skipped);
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
    EXPECT_EQ(failure, "");
}

// Rows are walked from the top of the list down; one that is missing or no folder is recorded,
// and the others go on.
// At an even pace the walk ends at the processors, unless it waits on a disk: then at 16.
TEST(IndexBuild, ThreadsJumpOnlyWhenTheWalkWaitsOnADisk) {
    using platform::Storage;
    for (const auto& [storage, blocksPerTick, expected] : {std::tuple{Storage::Local, 1000u, 16u},
                                                           {Storage::Local, 8u, 2u},
                                                           {Storage::Memory, 1000u, 2u}}) {
        walk::ThreadTuner tuner(storage, 2);
        const auto start = std::chrono::steady_clock::now();
        for (unsigned tick = 0; tick < 300; ++tick) {
            tuner.observe(100 * tick, blocksPerTick * tick,
                          start + tick * std::chrono::milliseconds(20), true);
        }
        EXPECT_EQ(tuner.threads(), expected) << static_cast<int>(storage) << " " << blocksPerTick;
    }
}

TEST(IndexOrder, RowsFromTopToBottom) {
    TempDir tmp;
    for (const char* row : {"one", "two"}) {
        makeDir(tmp / row + "/sub");
        makeFile(tmp / row + "/file");
        makeFile(tmp / row + "/sub/file");
    }
    makeFile(tmp / "plain");
    const auto index = build({tmp / "two/", tmp / "missing/", tmp / "plain/", tmp / "one/"});
    EXPECT_EQ(allPaths(*index), (std::vector<std::string>{tmp / "two/file", tmp / "two/sub/file",
                                                          tmp / "one/file", tmp / "one/sub/file"}));
    ASSERT_EQ(index->rows().size(), 4u);
    EXPECT_EQ(index->rows()[1].root, kNoFolder);
    EXPECT_EQ(index->rows()[1].error.code, ENOENT);
    EXPECT_EQ(index->rows()[2].error.code, ENOTDIR);
    EXPECT_EQ(index->rows()[3].text, tmp / "one/");
}

TEST(IndexContents, PseudoFileSystemsBelowARowAreNotEntered) {
    TempDir tmp;
    makeDir(tmp / "mnt/proc");
    makeFile(tmp / "mnt/ordinary");
    if (mount("proc", (tmp / "mnt/proc").c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              nullptr) != 0) {
        GTEST_SKIP() << "cannot mount proc here: " << std::strerror(errno);
    }
    const auto index = buildIndex({tmp.path() + "/"});
    umount2((tmp / "mnt/proc").c_str(), MNT_DETACH);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(allPaths(*index), (std::vector<std::string>{tmp / "mnt/ordinary"}));
}

// Each file shows its own local wall time (the offset in force at its moment), and times before
// the epoch and far ahead are kept.
TEST(IndexTimes, EachFileItsOwnTime) {
    testsupport::ScopedTimeZone tz("Europe/Berlin");
    TempDir tmp;
    const std::map<std::string, std::pair<int64_t, std::string>> files = {
        {"winter", {testsupport::utcTime(2021, 1, 15, 12, 0, 0), "2021-01-15 13:00:00"}},
        {"summer", {testsupport::utcTime(2021, 7, 15, 12, 0, 0), "2021-07-15 14:00:00"}},
        {"old", {-2000000000, "1906-08-16 21:26:40"}},
        {"future", {13569465600, "2400-01-01 01:00:00"}}};  // within what ext4 keeps
    for (const auto& [name, t] : files) {
        makeFile(tmp / name, t.first);
    }
    const auto index = build({tmp.path() + "/"});
    platform::LocalZone zone;
    ASSERT_EQ(index->fileCount(), files.size());
    for (FileId id = 0; id < index->fileCount(); ++id) {
        const auto& [time, text] = files.at(std::string(index->name(id)));
        EXPECT_EQ(index->time(id), time);
        EXPECT_EQ(isoLocalText(zone.localSeconds(time)), text) << index->name(id);
    }
}

// Name offsets widen from 16 to 32 bits as a folder's names grow, and a folder with more names
// than 32 bits can count is refused rather than wrapped.
TEST(IndexLayout, NameOffsetsWidenThenRefuse) {
    EXPECT_EQ(offsetWidth(0xFFFF), 2u);
    EXPECT_EQ(offsetWidth(0x10000), 4u);
    EXPECT_EQ(offsetWidth(0xFFFFFFFFull), 4u);
    EXPECT_EQ(offsetWidth(0x100000000ull), 0u);
}

TEST(IndexBuild, CancelStopsAndProgressCounts) {
    TempDir tmp;
    makeTree(tmp.path());
    std::atomic<bool> cancel{true};
    EXPECT_EQ(buildIndex({tmp.path() + "/"}, {.cancel = &cancel}), nullptr);

    // Cancelled from inside the walk, after the first folder.
    cancel = false;
    BuildOptions midway{.cancel = &cancel};
    midway.afterListing = [&](std::string_view) { cancel = true; };
    EXPECT_EQ(buildIndex({tmp.path() + "/"}, midway), nullptr);

    cancel = false;
    std::vector<uint64_t> reports;
    BuildOptions counting{.cancel = &cancel, .progressInterval = std::chrono::milliseconds(0)};
    counting.progress = [&](uint64_t n) { reports.push_back(n); };
    const auto index = build({tmp.path() + "/"}, counting);
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_EQ(reports.back(), index->fileCount());
}

}  // namespace
}  // namespace chronosift
