// The trash's side paths keep the move's promise: the fallback without a rename that cannot
// replace, the move back, Undo and the clean-up of a dead run each act only on the file or record
// that was checked, and the trash never takes its own files.
#include <sys/wait.h>

#include "index/build.h"
#include "index/file_index.h"
#include "recycle/recycling_bin.h"
#include "support/trash_fixture.h"

namespace chronosift::trash {
namespace {

// Saves `bytes` under `path` as an editor does: a new file renamed over the name. 0 or -1.
int saveOver(const std::string& path, const std::string& bytes) {
    makeFile(path + ".saved", 1000000000, bytes);
    return rename((path + ".saved").c_str(), path.c_str());
}

const TrashHooks kNoRenameNoReplace{
    .fail = [](std::string_view call) { return call == "renameat2" ? EINVAL : 0; }};

// Without a rename that cannot replace: a program that saves a new version onto the name while
// the file is on its way keeps that version; and a file swapped in before it left its name, that
// cannot go back, is reported where it is, never as moved.
TEST_F(TrashTest, FallbackNeverUnlinksANameItHasNotProved) {
    Trash trash;
    // Each case: the file, what another program does at a system call of the move, how it ends.
    struct Case {
        const char* name;
        const char* call;   // the call before which the other program acts, the nth time (the
        int nth;            // first two links name the journal and the record)
        const char* other;  // what it saves under the file's name then
        TrashStatus status;
        const char* atName;  // what the name holds afterwards
    };
    for (const Case& c : {
             // Saved between the link into the trash and taking the old name off: kept there.
             Case{"saved.txt", "rename", 1, "new version", TrashStatus::Moved, "new version"},
             // Swapped in before the link: the link is of the wrong file, so nothing moves.
             Case{"swapped.txt", "linkat", 3, "impostor", TrashStatus::Failed, "impostor"},
         }) {
        const std::string path = work_ + "/" + c.name;
        makeFile(path, 1000000000, "checked");
        const auto items = itemsFor({path});
        int seen = 0;
        const TrashHooks other{.fail = [&](std::string_view call) {
            if (call == c.call && ++seen == c.nth) {
                saveOver(path, c.other);
            }
            return call == "renameat2" ? EINVAL : 0;
        }};
        const TrashOutcome o = trash.moveAll(items, {.hooks = &other}).front();
        EXPECT_EQ(o.status, c.status) << c.name << ": " << o.reason;
        EXPECT_EQ(readFile(path), c.atName) << c.name;
        EXPECT_EQ(o.status == TrashStatus::Moved, exists(trashDir() + "/files/" + c.name));
        if (o.status == TrashStatus::Moved) {
            EXPECT_EQ(readFile(trashDir() + "/files/" + c.name), "checked");
        } else {
            EXPECT_EQ(o.reason, "it changed since the search");
        }
    }

    // Saved meanwhile, and the name taken again before that save can be given back: the checked
    // file is in the trash, and the message says where the save went.
    const std::string blocked = work_ + "/blocked.txt";
    makeFile(blocked, 1000000000, "checked");
    int links = 0;
    const TrashHooks twice{.fail = [&](std::string_view call) {
        if (call == "rename" && links == 3) {
            saveOver(blocked, "new version");
        }
        if (call == "linkat" && links++ == 3) {
            saveOver(blocked, "saved since");
        }
        return call == "renameat2" ? EINVAL : 0;
    }};
    const TrashOutcome noted = moveToTrash(trash, blocked, {.hooks = &twice});
    EXPECT_EQ(noted.status, TrashStatus::Moved);
    const size_t at = noted.reason.find("now at " + work_ + "/.chronosift-");
    ASSERT_NE(at, std::string::npos) << noted.reason;
    EXPECT_EQ(readFile(noted.reason.substr(at + 7)), "new version");
    EXPECT_EQ(readFile(blocked), "saved since");
    EXPECT_EQ(readFile(trashDir() + "/files/blocked.txt"), "checked");

    // With the real rename: a file that takes the name between the check and the rename goes
    // back, and so does its record; when its way back is blocked too, it fails, saying where
    // that file is now.
    for (const bool blockedBack : {false, true}) {
        const std::string raced = work_ + (blockedBack ? "/raced2.txt" : "/raced.txt");
        makeFile(raced, 1000000000, "checked");
        int renames = 0;
        const TrashHooks raceTheRename{.fail = [&](std::string_view call) {
            if (call == "renameat2" && renames++ == 0) {
                saveOver(raced, "impostor");
            } else if (call == "renameat2" && blockedBack) {
                makeFile(raced, 1000000000, "blocker");
            }
            return 0;
        }};
        const TrashOutcome lost = moveToTrash(trash, raced, {.hooks = &raceTheRename});
        EXPECT_EQ(lost.status, TrashStatus::Failed);
        if (!blockedBack) {
            EXPECT_EQ(lost.reason, "it changed since the search");
            EXPECT_EQ(readFile(raced), "impostor");
        } else {
            const std::string where = trashDir() + "/files/raced2.txt";
            EXPECT_NE(lost.reason.find("is now at " + where), std::string::npos) << lost.reason;
            EXPECT_EQ(readFile(where), "impostor");
            EXPECT_EQ(readFile(raced), "blocker");
        }
    }
    EXPECT_EQ(names(trashDir() + "/info"),
              (std::vector<std::string>{"blocked.txt.trashinfo", "saved.txt.trashinfo"}));
}

struct Trashed {
    std::vector<TrashItem> items;
    std::vector<TrashOutcome> outcomes;
};

Trashed trashNow(const std::vector<std::string>& paths) {
    Trashed t{itemsFor(paths), {}};
    Trash trash;
    t.outcomes = trash.moveAll(t.items);
    for (const auto& o : t.outcomes) {
        EXPECT_EQ(o.status, TrashStatus::Moved) << o.reason;
    }
    return t;
}

// Runs `run` in a child that dies before its `nth` system call named `call` (any, when null),
// without a rename that cannot replace; whether it died there.
bool killedAt(const std::function<void(const TrashOptions&)>& run, const char* call, int nth,
              const std::function<void(std::string_view)>& before = {}) {
    const pid_t child = fork();
    if (child == 0) {
        int seen = 0;
        const TrashHooks die{.fail = [&](std::string_view c) {
            if (before) {
                before(c);
            }
            if ((call == nullptr || c == call) && ++seen == nth) {
                _exit(0);
            }
            return c == "renameat2" ? EINVAL : 0;
        }};
        run({.hooks = &die});
        _exit(1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Without a rename that cannot replace, a run killed at a step of a move by link (into the trash,
// or Undo's move back), and the run after it killed while it clears up, leave, once a run has
// cleared up, the file under one name only: in the trash with its record, or back where it was;
// and a version another program saved to its name meanwhile back under that name.
TEST_F(TrashTest, AMoveByLinkKilledPartWayIsFinishedByTheNextRun) {
    struct Case {
        const char* name;
        bool undo;         // killed in Undo's move back rather than the move
        const char* call;  // killed before this call, the nth time (in a move the first two links
        int nth;           // name the journal and the record, the first unlink drops its temporary)
        int saved;     // another program saves a new version to the name before "rename" (1), or
                       // puts one there and the file aside before the move's link (2)
        bool inTrash;  // where the checked file is in the end
        bool emptied = false;     // the trash is emptied before the next run
        int cleanUpKilledAt = 0;  // the next run dies before this call of its clean-up
    };
    for (const Case& c : {
             Case{"linked", false, "rename", 1, false, true},   // both names: finished
             Case{"taken", false, "unlinkat", 2, false, true},  // off its old name: finished
             Case{"saved", false, "linkat", 4, true, true},     // on the save's way back
             Case{"back-linked", true, "rename", 1, false, false},
             Case{"back-taken", true, "unlinkat", 1, false, false},
             // A name the file keeps only there is never removed: it goes back.
             Case{"emptied", false, "unlinkat", 2, false, false, true},
             // The clean-up, killed after it took the old name off, is finished in turn.
             Case{"twice", false, "rename", 1, false, true, false, 3},
             // Killed as it took off a link of the file swapped in: that link goes.
             Case{"swapped", false, "renameat2", 2, 2, false},
         }) {
        const std::string path = work_ + "/" + c.name;
        makeFile(path, 1000000000, "checked");
        const Trashed before = c.undo ? trashNow({path}) : Trashed{};
        int renames = 0, links = 0;
        ASSERT_TRUE(killedAt(
            [&](const TrashOptions& o) {
                c.undo ? (void)putBack(before.items, before.outcomes, o)
                       : (void)Trash().moveAll(itemsFor({path}), o);
            },
            c.call, c.nth,
            [&](std::string_view call) {
                const bool swap = c.saved == 2 && call == "linkat" && ++links == 3;
                if (swap) {
                    rename(path.c_str(), (path + ".old").c_str());
                }
                if ((c.saved == 1 && call == "rename" && ++renames == 1) || swap) {
                    saveOver(path, "new version");
                }
            }))
            << c.name << " was not killed";
        if (c.emptied) {
            ASSERT_EQ(unlink((trashDir() + "/files/" + c.name).c_str()), 0);
            ASSERT_EQ(unlink((trashDir() + "/info/" + c.name + ".trashinfo").c_str()), 0);
        }
        makeFile(work_ + "/next", 1000000000, "next");
        if (c.cleanUpKilledAt != 0) {
            ASSERT_TRUE(killedAt(
                [&](const TrashOptions& o) { Trash().moveAll(itemsFor({work_ + "/next"}), o); },
                nullptr, c.cleanUpKilledAt))
                << c.name;
        }
        trashNow({work_ + "/next"});  // the next run clears up
        const std::string trashed = trashDir() + "/files/" + c.name;
        if (c.saved == 2) {
            struct stat st;
            EXPECT_TRUE(lstat(path.c_str(), &st) == 0 && st.st_nlink == 1) << c.name;
            EXPECT_FALSE(exists(trashed) || exists(trashDir() + "/info/swapped.trashinfo"));
            continue;
        }
        const std::string& checked = c.inTrash ? trashed : path;
        EXPECT_EQ(readFile(checked), "checked") << c.name;
        EXPECT_EQ(exists(trashDir() + "/info/" + c.name + ".trashinfo"), c.inTrash) << c.name;
        EXPECT_EQ(exists(c.inTrash ? path : trashed), c.saved) << c.name;
        if (c.saved) {
            EXPECT_EQ(readFile(path), "new version");
        }
        struct stat st;
        ASSERT_EQ(lstat(checked.c_str(), &st), 0);
        EXPECT_EQ(st.st_nlink, 1u) << c.name << " has a name left behind";
        for (const std::string& folder : {work_, trashDir() + "/files", trashDir() + "/info"}) {
            for (const std::string& name : names(folder)) {
                EXPECT_FALSE(name.starts_with(".chronosift-")) << c.name << ": " << name;
            }
        }
    }
}

// The walk never lists the trash, a row in it is refused, and the move refuses what lies in it,
// even where the trash is not hidden ($XDG_DATA_HOME=~/data).
TEST_F(TrashTest, TheTrashNeverTakesItsOwnFiles) {
    makeFile(work_ + "/old.txt", 1000000000, "old");
    Trash trash;
    ASSERT_EQ(moveToTrash(trash, work_ + "/old.txt").status, TrashStatus::Moved);
    const IndexSnapshot index = buildIndex({home_.path() + "/", trashDir() + "/info/"});
    ASSERT_EQ(index->rows().size(), 2u);
    for (FileId f = 0; f < index->fileCount(); ++f) {
        ADD_FAILURE() << "listed from the trash: " << index->path(f);
    }
    EXPECT_EQ(index->rows()[1].error.code, kInTrash);
    const TrashOutcome own = moveToTrash(trash, trashDir() + "/info/old.txt.trashinfo");
    EXPECT_EQ(own.status, TrashStatus::Failed);
    EXPECT_TRUE(own.reason.starts_with("it is inside a trash folder")) << own.reason;
    EXPECT_EQ(readFile(trashDir() + "/files/old.txt"), "old");
}

// $XDG_DATA_HOME reached through a link (a home on another disk): the move records the path the
// trash really has, so Undo reaches it without following a link; a link put on that path later
// is refused. The trash folder itself, left open to others, is closed to them first.
TEST_F(TrashTest, AHomeTrashThroughALinkIsUndoneAndClosedToOthers) {
    makeDir(home_ / "disk/data/Trash");
    ASSERT_EQ(chmod((home_ / "disk/data/Trash").c_str(), 0777), 0);
    testsupport::makeLink(home_ / "disk/data", home_ / "linked");
    const testsupport::ScopedEnv data("XDG_DATA_HOME", home_ / "linked");
    for (const bool swapped : {false, true}) {
        makeFile(work_ + "/f", 1000000000, "f");
        const auto items = itemsFor({work_ + "/f"});
        Trash trash;
        const auto moved = trash.moveAll(items);
        ASSERT_EQ(moved[0].status, TrashStatus::Moved) << moved[0].reason;
        struct stat st;
        ASSERT_EQ(stat((home_ / "disk/data/Trash").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        if (swapped) {
            ASSERT_EQ(rename((home_ / "disk").c_str(), (home_ / "disk2").c_str()), 0);
            testsupport::makeLink(home_ / "disk2", home_ / "disk");
        }
        const PutBackOutcome back = putBack(items, moved).front();
        EXPECT_EQ(back.putBack, !swapped) << back.reason;
        EXPECT_EQ(exists(work_ + "/f"), !swapped);
    }
}

// Every folder on the way back is checked, the row's own and those below it: a folder swapped
// for another that holds the same file under another link is not taken for the listed one.
TEST_F(TrashTest, EveryFolderOnTheWayIsChecked) {
    for (const char* row : {"deep/", "deep/er/"}) {
        const TempDir w;
        makeDir(w / "deep/er");
        makeFile(w / "deep/er/x", 1000000000, "x");
        makeDir(w / "other/er");
        ASSERT_EQ(link((w / "deep/er/x").c_str(), (w / "other/er/x").c_str()), 0);
        const IndexSnapshot index = buildIndex({w / row});
        ASSERT_EQ(index->fileCount(), 1u);
        ASSERT_EQ(rename((w / "deep/er").c_str(), (w / "er.old").c_str()), 0);
        ASSERT_EQ(rename((w / "other/er").c_str(), (w / "deep/er").c_str()), 0);
        Trash trash;
        const TrashOutcome o = trash.moveAll(trashItems(*index, {0})).front();
        EXPECT_EQ(o.status, TrashStatus::Failed) << row;
        EXPECT_EQ(o.reason, "it changed since the search");
        EXPECT_TRUE(exists(w / "deep/er/x") && exists(w / "er.old/x"));
        EXPECT_TRUE(names(trashDir() + "/info").empty());
    }
}

// Undo puts back only the inode that moved, under a record that is still the one written, read
// without blocking; another file under the trashed name, a record swapped for a FIFO or changed,
// and a trash folder swapped for a link all stay as they are.
TEST_F(TrashTest, UndoIsAsStrictAsTheMove) {
    for (const char* name : {"a", "b", "c", "d", "o"}) {
        makeFile(work_ + "/" + name, 1000000000, name);
    }
    Trashed t = trashNow({work_ + "/a", work_ + "/b", work_ + "/c", work_ + "/d", work_ + "/o"});
    const std::string files = trashDir() + "/files/", info = trashDir() + "/info/";
    ASSERT_EQ(saveOver(files + "a", "a"), 0);  // the same name, time and bytes: another inode
    ASSERT_EQ(unlink((info + "b.trashinfo").c_str()), 0);
    ASSERT_EQ(mkfifo((info + "b.trashinfo").c_str(), 0600), 0);
    const std::string changed = readFile(info + "c.trashinfo") + "\n";
    makeFile(info + "c.trashinfo", 1000000000, changed);
    // The same record given to another user (only root can) is not the one written.
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown((info + "o.trashinfo").c_str(), 65534, 65534) == 0);
    const auto back = putBack(t.items, t.outcomes);
    EXPECT_FALSE(back[0].putBack || back[1].putBack || back[2].putBack);
    EXPECT_NE(back[4].putBack, root);
    EXPECT_EQ(back[0].reason, "it is no longer in the trash");
    EXPECT_EQ(back[1].reason, "its trash record was removed or changed by another program");
    EXPECT_TRUE(back[3].putBack && back[3].reason.empty()) << back[3].reason;
    EXPECT_FALSE(exists(work_ + "/a") || exists(work_ + "/b") || exists(work_ + "/c"));
    EXPECT_EQ(readFile(work_ + "/d"), "d");
    EXPECT_EQ(readFile(info + "c.trashinfo"), changed);

    // A put-back that cannot be journaled does not happen; one whose record cannot be removed
    // afterwards is back all the same, and says so.
    for (const auto& [name, call, putBackNow] :
         {std::tuple{"f", "fdatasync", false}, std::tuple{"g", "unlinkat", true}}) {
        makeFile(work_ + "/" + name, 1000000000, name);
        const Trashed one = trashNow({work_ + "/" + name});
        const TrashHooks failing{
            .fail = [call = std::string(call)](std::string_view c) { return c == call ? EIO : 0; }};
        const PutBackOutcome o = putBack(one.items, one.outcomes, {.hooks = &failing}).front();
        EXPECT_EQ(o.putBack, putBackNow) << name;
        EXPECT_EQ(exists(work_ + "/" + name), putBackNow) << name;
        EXPECT_EQ(o.reason, putBackNow ? "its trash record could not be removed: Input/output error"
                                       : "cannot write to the trash: Input/output error");
    }
    // Without a rename that cannot replace: when the file, linked back, cannot leave its name in
    // the trash, the link goes only as a second name of it, never a version an editor saved
    // under the name meanwhile.
    makeFile(work_ + "/h", 1000000000, "h");
    const Trashed h = trashNow({work_ + "/h"});
    bool edited = false;
    const TrashHooks editor{.fail = [&](std::string_view call) {
        if (call == "rename" && !std::exchange(edited, true)) {
            saveOver(work_ + "/h", "edited");
            return EPERM;
        }
        return call == "renameat2" ? EINVAL : 0;
    }};
    EXPECT_FALSE(putBack(h.items, h.outcomes, {.hooks = &editor}).front().putBack);
    EXPECT_EQ(readFile(work_ + "/h"), "edited");
    EXPECT_EQ(readFile(files + "h"), "h");
    EXPECT_TRUE(exists(info + "h.trashinfo"));

    makeFile(work_ + "/e", 1000000000, "e");
    t = trashNow({work_ + "/e"});
    ASSERT_EQ(rename(trashDir().c_str(), (data_ + "/Elsewhere").c_str()), 0);
    testsupport::makeLink(data_ + "/Elsewhere", trashDir());
    const auto refused = putBack(t.items, t.outcomes).front();
    EXPECT_FALSE(refused.putBack);
    EXPECT_TRUE(refused.reason.starts_with("the trash folder cannot be opened")) << refused.reason;
    EXPECT_FALSE(exists(work_ + "/e"));
    // A real folder in its place, even one holding the same file and record by hard links, is
    // not the trash the file went to.
    ASSERT_EQ(unlink(trashDir().c_str()), 0);
    makeDir(trashDir() + "/files");
    makeDir(trashDir() + "/info");
    ASSERT_EQ(link((data_ + "/Elsewhere/files/e").c_str(), (files + "e").c_str()), 0);
    ASSERT_EQ(link((data_ + "/Elsewhere/info/e.trashinfo").c_str(), (info + "e.trashinfo").c_str()),
              0);
    const auto other = putBack(t.items, t.outcomes).front();
    EXPECT_EQ(other.reason, "the trash folder is not the one it was moved to");
    EXPECT_FALSE(exists(work_ + "/e"));
}

// A dead run's record is removed only while it is the record the run wrote (inode and bytes) and
// its file is not in files/; a kill between a put-back file and its record's removal is cleared
// by the next run; a journal another run has only just made is left alone.
TEST_F(TrashTest, CleanUpRemovesOnlyWhatItWrote) {
    makeFile(work_ + "/back", 1000000000, "back");
    const Trashed t = trashNow({work_ + "/back"});
    const pid_t child = fork();
    if (child == 0) {
        const TrashHooks die{.afterPutBack = [] { _exit(0); }};
        putBack(t.items, t.outcomes, {.hooks = &die});
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "killed after the put-back";
    const std::string info = trashDir() + "/info/";
    EXPECT_EQ(readFile(work_ + "/back"), "back");
    ASSERT_TRUE(exists(info + "back.trashinfo"));

    // Another program's record on the inode a dead run listed, with other bytes, stays.
    const std::string foreign = "[Trash Info]\nPath=/x/y\nDeletionDate=2026-01-01T00:00:00\n";
    makeFile(info + "y.trashinfo", 1000000000, foreign);
    struct stat st;
    ASSERT_EQ(lstat((info + "y.trashinfo").c_str(), &st), 0);
    std::string entry = "R " + std::to_string(st.st_ino) + " y.trashinfo" + '\0' +
                        "[Trash Info]\nPath=/x/y\nDeletionDate=2025-01-01T00:00:00\n" + '\0';
    // A run that has only just made its journal, not yet locked: its record stays.
    const std::string fresh = "[Trash Info]\nPath=/x/z\nDeletionDate=2026-01-01T00:00:00\n";
    makeFile(info + "z.trashinfo", time(nullptr), fresh);
    ASSERT_EQ(lstat((info + "z.trashinfo").c_str(), &st), 0);
    makeFile(info + ".chronosift-fresh.new", time(nullptr),
             "R " + std::to_string(st.st_ino) + " z.trashinfo" + '\0' + fresh + '\0');

    // A record a dead run took off its name to remove goes when its journal lists it, with its
    // bytes; a name like it that no journal lists stays, whoever's process made it.
    const std::string journaled = info + ".chronosift-1-0.gone",
                      unlisted = info + ".chronosift-" + std::to_string(child) + "-0.gone";
    makeFile(journaled, 1000000000, "[Trash Info]\n");
    makeFile(unlisted, 1000000000, "[Trash Info]\n");
    ASSERT_EQ(lstat(journaled.c_str(), &st), 0);
    entry += "G " + std::to_string(st.st_ino) + " .chronosift-1-0.gone" + '\0' + "w.trashinfo" +
             '\0' + "[Trash Info]\n" + '\0';
    makeFile(info + ".chronosift-dead.journal", 1000000000, entry);

    makeFile(work_ + "/next", 1000000000, "next");
    trashNow({work_ + "/next"});
    EXPECT_FALSE(exists(journaled));
    EXPECT_TRUE(exists(unlisted));
    EXPECT_FALSE(exists(info + "back.trashinfo")) << "the killed undo's record is cleared";
    EXPECT_EQ(readFile(work_ + "/back"), "back");
    EXPECT_EQ(readFile(info + "y.trashinfo"), foreign);
    EXPECT_EQ(readFile(info + "z.trashinfo"), fresh);
    EXPECT_TRUE(exists(info + ".chronosift-fresh.new"));
    EXPECT_FALSE(exists(info + ".chronosift-dead.journal"));
    EXPECT_TRUE(!haveTrashCli() ||
                testsupport::runProgram({"/usr/bin/trash-list"}).out.find(work_ + "/back") ==
                    std::string::npos);
}

// Nothing found in a trash folder is trusted: a FIFO in a journal's place is passed over, not
// waited on; a journal's move that has no end in that trash folder, or a journal of another
// user's, is not acted on; and a folder found open to others is closed, and what was in it left.
TEST_F(TrashTest, NothingPlantedInATrashFolderIsTrusted) {
    const std::string info = trashDir() + "/info/";
    makeDir(info);
    makeDir(trashDir() + "/files");
    ASSERT_EQ(mkfifo((info + ".chronosift-1-fifo.journal").c_str(), 0600), 0);
    // Both names of one file, as a move by link leaves them: a dead run would finish the move.
    makeFile(work_ + "/victim", 1000000000, "victim");
    makeDir(work_ + "/elsewhere");
    ASSERT_EQ(link((work_ + "/victim").c_str(), (work_ + "/elsewhere/victim").c_str()), 0);
    struct stat st;
    ASSERT_EQ(lstat((work_ + "/victim").c_str(), &st), 0);
    makeFile(info + ".chronosift-1-move.journal", 1000000000,
             "M " + std::to_string(st.st_ino) + " .chronosift-1-a.moving .chronosift-1-b.moving" +
                 '\0' + work_ + "/victim" + '\0' + work_ + "/elsewhere/victim" + '\0');
    // A dead run's record whose file never moved, listed by a journal of another user's.
    const std::string record = "[Trash Info]\nPath=/x\nDeletionDate=2026-01-01T00:00:00\n";
    makeFile(info + "x.trashinfo", 1000000000, record);
    ASSERT_EQ(lstat((info + "x.trashinfo").c_str(), &st), 0);
    makeFile(info + ".chronosift-1-other.journal", 1000000000,
             "R " + std::to_string(st.st_ino) + " x.trashinfo" + '\0' + record + '\0');
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || lchown((info + ".chronosift-1-other.journal").c_str(), 65534, 65534) == 0);
    makeFile(work_ + "/a", 1000000000, "a");
    Trash first, second;
    const TrashOutcome o = moveToTrash(first, work_ + "/a");
    EXPECT_EQ(o.status, TrashStatus::Moved);
    EXPECT_NE(o.reason.find(".chronosift-1-fifo.journal, which is not a journal of the user's"),
              std::string::npos)
        << o.reason;
    ASSERT_EQ(lstat((work_ + "/victim").c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u) << "both names stay";
    EXPECT_EQ(readFile(info + "x.trashinfo"), root ? record : "")
        << "root only: a journal of nobody's";

    // An info/ others could write into, with a dead run's journal in it: closed, left as it was.
    makeFile(info + "y.trashinfo", 1000000000, record);
    ASSERT_EQ(lstat((info + "y.trashinfo").c_str(), &st), 0);
    makeFile(info + ".chronosift-1-open.journal", 1000000000,
             "R " + std::to_string(st.st_ino) + " y.trashinfo" + '\0' + record + '\0');
    ASSERT_EQ(chmod(info.c_str(), 0777), 0);
    makeFile(work_ + "/b", 1000000000, "b");
    const TrashOutcome closed = moveToTrash(second, work_ + "/b");
    EXPECT_NE(closed.reason.find("was open to others; it is closed to them now"), std::string::npos)
        << closed.reason;
    EXPECT_TRUE(lstat(info.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
    EXPECT_EQ(readFile(info + "y.trashinfo"), record);
}

// The last press outlives the program: trashed by one process and undone by another, with every
// check of the in-window Undo; what may still go back stays in the journal until it has.
TEST_F(TrashTest, UndoAfterARestart) {
    for (const char* name : {"a", "b", "c", "d"}) {
        makeFile(work_ + "/" + name, 1000000000, name);
    }
    // The journals' folder, open to others, is closed to them; reached by a link, it is refused.
    const std::string ours = home_ / "state/chronosift";
    makeDir(ours);
    testsupport::makeLink(ours, home_ / "chronosift");
    ASSERT_EQ(chmod(ours.c_str(), 0777), 0);
    const std::vector<std::string> state{"XDG_STATE_HOME=" + (home_ / "state")};
    const auto trashed = testsupport::runProgram(
        {CHRONOSIFT_FIND, "--before", "2010-01-01", "--trash", work_}, state);
    ASSERT_EQ(trashed.exitCode, 0) << trashed.err;
    const auto journals = [&] { return testsupport::listFolder(ours).size(); };
    ASSERT_EQ(journals(), 1u);
    struct stat st;
    EXPECT_TRUE(stat(ours.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
    const std::string files = trashDir() + "/files/", info = trashDir() + "/info/";
    makeFile(info + "b.trashinfo", 1000000000, "[Trash Info]\nPath=/elsewhere\n");
    ASSERT_EQ(saveOver(files + "c", "c"), 0);
    makeFile(work_ + "/d", 1000000000, "its place taken");

    const auto undo = [&] {
        return testsupport::runProgram({CHRONOSIFT_FIND, "--undo-last"}, state);
    };
    auto undone = undo();
    EXPECT_EQ(undone.exitCode, 1);
    EXPECT_EQ(readFile(work_ + "/a"), "a");
    EXPECT_FALSE(exists(work_ + "/b") || exists(work_ + "/c"));
    EXPECT_NE(undone.err.find(work_ + "/b: its trash record was removed or changed"),
              std::string::npos)
        << undone.err;
    EXPECT_NE(undone.err.find(work_ + "/c: it is no longer in the trash"), std::string::npos);
    EXPECT_NE(undone.err.find(work_ + "/d: its place is taken now"), std::string::npos);
    ASSERT_EQ(unlink((work_ + "/d").c_str()), 0);
    undone = undo();  // only d is left to try
    EXPECT_EQ(undone.exitCode, 0) << undone.err;
    EXPECT_EQ(undone.err, "");
    EXPECT_EQ(readFile(work_ + "/d"), "d");
    EXPECT_EQ(journals(), 0u);
    EXPECT_EQ(undo().err, "chronosift-find: nothing to undo\n");
    const auto unkept =
        testsupport::runProgram({CHRONOSIFT_FIND, "--before", "2010-01-01", "--trash", work_},
                                {"XDG_STATE_HOME=" + home_.path()});
    const std::string why = "will not work: " + home_.path() + "/chronosift: it is not a folder";
    EXPECT_TRUE(unkept.exitCode == 1 && unkept.err.find(why) != std::string::npos) << unkept.err;
}

}  // namespace
}  // namespace chronosift::trash
