// The trash, on real folders, with trash-cli as the independent reader. Every test points
// XDG_DATA_HOME at a temporary folder, so the real trash is never touched.
#include "trash/trash.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

#include "index/build.h"
#include "recycle/recycling_bin.h"
#include "support/temp_tree.h"
#include "support/trash_fixture.h"
#include "trash/proven.h"

extern char** environ;

namespace chronosift::trash {
namespace {

TEST_F(TrashTest, ListedAndRestoredByTrashCli) {
    const std::string file = work_ + "/report.txt";
    makeFile(file, 978307200, "the same bytes\n");  // 2001-01-01
    // Trash tools read DeletionDate as local time: far from UTC, it is that.
    testsupport::ScopedTimeZone zone("Pacific/Kiritimati");
    const auto localNow = [] {
        const time_t now = time(nullptr);
        struct tm local;
        char text[32];
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S\n", localtime_r(&now, &local));
        return std::string(text);
    };
    const std::string before = localNow();
    Trash trash;
    const TrashOutcome outcome = moveToTrash(trash, file);
    ASSERT_EQ(outcome.status, TrashStatus::Moved) << outcome.reason;
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(outcome.trashedAs, trashDir() + "/files/report.txt");
    const std::string record = info("report.txt");
    EXPECT_TRUE(record.starts_with("[Trash Info]\nPath=" + file + "\nDeletionDate=")) << record;
    const std::string date = record.substr(record.find("DeletionDate=") + 13);
    EXPECT_TRUE(date.size() == 20 && before <= date && date <= localNow()) << date;
    if (!haveTrashCli()) {
        GTEST_SKIP() << "trash-cli is not installed";
    }
    const auto listed = testsupport::runProgram({"/usr/bin/trash-list"});
    EXPECT_NE(listed.out.find(" " + file + "\n"), std::string::npos) << listed.out << listed.err;
    const auto restored = testsupport::runProgram({"/usr/bin/trash-restore", file}, {}, "0\n");
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(readFile(file), "the same bytes\n");
    EXPECT_TRUE(names(trashDir() + "/files").empty());
}

// A name taken in files/ or info/ (by another program, or by an entry without its record) is
// never overwritten: each file gets the next free name.
TEST_F(TrashTest, TakenNamesAreNeverOverwritten) {
    makeDir(trashDir() + "/files");
    makeDir(trashDir() + "/info");
    makeFile(trashDir() + "/files/a.txt", 1000000000, "foreign");
    const std::string foreignInfo =
        "[Trash Info]\nPath=/elsewhere/a.txt\nDeletionDate=2020-01-01T00:00:00\n";
    makeFile(trashDir() + "/info/a.txt.trashinfo", 1000000000, foreignInfo);
    makeFile(trashDir() + "/files/a.3.txt");  // without its record
    const std::string midMove =  // a record whose file is not there yet: another program mid-move
        "[Trash Info]\nPath=/elsewhere/2/a.txt\nDeletionDate=2020-01-01T00:00:00\n";
    makeFile(trashDir() + "/info/a.2.txt.trashinfo", 1000000000, midMove);
    std::vector<std::string> paths;
    for (int i = 0; i < 300; ++i) {
        const std::string dir = work_ + "/d" + std::to_string(i);
        makeDir(dir);
        makeFile(dir + "/a.txt", 1000000000, "copy " + std::to_string(i));
        paths.push_back(dir + "/a.txt");
    }
    Trash trash;
    const auto outcomes = trash.moveAll(itemsFor(paths));
    for (size_t i = 0; i < outcomes.size(); ++i) {
        ASSERT_EQ(outcomes[i].status, TrashStatus::Moved) << outcomes[i].reason;
        EXPECT_EQ(readFile(outcomes[i].trashedAs), "copy " + std::to_string(i));
    }
    EXPECT_EQ(readFile(trashDir() + "/files/a.txt"), "foreign");
    EXPECT_EQ(info("a.txt"), foreignInfo);
    EXPECT_EQ(info("a.2.txt"), midMove);
    EXPECT_EQ(names(trashDir() + "/files").size(), 302u);
    EXPECT_EQ(names(trashDir() + "/info").size(), 302u);
    EXPECT_FALSE(exists(trashDir() + "/info/a.3.txt.trashinfo"));
    EXPECT_NE(info("a.5.txt").find("Path=" + work_ + "/d1/a.txt\n"), std::string::npos);
}

// Every name moves byte for byte, links as links (their targets untouched), and Path= escapes
// each byte that is not unreserved, as trash-cli reads it back.
TEST_F(TrashTest, NamesMoveByteForByteAndPathIsEscaped) {
    const std::vector<std::pair<std::string, std::string>> odd = {{"caf\xE9", "caf%E9"},
                                                                  {"with space", "with%20space"},
                                                                  {"100%", "100%25"},
                                                                  {"a#b", "a%23b"},
                                                                  {"q?", "q%3F"},
                                                                  {"new\nline", "new%0Aline"},
                                                                  {"-dash", "-dash"},
                                                                  {"to-file", "to-file"},
                                                                  {"to-nothing", "to-nothing"}};
    makeFile(work_ + "/target", 1000000000, "target bytes");
    testsupport::makeLink("target", work_ + "/to-file");
    testsupport::makeLink("nothing", work_ + "/to-nothing");
    Trash trash;
    for (const auto& [name, escaped] : odd) {
        if (!exists(work_ + "/" + name)) {
            makeFile(work_ + "/" + name);
        }
        const TrashOutcome o = moveToTrash(trash, work_ + "/" + name);
        ASSERT_EQ(o.status, TrashStatus::Moved) << name << ": " << o.reason;
        struct stat st;
        ASSERT_EQ(lstat((trashDir() + "/files/" + name).c_str(), &st), 0) << name;
        EXPECT_EQ(S_ISLNK(st.st_mode), name.starts_with("to-")) << name;
        EXPECT_NE(info(name).find("/" + escaped + "\n"), std::string::npos) << name;
    }
    EXPECT_EQ(readFile(work_ + "/target"), "target bytes");
    if (haveTrashCli()) {
        const auto listed = testsupport::runProgram({"/usr/bin/trash-list"});
        for (const auto& [name, escaped] : odd) {
            // trash-cli shows names that are not UTF-8 its own way.
            EXPECT_TRUE(name == "caf\xE9" ||
                        listed.out.find(" " + work_ + "/" + name + "\n") != std::string::npos)
                << name;
        }
    }
}

// Records reach the disk before their files move; a sync that fails keeps the files where they
// are and leaves no record.
TEST_F(TrashTest, RecordsReachTheDiskBeforeTheirFilesMove) {
    makeFile(work_ + "/a");
    makeFile(work_ + "/b");
    std::vector<std::string> calls;
    const TrashHooks log{.fail = [&](std::string_view call) {
        calls.emplace_back(call);
        return 0;
    }};
    Trash trash;
    for (const auto& o : trash.moveAll(itemsFor({work_ + "/a", work_ + "/b"}), {.hooks = &log})) {
        EXPECT_EQ(o.status, TrashStatus::Moved) << o.reason;
    }
    // The journal named, each record linked and its temporary name dropped, one sync, the moves,
    // the journal dropped.
    EXPECT_EQ(calls, (std::vector<std::string>{"linkat", "linkat", "unlinkat", "linkat", "unlinkat",
                                               "syncfs", "renameat2", "renameat2", "unlinkat"}));
    const TrashHooks failing{
        .fail = [](std::string_view call) { return call == "syncfs" ? EIO : 0; }};
    makeFile(work_ + "/c");
    const TrashOutcome o = moveToTrash(trash, work_ + "/c", {.hooks = &failing});
    EXPECT_EQ(o.status, TrashStatus::Failed);
    EXPECT_EQ(o.reason, "cannot write to the trash: Input/output error");
    EXPECT_TRUE(exists(work_ + "/c"));
    EXPECT_EQ(names(trashDir() + "/info"),
              (std::vector<std::string>{"a.trashinfo", "b.trashinfo"}));
}

TEST_F(TrashTest, MissingFileIsReportedAndTheRestGoOn) {
    makeFile(work_ + "/a");
    makeFile(work_ + "/c");
    Trash trash;
    std::atomic<bool> cancel{false};
    size_t reported = 0;
    const auto outcomes =
        trash.moveAll(itemsFor({work_ + "/a", work_ + "/b", work_ + "/c"}),
                      {.cancel = &cancel, .progress = [&](size_t n) { reported = n; }});
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(outcomes[0].status == TrashStatus::Moved &&
                outcomes[2].status == outcomes[0].status);
    EXPECT_EQ(outcomes[1].status, TrashStatus::Missing);
    EXPECT_EQ(outcomes[1].reason, "No such file or directory");
    EXPECT_EQ(reported, 3u);

    makeFile(work_ + "/d");
    cancel = true;
    const auto none = trash.moveAll(itemsFor({work_ + "/d"}), {.cancel = &cancel});
    EXPECT_EQ(none[0].status, TrashStatus::NotTried);
    EXPECT_TRUE(exists(work_ + "/d"));
}

TEST_F(TrashTest, OnlyTheListedFileMovesNeverWhatTookItsPlace) {
    const std::string elsewhere = home_ / "elsewhere";
    for (const std::string& dir : {elsewhere, work_ + "/sub", work_ + "/swap", home_ / "other"}) {
        makeDir(dir);
    }
    makeFile(elsewhere + "/secret.txt", 1000000000, "not yours");
    makeFile(work_ + "/sub/secret.txt", 1000000000, "listed");
    makeFile(work_ + "/report.txt", 1104537600, "of 2005");
    makeFile(work_ + "/swap/a", 1000000000);
    makeFile(home_ / "other/a", 1000000000);
    makeFile(work_ + "/same.txt", 1000000000, "listed");
    makeFile(work_ + "/touched", 1000000000, "listed");
    const auto items = itemsFor({work_ + "/sub/secret.txt", work_ + "/report.txt",
                                 work_ + "/swap/a", work_ + "/same.txt", work_ + "/touched"});
    // As cp -p or rsync -t would: another file of the same time and size takes the name.
    makeFile(work_ + "/copy", 1000000000, "copied");
    ASSERT_EQ(rename((work_ + "/copy").c_str(), (work_ + "/same.txt").c_str()), 0);

    // After the search: a folder becomes a link, a file is replaced by a newer one, and a folder
    // by another real folder (the last one at the moment the trash opens it).
    ASSERT_EQ(rename((work_ + "/sub").c_str(), (work_ + "/sub.old").c_str()), 0);
    testsupport::makeLink(elsewhere, work_ + "/sub");
    makeFile(work_ + "/new", time(nullptr), "of today");
    ASSERT_EQ(rename((work_ + "/new").c_str(), (work_ + "/report.txt").c_str()), 0);
    testsupport::setTime(work_ + "/touched", 1000000001);  // rewritten in place, size kept
    const TrashHooks hooks{.beforeOpen = [&](const std::string& path) {
        if (path == work_ + "/swap/a") {
            rename((work_ + "/swap").c_str(), (work_ + "/swap.old").c_str());
            rename((home_ / "other").c_str(), (work_ + "/swap").c_str());
        }
    }};
    Trash trash;
    const auto outcomes = trash.moveAll(items, {.hooks = &hooks});
    for (const auto& o : outcomes) {
        EXPECT_EQ(o.status, TrashStatus::Failed);
        EXPECT_EQ(o.reason, "it changed since the search");
    }
    EXPECT_EQ(readFile(elsewhere + "/secret.txt"), "not yours");
    EXPECT_EQ(readFile(work_ + "/sub.old/secret.txt"), "listed");
    EXPECT_EQ(readFile(work_ + "/report.txt"), "of today");
    EXPECT_TRUE(exists(work_ + "/swap/a") && exists(work_ + "/swap.old/a") &&
                exists(work_ + "/touched"));
    EXPECT_EQ(readFile(work_ + "/same.txt"), "copied");

    // Written again in place (the same inode and birth), of the same size and second: its time's
    // nanoseconds still tell it apart.
    const std::string again = work_ + "/again.txt";
    makeFile(again, 1000000000, "first");
    const auto listed = itemsFor({again});
    makeFile(again, 1000000000, "other");
    const struct timespec times[2] = {{1000000000, 5}, {1000000000, 5}};
    ASSERT_EQ(utimensat(AT_FDCWD, again.c_str(), times, 0), 0);
    EXPECT_EQ(trash.moveAll(listed).front().status, TrashStatus::Failed);
    EXPECT_EQ(readFile(again), "other");
    EXPECT_TRUE(names(trashDir() + "/info").empty());
    EXPECT_TRUE(names(trashDir() + "/files").empty());
}

// A name too long for files/ is shortened there, never inside a UTF-8 sequence, keeping its
// extension, never empty nor hidden; Path= keeps it whole.
TEST_F(TrashTest, LongNamesAreShortenedInFilesOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string(240, 'x') + "\xC3\xA9.txt", std::string(240, 'x') + ".txt"},
        {std::string(251, 'y') + ".txt", std::string(241, 'y') + ".txt"},
        {std::string(255, '\x80'), std::string(245, '\x80')},
        {std::string(251, '\x80') + ".txt", std::string(241, '\x80') + ".txt"},
    };
    Trash trash;
    for (const auto& [name, stored] : cases) {
        makeFile(work_ + "/" + name);
        const TrashOutcome o = moveToTrash(trash, work_ + "/" + name);
        ASSERT_EQ(o.status, TrashStatus::Moved) << o.reason;
        EXPECT_FALSE(exists(work_ + "/" + name));
        EXPECT_EQ(o.trashedAs, trashDir() + "/files/" + stored);
        EXPECT_NE(info(stored).find("Path=" + trashInfoPath(work_ + "/" + name) + "\n"),
                  std::string::npos);
    }
    EXPECT_EQ(trashName(std::string(300, 'z'), 12, 245), std::string(242, 'z') + ".12");
    EXPECT_EQ(trashName("." + std::string(300, 'z'), 1, 245), std::string(244, 'z'));
    EXPECT_EQ(trashName(".." + std::string(300, '.'), 1, 245), "file.");
}

