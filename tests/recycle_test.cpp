#include "recycle/recycling_bin.h"

#include <gtest/gtest.h>

#include "index/build.h"
#include "platform/text.h"
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

TEST(RecyclingBin, TextsNameCountsAndSizes) {
    EXPECT_EQ(confirmationText(1, 1), "Move 1 checked file (1 byte) to the trash?");
    EXPECT_EQ(confirmationText(23, 1234567890), "Move 23 checked files (1.2 GB) to the trash?");
    EXPECT_EQ(confirmationText(252000, 1), "Move 252,000 checked files (1 byte) to the trash?");
    EXPECT_EQ(resultsCaption(5, 0, 0, 0), "Chronosift [ 5 files found, 0 bytes ]");
    EXPECT_EQ(resultsCaption(1234567, 0, 1000, 0),
              "Chronosift [ 1,234,567 files found, 0 bytes \u00b7 1,000 checked, 0 bytes ]");
    EXPECT_EQ(resultsCaption(1, 999950, 1, 1500),
              "Chronosift [ 1 file found, 1.0 MB \u00b7 1 checked, 1.5 KB ]");
    // Overlong forms and surrogates are not text: each byte shows as U+FFFD; DEL as its symbol.
    EXPECT_EQ(platform::displayText("a\xC0\xAF"
                                    "b\xED\xA0\x80\x7F"),
              "a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD\u2421");
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

    trashed.markPaths(second, {tmp / "d/c", tmp / "nowhere/x"});
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
