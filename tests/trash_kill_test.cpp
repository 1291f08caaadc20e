// A move, an Undo and a clean-up, each killed at a random system call (seeded, so a failure can be
// replayed), with and without a rename that cannot replace: once a run has cleared up, every file
// is there exactly once, as it was. CHRONOSIFT_KILL_SEEDS=FIRST-LAST runs more seeds
// (scripts/kill_loop.sh).
#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "support/trash_fixture.h"

namespace chronosift::trash {
namespace {

// Runs `run` in a child that dies before its `nth` system call that changes the disk (never, when
// 0); every run of a seed without a rename that cannot replace when `noReplace` is false.
void runKilledAt(const std::function<void(const TrashOptions&)>& run, int nth, bool noReplace) {
    const pid_t child = fork();
    if (child == 0) {
        int seen = 0;
        const TrashHooks die{.fail = [&](std::string_view call) {
            if (++seen == nth) {
                _exit(0);
            }
            return call == "renameat2" && !noReplace ? EINVAL : 0;
        }};
        run({.hooks = &die});
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

struct Original {
    std::string path, bytes;
    struct stat st;
};

// What a seed leaves: each file once, in place (`back`: only there) or in files/ with its
// record, with its mode, time, size and links; no record without its file; no private name.
void checkDisk(const std::vector<Original>& files, const std::string& trash, bool back) {
    std::map<std::string, std::string> trashed;  // bytes -> name in files/
    for (const std::string& name : names(trash + "/files")) {
        const std::string bytes = readFile(trash + "/files/" + name);
        EXPECT_FALSE(trashed.contains(bytes)) << name << " is a second name in the trash";
        trashed[bytes] = name;
        EXPECT_TRUE(exists(trash + "/info/" + name + ".trashinfo")) << name << " has no record";
    }
    for (const std::string& name : names(trash + "/info")) {
        EXPECT_FALSE(name.starts_with(".chronosift-")) << "left in info/: " << name;
        EXPECT_TRUE(name.ends_with(".trashinfo") &&
                    exists(trash + "/files/" + name.substr(0, name.size() - 10)))
            << "a record without its file: " << name;
    }
    for (const Original& f : files) {
        const bool inPlace = exists(f.path);
        const auto it = trashed.find(f.bytes);
        EXPECT_NE(inPlace, it != trashed.end()) << f.path << " is in one place only";
        EXPECT_TRUE(inPlace || !back) << f.path << " is not back";
        const std::string now = inPlace ? f.path : trash + "/files/" + it->second;
        struct stat st;
        ASSERT_EQ(lstat(now.c_str(), &st), 0) << now;
        EXPECT_EQ(readFile(now), f.bytes);
        EXPECT_TRUE(st.st_mode == f.st.st_mode && st.st_mtime == f.st.st_mtime &&
                    st.st_nlink == f.st.st_nlink && st.st_ino == f.st.st_ino)
            << now << " changed";
        if (!inPlace) {
            EXPECT_NE(readFile(trash + "/info/" + it->second + ".trashinfo")
                          .find("\nPath=" + trashInfoPath(f.path) + "\n"),
                      std::string::npos);
        }
        for (const std::string& name : names(f.path.substr(0, f.path.rfind('/')))) {
            EXPECT_FALSE(name.starts_with(".chronosift-")) << "left beside " << f.path;
        }
    }
}

// One seed: files to move; the move or an Undo killed, maybe the next run killed while it
// clears up, then a run to the end.
void runSeed(uint32_t seed, const std::string& base) {
    std::mt19937 random(seed);
    const bool noReplace = random() % 2 == 0;
    const bool undo = random() % 2 == 0;
    // A move or an Undo of four files makes about 16 calls, or 36 by link.
    const int killAt = 1 + static_cast<int>(random() % (noReplace ? 16 : 36));
    const int cleanUpKilledAt = random() % 2 == 0 ? 0 : 1 + static_cast<int>(random() % 8);
    testsupport::ScopedEnv data("XDG_DATA_HOME", base + "/data");
    const std::string trash = base + "/data/Trash", folder = base + "/w";
    makeDir(folder);
    makeDir(base + "/other");
    std::vector<Original> files;
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        const std::string path = folder + "/f" + std::to_string(i) + (i == 3 ? ".txt" : "");
        makeFile(path, 1000000000 + i * 86400, "file " + std::to_string(i) + " of " + base);
        chmod(path.c_str(), i == 0 ? 0444 : 0640);
        paths.push_back(path);
    }
    ASSERT_EQ(link(paths[1].c_str(), (base + "/second-name").c_str()), 0);
    for (const std::string& path : paths) {
        files.push_back({path, readFile(path), {}});
        lstat(path.c_str(), &files.back().st);
    }
    const auto items = itemsFor(paths);
    const TrashHooks plain{.fail = [&](std::string_view call) {
        return call == "renameat2" && !noReplace ? EINVAL : 0;
    }};
    const std::vector<TrashOutcome> moved =
        undo ? Trash().moveAll(items, {.hooks = &plain}) : std::vector<TrashOutcome>{};
    const auto undoAll = [&](const TrashOptions& o) { putBack(items, moved, o); };
    runKilledAt([&](const TrashOptions& o) { undo ? undoAll(o) : (void)Trash().moveAll(items, o); },
                killAt, noReplace);
    // The next run clears up first; it may be killed at that too.
    int runs = 0;
    const auto next = [&](const TrashOptions& o) {
        const std::string other = base + "/other/" + std::to_string(++runs);
        makeFile(other, 1000000000, other);
        undo ? undoAll(o) : (void)Trash().moveAll(itemsFor({other}), o);
    };
    runKilledAt(next, cleanUpKilledAt, noReplace);
    ++runs;
    if (undo) {
        for (const PutBackOutcome& o : putBack(items, moved, {.hooks = &plain})) {
            EXPECT_TRUE(o.putBack && o.reason.empty()) << o.reason;
        }
    } else {
        runKilledAt(next, 0, noReplace);
    }
    checkDisk(files, trash, undo);
}

TEST_F(TrashTest, KilledAtRandomCallsTheNextRunClearsUpAndNothingIsLost) {
    uint32_t first = 1, last = 24;
    if (const char* seeds = std::getenv("CHRONOSIFT_KILL_SEEDS")) {
        char* dash = nullptr;
        first = static_cast<uint32_t>(std::strtoul(seeds, &dash, 10));
        last = *dash == '-' ? static_cast<uint32_t>(std::strtoul(dash + 1, nullptr, 10)) : first;
    }
    for (uint32_t seed = first; seed <= last && !HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        runSeed(seed, work_ + "/" + std::to_string(seed));
    }
}

}  // namespace
}  // namespace chronosift::trash
