#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "index/build.h"
#include "index/calendar.h"
#include "search/find.h"
#include "support/temp_tree.h"

namespace chronosift {
namespace {

using testsupport::localTime;
using testsupport::makeFile;
using testsupport::TempDir;

class FindAroundMidnight : public ::testing::Test {
  protected:
    FindAroundMidnight() : tz_("Europe/Berlin") {
        // Local wall times around the cutoff day, 30 June 2006, in summer time.
        makeFile(tmp_ / "jun29-235959", localTime(2006, 6, 29, 23, 59, 59));
        makeFile(tmp_ / "jun30-000000", localTime(2006, 6, 30, 0, 0, 0));
        makeFile(tmp_ / "jun30-235959", localTime(2006, 6, 30, 23, 59, 59));
        makeFile(tmp_ / "jul01-000000", localTime(2006, 7, 1, 0, 0, 0));
        makeFile(tmp_ / "jul01-000005", localTime(2006, 7, 1, 0, 0, 5));
        index_ = buildIndex({tmp_.path() + "/"});
    }

    std::vector<std::string> names(Criterion c) const {
        std::vector<std::string> out;
        for (FileId id : findMatches(*index_, c, dayNumber({2006, 6, 30}))) {
            out.emplace_back(index_->name(id));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    testsupport::ScopedTimeZone tz_;
    TempDir tmp_;
    IndexSnapshot index_;
};

// Each criterion takes its whole days, and for any cutoff the three give the whole index, each
// file once, in index order.
TEST_F(FindAroundMidnight, EachCriterionTakesItsDaysAndTogetherAll) {
    using V = std::vector<std::string>;
    EXPECT_EQ(names(Criterion::After), (V{"jul01-000000", "jul01-000005"}));
    EXPECT_EQ(names(Criterion::Before), (V{"jun29-235959"}));
    EXPECT_EQ(names(Criterion::On), (V{"jun30-000000", "jun30-235959"}));
    for (const CivilDate day : {CivilDate{2006, 6, 29}, CivilDate{2006, 6, 30},
                                CivilDate{2006, 7, 1}, CivilDate{1899, 12, 30}}) {
        std::vector<FileId> all;
        for (Criterion c : {Criterion::After, Criterion::Before, Criterion::On}) {
            const auto part = findMatches(*index_, c, dayNumber(day));
            EXPECT_TRUE(std::is_sorted(part.begin(), part.end())) << "index order";
            all.insert(all.end(), part.begin(), part.end());
        }
        std::sort(all.begin(), all.end());
        ASSERT_EQ(all.size(), index_->fileCount());
        for (FileId id = 0; id < all.size(); ++id) {
            EXPECT_EQ(all[id], id);
        }
    }
}

TEST(Find, SplitSearchGivesTheSameRowsInOrder) {
    testsupport::ScopedTimeZone tz("UTC");
    TempDir tmp;
    for (int d = 0; d < 30; ++d) {
        const std::string dir = tmp / ("d" + std::to_string(d));
        testsupport::makeDir(dir);
        for (int f = 0; f < d % 7; ++f) {
            makeFile(dir + "/f" + std::to_string(f), 1000000000 + 86400 * (d * 7 + f));
        }
    }
    const auto index = buildIndex({tmp.path() + "/"});
    ASSERT_GT(index->fileCount(), 50u);
    for (Criterion c : {Criterion::After, Criterion::Before, Criterion::On}) {
        const int64_t cutoff = dayNumberOfSeconds(1000000000 + 86400 * 71);  // d10/f1
        const auto whole = findMatches(*index, c, cutoff);
        const auto split = findMatches(*index, c, cutoff, {.splitFrom = 0});
        EXPECT_EQ(split, whole);
        EXPECT_FALSE(whole.empty());
    }
}

// A file that vanished before its time was read counts as modified on 30 December 1899.
TEST(Find, AFileWithoutATimeIsOfDayZero) {
    TempDir tmp;
    makeFile(tmp / "vanishes", 1000000000);
    BuildOptions options;
    options.afterListing = [&](std::string_view) { unlink((tmp / "vanishes").c_str()); };
    const auto index = buildIndex({tmp.path() + "/"}, options);
    ASSERT_EQ(index->fileCount(), 1u);  // it keeps its place
    ASSERT_EQ(index->time(0), kNoTime);
    EXPECT_TRUE(index->errors().empty()) << "a vanished file is no read error";
    EXPECT_EQ(findMatches(*index, Criterion::Before, dayNumber({1899, 12, 31})).size(), 1u);
    EXPECT_EQ(findMatches(*index, Criterion::On, dayNumber({1899, 12, 30})).size(), 1u);
    EXPECT_EQ(findMatches(*index, Criterion::After, dayNumber({1899, 12, 30})).size(), 0u);
}

TEST(Find, CancelGivesNothing) {
    TempDir tmp;
    makeFile(tmp / "f");
    const auto index = buildIndex({tmp.path() + "/"});
    std::atomic<bool> cancel{true};
    EXPECT_TRUE(findMatches(*index, Criterion::Before, dayNumber({2100, 1, 1}), {.cancel = &cancel})
                    .empty());
    EXPECT_EQ(findMatches(*index, Criterion::Before, dayNumber({2100, 1, 1})).size(), 1u);
}

}  // namespace
}  // namespace chronosift
