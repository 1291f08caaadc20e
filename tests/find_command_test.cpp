#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>

#include "cli/find_command.h"
#include "support/temp_tree.h"

namespace {

using testsupport::makeDir;
using testsupport::makeFile;
using testsupport::runProgram;
using testsupport::TempDir;
using testsupport::utcTime;

const std::string kFind = CHRONOSIFT_FIND;
const std::string kUsage =
    "usage: chronosift-find (--after | --before | --on) YYYY-MM-DD [options] FOLDER...\n"
    "       chronosift-find (--older-than | --newer-than) N(d|w|m|y) [options] FOLDER...\n"
    "       chronosift-find --undo-last\n"
    "options: --long, -0, --format csv|tsv|lines|null, --trash, --verbose\n";

std::vector<std::string> lines(const std::string& text, char end = '\n') {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t stop = text.find(end, at);
        EXPECT_NE(stop, std::string::npos) << "every entry ends with its terminator";
        if (stop == std::string::npos) {
            break;
        }
        out.push_back(text.substr(at, stop - at));
        at = stop + 1;
    }
    return out;
}

TEST(FindCommand, BadUsageExitsTwoWithOneLineAndTheUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--before", "2010-01-01"},
        {"--before", "2010-02-30", "/tmp"},
        {"--before"},
        {"--sideways", "2010-01-01", "/tmp"},
        {"--before", "2010-01-01", "--after", "2011-01-01", "/tmp"},
        {"/tmp"},
        {"--older-than", "2x", "/tmp"},
        {"--newer-than", "-1y", "/tmp"},
        {"--older-than", "1000y", "/tmp"},
        {"--before", "2010-01-01", "--format", "xml", "/tmp"},
    };
    for (const auto& args : cases) {
        std::vector<std::string> argv{kFind};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = runProgram(argv);
        EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.out, "");
        const auto errLines = lines(result.err);
        ASSERT_EQ(errLines.size(), 5u) << result.err;
        EXPECT_TRUE(errLines[0].starts_with("chronosift-find: ")) << errLines[0];
        EXPECT_EQ(result.err.substr(result.err.find('\n') + 1), kUsage);
    }
}

