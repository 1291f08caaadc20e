#include "recycle/recycling_bin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "index/build.h"
#include "platform/text.h"
#include "recycle/press.h"
#include "support/temp_tree.h"

namespace chronosift {
namespace {

using trash::TrashOutcome;
using trash::TrashStatus;

TrashOutcome outcome(TrashStatus s, std::string reason = {}) {
    return {s, std::move(reason), {}};
}

TEST(RecyclingBin, MessageNamesTheFilesThatStayedAndWhy) {
    EXPECT_EQ(failureMessage({"/a"}, {outcome(TrashStatus::Moved)}), "");
    EXPECT_EQ(
        failureMessage({"/a", "/b"}, {outcome(TrashStatus::Moved), outcome(TrashStatus::NotTried)}),
        "1 file was not moved to the trash:\n\n/b: the move was cancelled before it");
    EXPECT_EQ(failureMessage({"/a\nb\t", "/b\xFF"},
                             {outcome(TrashStatus::Failed, "Permission denied"),
                              outcome(TrashStatus::Missing, "No such file or directory")}),
              "2 files were not moved to the trash:\n\n/a\u21b5b\u2409: Permission "
              "denied\n/b\xEF\xBF\xBD: "
              "it is no longer there (No such file or directory)");

    // At most `named` files are named, then how many more.
    const std::vector<TrashOutcome> failed(3, outcome(TrashStatus::Failed, "Read-only"));
    EXPECT_EQ(failureMessage({"/f0", "/f1", "/f2"}, failed, 2),
              "3 files were not moved to the trash:\n\n/f0: Read-only\n/f1: Read-only\nand 1 more");
}

// Put back with a record left behind is put back, not "stayed".
TEST(RecyclingBin, PutBackMessageCountsOnlyWhatStayed) {
    using trash::PutBackOutcome;
    const PutBackOutcome back{true, "its trash record could not be removed: Input/output error"};
    const PutBackOutcome stayed{false, "its place is taken now"};
    EXPECT_EQ(putBackMessage({"/a", "/b"}, {back, stayed}),
              "1 file stayed in the trash:\n\n/a: " + back.reason + "\n/b: " + stayed.reason);
    EXPECT_EQ(putBackMessage({"/a"}, {back}),
              "Every file was put back, but:\n\n/a: " + back.reason);
    EXPECT_EQ(putBackMessage({"/a"}, {PutBackOutcome{true, ""}}), "");
}

// A cancelled Undo names the files it never tried, and the next Undo puts them back, rows and
// all, while the list still shows the press's search.
TEST(RecyclingBin, ACancelledUndoKeepsTheRestUndoable) {
    testsupport::TempDir tmp;
    testsupport::ScopedEnv data("XDG_DATA_HOME", tmp / "data");
    testsupport::ScopedEnv state("XDG_STATE_HOME", tmp / "state");
    testsupport::makeDir(tmp / "d");
    for (const char* name : {"a", "b", "c"}) {
        testsupport::makeFile(tmp / "d/" + name);
    }
    const IndexSnapshot index = buildIndex({tmp / "d/"});
    auto own = std::make_unique<TrashPress>(index, 7, std::vector<int>{0, 1, 2},
                                            std::vector<FileId>{0, 1, 2});
    own->run({});
    TrashedFiles trashed;
    own->settle(trashed, index);
    ASSERT_EQ(own->keep(), "");
    std::atomic<bool> cancel{false};
    trash::TrashHooks hooks;
    hooks.afterPutBack = [&] { cancel = true; };
    std::vector<std::string> problems;
    auto press = TrashPress::latest(problems, own);
    ASSERT_NE(press, nullptr);
    press->undo({.cancel = &cancel, .hooks = &hooks});
    EXPECT_EQ(press->settleUndo(trashed, index, 7, index), std::vector<FileId>{0});
    const std::string why =
        ": not tried, as Undo was cancelled; Undo Move to Trash can still put it back";
    EXPECT_EQ(press->undoFailures(), "2 files stayed in the trash:\n\n" + index->path(1) + why +
                                         "\n" + index->path(2) + why);
    ASSERT_EQ(press->keep(), "");
    press = TrashPress::latest(problems, own);
    ASSERT_NE(press, nullptr);
    press->undo({});
    EXPECT_EQ(press->settleUndo(trashed, index, 7, index), (std::vector<FileId>{1, 2}));
    EXPECT_EQ(press->keep(), "");
    EXPECT_EQ(TrashPress::latest(problems, own), nullptr);
    EXPECT_TRUE(problems.empty());
    for (FileId id = 0; id < 3; ++id) {
        EXPECT_EQ(access(index->path(id).c_str(), F_OK), 0);
    }
}

TEST(RecyclingBin, TextsNameCountsAndSizes) {
    EXPECT_EQ(confirmationText(1, 1), "Move 1 checked file (1 byte) to the trash?");
    EXPECT_EQ(confirmationText(23, 1234567890), "Move 23 checked files (1.2 GB) to the trash?");
    EXPECT_EQ(confirmationText(252000, 1), "Move 252,000 checked files (1 byte) to the trash?");
    EXPECT_EQ(resultsCaption(5, 0, 0, 0), "Chronosift [ 5 files found, 0 bytes ]");
    EXPECT_EQ(resultsCaption(1234567, 0, 1000, 0),
              "Chronosift [ 1,234,567 files found, 0 bytes \u00b7 1,000 checked, 0 bytes ]");
    EXPECT_EQ(resultsCaption(1, 999950, 1, 1500),
              "Chronosift [ 1 file found, 1.0 MB \u00b7 1 checked, 1.5 KB ]");
    // Overlong forms and surrogates are not text: each byte shows as U+FFFD; DEL as its symbol;
    // four bytes beyond the first plane (an emoji) are one character.
    EXPECT_EQ(platform::displayText("a\xC0\xAF"
                                    "b\xED\xA0\x80\x7F\xF0\x9F\x98\x80"),
              "a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD\u2421\U0001F600");
    EXPECT_EQ(platform::sizeText(999), "999 bytes");
    EXPECT_EQ(platform::sizeText(1000), "1.0 KB");
    EXPECT_EQ(platform::sizeText(UINT64_MAX), "18.4 EB");
}

TEST(TrashedFilesTest, MarksByIdAndByPathAndForgetsDeadSnapshots) {
    testsupport::TempDir tmp;
    testsupport::makeDir(tmp / "d");
    testsupport::makeFile(tmp / "a");
    testsupport::makeFile(tmp / "d/b");
    testsupport::makeFile(tmp / "d/c");
    TrashedFiles trashed;
    IndexSnapshot first = buildIndex({tmp.path() + "/"});
    const IndexSnapshot second = buildIndex({tmp.path() + "/"});
    EXPECT_EQ(trashed.skipFor(first), nullptr);
    trashed.mark(first, 0);
    ASSERT_NE(trashed.skipFor(first), nullptr);
    EXPECT_TRUE((*trashed.skipFor(first))[0]);
    EXPECT_EQ(trashed.skipFor(second), nullptr);

    EXPECT_EQ(trashed.markPaths(second, {tmp / "d/c", tmp / "nowhere/x"}),
              std::vector<std::string>{tmp / "nowhere/x"});
    const auto* bits = trashed.skipFor(second);
    ASSERT_NE(bits, nullptr);
    for (FileId id = 0; id < second->fileCount(); ++id) {
        EXPECT_EQ((*bits)[id], second->path(id) == tmp / "d/c") << second->path(id);
    }
    // A snapshot that is gone leaves nothing behind for a new one.
    first.reset();
    const IndexSnapshot third = buildIndex({tmp.path() + "/"});
    EXPECT_EQ(trashed.skipFor(third), nullptr);
}

}  // namespace
}  // namespace chronosift