// Where the file system lacks a rename that cannot replace, or links, the other does the move;
// without both, nothing changes.
TEST_F(TrashTest, WithoutRenameNoReplaceOrLinksTheOtherMovesItOrNothingChanges) {
    makeFile(work_ + "/linked", 1000000000, "bytes");
    makeFile(work_ + "/stays", 1000000000, "bytes");
    Trash trash;
    const TrashHooks noRename{
        .fail = [](std::string_view call) { return call == "renameat2" ? EINVAL : 0; }};
    ASSERT_EQ(moveToTrash(trash, work_ + "/linked", {.hooks = &noRename}).status,
              TrashStatus::Moved);
    EXPECT_FALSE(exists(work_ + "/linked"));
    EXPECT_EQ(readFile(trashDir() + "/files/linked"), "bytes");
    // Without links (FAT, exFAT), the rename that cannot replace names the record too.
    makeFile(work_ + "/fat", 1000000000, "fat");
    const TrashHooks linkless{.fail = [](std::string_view c) { return c == "linkat" ? EPERM : 0; }};
    ASSERT_EQ(moveToTrash(trash, work_ + "/fat", {.hooks = &linkless}).status, TrashStatus::Moved);

    const TrashHooks noLink{.fail = [](std::string_view call) {
        return call == "renameat2" ? EINVAL : call == "linkat" ? EPERM : 0;
    }};
    EXPECT_EQ(moveToTrash(trash, work_ + "/stays", {.hooks = &noLink}).status, TrashStatus::Failed);
    {  // A plain rename, which could replace a name made after its check, only onto a private one.
        const HookScope scope(&noLink.fail);
        const int dir = open(work_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const std::string own = privateName(".gone");
        EXPECT_EQ(takeOff(dir, "stays", "plain"), EINVAL);
        ASSERT_EQ(takeOff(dir, "stays", own), 0);
        EXPECT_EQ(giveBack(dir, own, dir, "stays"), EPERM);
        EXPECT_EQ(renameat(dir, own.c_str(), dir, "stays") + close(dir), 0);
    }
    // A clash in files/, then a failure under the next name: no record of either name stays.
    int calls = 0;
    const TrashHooks clashThenFail{.fail = [&](std::string_view call) {
        // The second and fourth take the records off their names.
        return call != "renameat2" ? 0 : ++calls == 1 ? EEXIST : calls == 3 ? EPERM : 0;
    }};
    EXPECT_EQ(moveToTrash(trash, work_ + "/stays", {.hooks = &clashThenFail}).status,
              TrashStatus::Failed);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(readFile(work_ + "/stays"), "bytes");
    EXPECT_EQ(names(trashDir() + "/info"),
              (std::vector<std::string>{"fat.trashinfo", "linked.trashinfo"}));
    EXPECT_EQ(names(trashDir() + "/files"), (std::vector<std::string>{"fat", "linked"}));
}

// Counts what a killed run left behind, checking that nothing is lost or half-written.
struct TrashState {
    size_t inPlace = 0, files = 0, infosWithoutFile = 0, runFiles = 0;
};

// Killed at any point, a run loses nothing and leaves only whole records; the next run clears
// up after it, and never after a live run or another program.
TEST_F(TrashTest, KilledAtAnyPointLosesNothingAndTheNextRunClearsUp) {
    constexpr int kFiles = 20000;
    const std::string folder = work_ + "/many";
    makeDir(folder);
    for (int i = 0; i < kFiles; ++i) {
        makeFile(folder + "/f" + std::to_string(i), 1000000000);
    }
    std::string command[] = {CHRONOSIFT_FIND, "--before", "2100-01-01", "--trash", folder};
    char* argv[] = {command[0].data(), command[1].data(), command[2].data(),
                    command[3].data(), command[4].data(), nullptr};
    const std::string infoDir = trashDir() + "/info";
    // Another program's record, and a run still alive (it holds the lock on its journal), stay.
    makeDir(infoDir);
    const std::string record = "[Trash Info]\nPath=/x\nDeletionDate=2026-01-01T00:00:00\n";
    makeFile(infoDir + "/foreign.trashinfo", time(nullptr), record);
    makeFile(infoDir + "/live.trashinfo", time(nullptr), record);
    struct stat liveRecord;
    ASSERT_EQ(lstat((infoDir + "/live.trashinfo").c_str(), &liveRecord), 0);
    makeFile(infoDir + "/.chronosift-live.journal", time(nullptr),
             std::to_string(liveRecord.st_ino) + " live.trashinfo" + '\0');
    const int live = open((infoDir + "/.chronosift-live.journal").c_str(), O_RDONLY);
    ASSERT_EQ(flock(live, LOCK_EX), 0);

    auto state = [&] {
        TrashState s;
        s.runFiles = std::ranges::count_if(
            names(infoDir), [](const std::string& f) { return f.starts_with(".chronosift-"); });
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "f" + std::to_string(i);
            const bool inPlace = exists(folder + "/" + name);
            const bool trashed = exists(trashDir() + "/files/" + name);
            EXPECT_NE(inPlace, trashed) << name << " is in one place only";
            s.inPlace += inPlace;
            s.files += trashed;
            const std::string record = readFile(infoDir + "/" + name + ".trashinfo");
            if (trashed || !record.empty()) {
                EXPECT_TRUE(record.starts_with("[Trash Info]\nPath=" + folder + "/" + name +
                                               "\nDeletionDate=") &&
                            record.size() == record.find("DeletionDate=") + 33)
                    << name << " has one whole record";
            }
            s.infosWithoutFile += inPlace && !record.empty();
        }
        return s;
    };
    // Killed at three points of its way, then left to finish.
    for (int killAt : {kFiles / 20, kFiles / 3, kFiles * 2 / 3, INT_MAX}) {
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) != pid) {
            if (exists(infoDir) &&
                testsupport::listFolder(infoDir).size() >= static_cast<size_t>(killAt)) {
                kill(pid, SIGKILL);
            }
            usleep(200);
        }
        const TrashState s = state();
        EXPECT_EQ(s.inPlace + s.files, static_cast<size_t>(kFiles));
        if (killAt != INT_MAX) {
            EXPECT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";
            const auto listed = testsupport::runProgram({"/usr/bin/trash-list"});
            EXPECT_TRUE(!haveTrashCli() || listed.err.find("Parse Error") == std::string::npos)
                << listed.err;
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(s.files, static_cast<size_t>(kFiles));
            EXPECT_EQ(s.infosWithoutFile, 0u);
            EXPECT_EQ(s.runFiles, 1u) << "no journal or temporary record is left but the live";
            EXPECT_TRUE(exists(infoDir + "/foreign.trashinfo") &&
                        exists(infoDir + "/live.trashinfo"));
        }
    }
}

}  // namespace
}  // namespace chronosift::trash