// Folders as given: relative ones from the working folder, missing ones and files warned about
// and skipped, nested ones pruned with the pages' messages, each file listed once.
TEST(FindCommand, FoldersAsGiven) {
    TempDir tmp;
    makeDir(tmp / "a/b/c");
    makeFile(tmp / "plain", utcTime(2000, 1, 1, 12));
    makeFile(tmp / "a/one", utcTime(2000, 1, 1, 12));
    makeFile(tmp / "a/b/two", utcTime(2000, 1, 1, 12));
    makeFile(tmp / "a/b/c/three", utcTime(2000, 1, 1, 12));
    makeDir(tmp / "-x");  // after "--", a folder named like an option
    makeFile(tmp / "-x/four", utcTime(2000, 1, 1, 12));
    const auto result =
        runProgram({"/bin/sh", "-c",
                    "cd '" + tmp.path() + "' && exec '" + kFind +
                        "' --before 2010-01-01 nothing plain ./a/b/c ./a ./a/b/ -- -x"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(lines(result.out), (std::vector<std::string>{tmp / "a/one", tmp / "a/b/two",
                                                           tmp / "a/b/c/three", tmp / "-x/four"}));
    const std::string tail =
        " will be removed because it is a subfolder of another folder that you added.";
    EXPECT_EQ(result.err, tmp / "a/b/" + tail + "\n" + tmp / "a/b/c/" + tail + "\n" +
                              "chronosift-find: warning: skipping " + tmp / "nothing/" +
                              ": No such file or directory\nchronosift-find: warning: skipping " +
                              tmp / "plain/: Not a directory\n");
}

TEST(FindCommand, RawBytesNulTerminatorsAndLongFormat) {
    testsupport::ScopedTimeZone tz("UTC");
    TempDir tmp;
    const std::string odd = "line\nbreak-\xFF";
    makeFile(tmp / odd, utcTime(2005, 5, 5, 5, 6, 7));
    makeFile(tmp / "midnight", utcTime(2005, 5, 6));
    makeFile(tmp / "new", utcTime(2020, 1, 1));
    for (const std::vector<std::string>& nulOption :
         {std::vector<std::string>{"-0"}, {"--format", "null"}}) {
        std::vector<std::string> args = {kFind, "--before", "2010-01-01"};
        args.insert(args.end(), nulOption.begin(), nulOption.end());
        args.push_back(tmp.path());
        const auto nul = runProgram(args, {"TZ=UTC"});
        EXPECT_EQ(nul.exitCode, 0);
        auto entries = lines(nul.out, '\0');
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(entries, (std::vector<std::string>{tmp / odd, tmp / "midnight"}))
            << nulOption.back();
    }

    auto longForm = runProgram({kFind, "--on", "2005-05-06", "--long", tmp.path()}, {"TZ=UTC"});
    EXPECT_EQ(longForm.out, tmp / "midnight\t2005-05-06\n");
    longForm =
        runProgram({kFind, "--after", "2005-05-04", "--long", tmp.path()}, {"TZ=Asia/Tokyo"});
    auto longLines = lines(longForm.out);
    std::sort(longLines.begin(), longLines.end());  // the name with a newline spans two lines
    EXPECT_EQ(longLines, (std::vector<std::string>{
                             tmp / "line", tmp / "midnight\t2005-05-06 09:00:00",
                             tmp / "new\t2020-01-01 09:00:00", "break-\xFF\t2005-05-05 14:06:07"}));
}

TEST(FindCommand, TrashMovesTheMatchesAndReportsWhatStayed) {
    TempDir tmp, data;
    makeDir(tmp / "keep");
    makeFile(tmp / "old", utcTime(2000, 1, 1, 12));
    makeFile(tmp / "new", utcTime(2020, 1, 1, 12));
    makeFile(tmp / "keep/stuck", utcTime(2000, 1, 1, 12));
    // Root ignores permissions, so the file that must stay is made immutable as well.
    ASSERT_EQ(chmod((tmp / "keep").c_str(), 0555), 0);
    const bool immutable = geteuid() == 0 && testsupport::setImmutable(tmp / "keep/stuck", true);
    if (geteuid() == 0 && !immutable) {
        chmod((tmp / "keep").c_str(), 0755);
        GTEST_SKIP() << "cannot make a file immutable here, and root ignores permissions";
    }
    const auto result = runProgram({kFind, "--before", "2010-01-01", "--trash", tmp.path()},
                                   {"XDG_DATA_HOME=" + data.path()});
    if (immutable) {
        testsupport::setImmutable(tmp / "keep/stuck", false);
    }
    chmod((tmp / "keep").c_str(), 0755);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(
        result.err.starts_with("chronosift-find: not moved to the trash: " + tmp / "keep/stuck: "))
        << result.err;
    EXPECT_EQ(lines(result.err).size(), 1u);
    EXPECT_NE(access((tmp / "old").c_str(), F_OK), 0);
    EXPECT_EQ(access((data / "Trash/files/old").c_str(), F_OK), 0);
    EXPECT_EQ(access((tmp / "new").c_str(), F_OK), 0);
    EXPECT_EQ(access((tmp / "keep/stuck").c_str(), F_OK), 0);
}

// Each press keeps its own journal: --undo-last takes the newest press with a file left to put
// back and no other, passes over one that another Undo holds, is not stopped by a press that
// moved nothing, and names a journal it cannot use.
TEST(FindCommand, UndoLastTakesTheNewestPressAndNoOther) {
    TempDir tmp;
    const std::string state = tmp / "state/chronosift";
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), kFind);
        return runProgram(args,
                          {"XDG_DATA_HOME=" + tmp / "data", "XDG_STATE_HOME=" + tmp / "state"});
    };
    const auto here = [&](const std::string& name) {
        return access((tmp / name).c_str(), F_OK) == 0;
    };
    for (const char* folder : {"older", "newer", "none"}) {
        makeDir(tmp / folder);
        if (std::string(folder) != "none") {
            makeFile(tmp / folder + "/f", utcTime(2000, 1, 1, 12));
        }
        EXPECT_EQ(run({"--before", "2010-01-01", "--trash", tmp / folder}).exitCode, 0);
    }
    auto journals = testsupport::listFolder(state);
    std::sort(journals.begin(), journals.end());
    ASSERT_EQ(journals.size(), 2u);
    {
        // Another Undo holds the newer press: this one takes the older, and leaves the newer.
        const int held = open((state + "/" + journals[1]).c_str(), O_RDONLY);
        ASSERT_EQ(flock(held, LOCK_EX), 0);
        EXPECT_EQ(run({"--undo-last"}).exitCode, 0);
        close(held);
        EXPECT_TRUE(here("older/f") && !here("newer/f"));
    }
    EXPECT_EQ(run({"--undo-last"}).exitCode, 0);
    EXPECT_TRUE(here("newer/f"));
    const auto nothing = run({"--undo-last"});
    EXPECT_TRUE(nothing.exitCode == 0 && nothing.err == "chronosift-find: nothing to undo\n");
    EXPECT_TRUE(testsupport::listFolder(state).empty());

    // A journal it cannot use is named and left as it is; so is a fresh temporary of an earlier
    // version's journal, while an old one that a kill left is removed.
    const struct {
        const char* name;
        const char* content;
        const char* said;
    } refused[] = {
        {"press-00000000000000000001-1-0", "chronosift press journal 3\nmoved 0 whatever\n",
         "it was written by another version of Chronosift (\"chronosift press journal 3\")"},
        {"press-00000000000000000002-1-0", "chronosift press journal 2\nmoved 0 path=/x\n",
         "it is damaged (line 2)"},
        {"last-press", "chronosift-last-press 1\n5:",
         "the undo journal of an earlier version of Chronosift is damaged"},
    };
    for (const auto& r : refused) {
        const std::string journal = state + "/" + r.name;
        makeFile(journal, utcTime(2020, 1, 1), r.content);
        makeFile(state + "/last-press.Ab12Cd", utcTime(2020, 1, 1));
        makeFile(state + "/last-press.Ef34Gh", std::time(nullptr));
        const auto undone = run({"--undo-last"});
        EXPECT_EQ(undone.exitCode, 1);
        EXPECT_NE(undone.err.find(journal + ": " + r.said), std::string::npos) << undone.err;
        EXPECT_EQ(access(journal.c_str(), F_OK), 0);
        EXPECT_TRUE(here("state/chronosift/last-press.Ef34Gh"));
        EXPECT_FALSE(here("state/chronosift/last-press.Ab12Cd"));
    }
}

// --trash names every file that stayed and every note on one that moved, and says so in its
// status; a file that was no longer there is named but is no failure.
TEST(FindCommand, TrashNamesEveryNote) {
    using chronosift::trash::TrashOutcome;
    using chronosift::trash::TrashStatus;
    const struct {
        TrashOutcome outcome;
        const char* line;
        int status;
    } cases[] = {
        {{TrashStatus::Moved, ""}, "", 0},
        {{TrashStatus::Moved, "a file saved under its name while it moved is now at /d/.x"},
         "chronosift-find: moved to the trash, but /d/f: a file saved under its name while it "
         "moved is now at /d/.x\n",
         1},
        {{TrashStatus::Missing, "gone"}, "chronosift-find: no longer there: /d/f: gone\n", 0},
        {{TrashStatus::Failed, "busy"}, "chronosift-find: not moved to the trash: /d/f: busy\n", 1},
    };
    for (const auto& k : cases) {
        std::FILE* err = std::tmpfile();
        EXPECT_EQ(chronosift::reportTrashOutcomes({"/d/f"}, {k.outcome}, err), k.status);
        std::string said(256, '\0');
        std::rewind(err);
        said.resize(std::fread(said.data(), 1, said.size(), err));
        std::fclose(err);
        EXPECT_EQ(said, k.line);
    }
}

// An age is the day that long before today by the calendar, said with --verbose; the list comes
// out as CSV or TSV that Python's csv module reads back to every path's exact bytes, with local
// times and offsets east and west of UTC, on both sides of a change to summer time.
TEST(FindCommand, AgesAndListsThatReadBackExactly) {
    TempDir tmp;
    const std::vector<std::string> names = {
        "plain.txt", "a,b",       "\"quote\".txt",   "new\nline",   "tab\there",
        "100%",      "50%41.txt", "bad\xFF\xFE.bin", "caf\xC3\xA9", "del\x7F"};
    const std::string list = tmp / "list";
    makeDir(list);
    for (size_t i = 0; i < names.size(); ++i) {  // every other one in July
        makeFile(list + "/" + names[i], utcTime(2001, 1 + 6 * (i % 2), 2, 3, 4, 5), "12345");
    }
    const auto aged = runProgram({kFind, "--older-than", "1m", "--verbose", list});
    EXPECT_EQ(aged.exitCode, 0) << aged.err;
    EXPECT_EQ(lines(aged.out).size(), names.size() + 1);  // the newline name spans two lines
    EXPECT_TRUE(aged.err.starts_with("chronosift-find: --older-than 1m is --before 2")) << aged.err;
    EXPECT_EQ(runProgram({kFind, "--newer-than", "1m", list}).out, "");

    const std::string reader = tmp / "read.py";
    makeFile(reader, 1000000000,
             "import csv, re, sys\n"
             "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8'),"
             " delimiter=sys.argv[2]))\n"
             "assert rows[0] == ['path', 'last_modified', 'size_bytes', 'checked'], rows[0]\n"
             "for r in sorted(rows[1:]):\n"
             "    raw = re.sub(rb'%([0-9A-F]{2})', lambda m: bytes([int(m.group(1), 16)]),"
             " r[0].encode())\n"
             "    sys.stdout.buffer.write(raw.hex().encode() + b' ' + ' '.join(r[1:]).encode() +"
             " b'\\n')\n");
    const std::vector<std::array<std::string, 3>> zones = {
        {"UTC", "2001-01-02T03:04:05+00:00", "2001-07-02T03:04:05+00:00"},
        {"Asia/Kolkata", "2001-01-02T08:34:05+05:30", "2001-07-02T08:34:05+05:30"},
        {"America/St_Johns", "2001-01-01T23:34:05-03:30", "2001-07-02T00:34:05-02:30"}};
    for (const auto& [zone, winter, summer] : zones) {
        std::vector<std::string> expected;
        for (size_t i = 0; i < names.size(); ++i) {
            std::string hex;
            for (const unsigned char c : list + "/" + names[i]) {
                char two[3];
                std::snprintf(two, sizeof two, "%02x", c);
                hex += two;
            }
            expected.push_back(hex + " " + (i % 2 ? summer : winter) + " 5 0");
        }
        std::sort(expected.begin(), expected.end());
        for (const auto& [format, delimiter] : {std::pair{"csv", ","}, std::pair{"tsv", "\t"}}) {
            const auto listed = runProgram(
                {kFind, "--before", "2010-01-01", "--format", format, list}, {"TZ=" + zone});
            ASSERT_TRUE(listed.exitCode == 0 && listed.err.empty()) << listed.err;
            makeFile(tmp / "out", 1000000000, listed.out);
            const auto read = runProgram({"/usr/bin/python3", reader, tmp / "out", delimiter});
            ASSERT_EQ(read.exitCode, 0) << format << read.err;
            std::vector<std::string> got = lines(read.out);
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, expected) << format << " " << zone;
        }
    }
}

}  // namespace
