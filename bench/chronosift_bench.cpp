// Benchmark: the index build plus a date search, beside find and fd on the same tree.
//
//   chronosift-bench DIR [--files N] [--runs R] [--trash-files N]
//   chronosift-bench --cold DIR [--files N] [--runs R]
//
// Makes (or reuses) a deterministic tree of N files below DIR, then runs each tool once to warm
// the cache and R more times, and reports the median wall times, chronosift's peak memory above
// an empty run, and whether chronosift found the number of files that the tree should give.
// --cold drops the page cache before every run (root only) and runs the tools in alternation,
// beside a minimal many-threaded walker; DIR must be on a disk, not tmpfs.
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>

#include "app/widgets/results_view.h"
#include "index/build.h"
#include "index/calendar.h"
#include "recycle/recycling_bin.h"
#include "search/export.h"
#include "search/find.h"
#include "search/results_model.h"
#include "trash/trash.h"

namespace {

using Clock = std::chrono::steady_clock;
using chronosift::CivilDate;

constexpr const char* kCutoff = "2010-01-01";
constexpr int kFilesPerFolder = 5;
constexpr int kFanout = 6;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "chronosift-bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

struct Rng {
    uint64_t state;
    uint64_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 17;
    }
};

// Local calendar day of a UTC time, by the C library: an oracle independent of the engine.
int64_t localDay(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm local;
    localtime_r(&tt, &local);
    return chronosift::dayNumber({local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                  static_cast<unsigned>(local.tm_mday)});
}

// The tree: folders numbered breadth first, folder i below folder (i - 1) / kFanout, about five
// files each. Every 40th folder is hidden; among the files some are hidden, some begin with "~"
// and some have names that are not UTF-8. Times spread over 1995 to 2025.
// Returns how many files chronosift should find before the cutoff.
uint64_t makeTree(const std::string& root, uint64_t files) {
    const uint64_t folders = std::max<uint64_t>(1, files / kFilesPerFolder);
    Rng rng{20061230};
    const int64_t from = 788918400;  // 1995-01-01
    const int64_t span = 946684800;  // 30 years
    const int64_t cutoffDay = chronosift::dayNumber(*chronosift::parseIsoDate(kCutoff));
    std::vector<std::string> paths(folders);
    std::vector<bool> hidden(folders, false);
    uint64_t expected = 0;
    uint64_t made = 0;
    if (mkdir(root.c_str(), 0755) != 0 && errno != EEXIST) {
        die(root);
    }
    char name[64];
    for (uint64_t i = 0; i < folders; ++i) {
        if (i == 0) {
            paths[0] = root;
        } else {
            const uint64_t parent = (i - 1) / kFanout;
            hidden[i] = hidden[parent] || i % 40 == 0;
            std::snprintf(name, sizeof name, i % 40 == 0 ? ".d%06llu" : "d%06llu",
                          static_cast<unsigned long long>(i));
            paths[i] = paths[parent] + "/" + name;
            if (mkdir(paths[i].c_str(), 0755) != 0) {
                die("mkdir " + paths[i]);
            }
        }
        const int fd = open(paths[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            die("open " + paths[i]);
        }
        const uint64_t count = i == folders - 1 ? files - made : kFilesPerFolder;
        for (uint64_t k = 0; k < count; ++k, ++made) {
            const uint64_t r = rng.next();
            const char* pattern = r % 50 == 0   ? ".h%07llu"
                                  : r % 50 == 1 ? "~t%07llu.tmp"
                                  : r % 50 == 2 ? "n\xff\xfe%07llu.bin"
                                                : "file%07llu.dat";
            std::snprintf(name, sizeof name, pattern, static_cast<unsigned long long>(made));
            const int f = openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (f < 0) {
                die("create file");
            }
            const int64_t t = from + static_cast<int64_t>(rng.next() % span);
            struct timespec times[2] = {{t, 0}, {t, 0}};
            futimens(f, times);
            close(f);
            if (!hidden[i] && r % 50 != 1 && localDay(t) < cutoffDay) {
                ++expected;
            }
        }
        close(fd);
    }
    return expected;
}

std::vector<chronosift::FileId> ids(const chronosift::ResultsModel& model) {
    std::vector<chronosift::FileId> out(static_cast<size_t>(model.rowCount()));
    for (size_t r = 0; r < out.size(); ++r) {
        out[r] = model.fileAt(static_cast<int>(r));
    }
    return out;
}

// In a child process: build the index of `dir`, search it, print what was found and how long.
int measure(const std::string& dir, bool sortTimes) {
    const auto t0 = Clock::now();
    const chronosift::IndexSnapshot index = chronosift::buildIndex({dir + "/"});
    const auto t1 = Clock::now();
    // Only its count is kept, so that the peak is what the program itself holds.
    const size_t matchCount =
        chronosift::findMatches(*index, chronosift::Criterion::Before,
                                chronosift::dayNumber(*chronosift::parseIsoDate(kCutoff)))
            .size();
    const auto t2 = Clock::now();
    // What a press of "Find Results" does: the search, then the rows into the results model.
    chronosift::ResultsModel model;
    const auto t3 = Clock::now();
    model.setRows(
        index, chronosift::findMatches(*index, chronosift::Criterion::Before,
                                       chronosift::dayNumber(*chronosift::parseIsoDate(kCutoff))));
    const auto t4 = Clock::now();
    model.setAllChecked(true);
    const auto t5 = Clock::now();
    using ms = std::chrono::duration<double, std::milli>;
    std::printf("%zu %zu %.3f %.3f %zu %.3f %.3f %zu\n", matchCount, index->fileCount(),
                ms(t1 - t0).count(), ms(t2 - t1).count(), index->bytesUsed(), ms(t4 - t3).count(),
                ms(t5 - t4).count(), model.bytesUsed());
    // The results list over every indexed file, each step split into the part the page runs on
    // another thread and the part on its own thread, which must stay under 100 ms.
    if (sortTimes) {
        // The page's own list view, offscreen: what it does after each change (lay out its
        // rows, draw those shown) is timed with the change.
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        int argc = 1;
        char name[] = "chronosift-bench";
        char* argv[] = {name, nullptr};
        QApplication app(argc, argv);
        chronosift::widgets::ResultsView view;
        view.resize(800, 400);
        view.setModel(&model);
        view.show();
        const auto settle = [&] {
            view.doItemsLayout();
            view.viewport()->repaint();
            QCoreApplication::processEvents();
        };
        const auto elapsed = [](Clock::time_point t) { return ms(Clock::now() - t).count(); };
        const auto since = [&](Clock::time_point t) {
            settle();
            return ms(Clock::now() - t).count();
        };
        model.setRows(nullptr, {});
        settle();
        auto c = Clock::now();
        const double idleMs = since(c);
        settle();
        c = Clock::now();
        auto all = chronosift::findMatches(*index, chronosift::Criterion::After,
                                           chronosift::dayNumber({1900, 1, 1}));
        const uint64_t allBytes = chronosift::ResultsModel::bytesOf(index.get(), all);
        all.shrink_to_fit();
        const double searchMs = elapsed(c);
        c = Clock::now();
        model.setRows(index, std::move(all), allBytes);
        const double listMs = since(c);
        std::printf(
            "  (\"on it\" below includes the view's layout and a redraw; a redraw alone: "
            "%.1f ms)\n",
            idleMs);
        std::printf(
            "  a search listing all %d files: search and its total size %.1f ms (off the page's "
            "thread), rows into the list %.1f ms\n",
            model.rowCount(), searchMs, listMs);
        c = Clock::now();
        model.setAllChecked(true);
        std::printf("  Check All %.1f ms", since(c));
        c = Clock::now();
        model.setAllChecked(false);
        std::printf(", Uncheck All %.1f ms\n", since(c));
        static const char* const kColumns[] = {"path", "time", "size"};
        for (int column = 0; column < 3; ++column) {
            for (const auto order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                c = Clock::now();
                const std::vector<uint32_t> from = model.orderBy(column, order);
                const double orderMs = elapsed(c);
                c = Clock::now();
                model.applyOrder(column, order, from);
                std::printf("  sort by %s %s: %.1f ms off the thread + %.1f ms on it\n",
                            kColumns[column], order == Qt::AscendingOrder ? "asc" : "desc", orderMs,
                            since(c));
            }
        }
        model.sort(-1);
        c = Clock::now();
        const auto plan = model.planMatching({"*5*", true, {}, {}}, true);
        const double planMs = elapsed(c);
        c = Clock::now();
        const size_t matched = model.applyMatching(plan);
        std::printf(
            "  Check Matching \"*5*\": %.1f ms off the thread + %.1f ms on it, %zu checked\n",
            planMs, since(c), matched);
        const std::string csv = "/dev/shm/chronosift-bench-list.csv";
        c = Clock::now();
        const bool saved = chronosift::saveList(
                               csv, *index, ids(model),
                               [&](size_t r) { return model.isChecked(static_cast<int>(r)); },
                               chronosift::ListFormat::Csv)
                               .empty();
        const double exportMs = elapsed(c);
        struct stat st {};
        ::stat(csv.c_str(), &st);
        ::unlink(csv.c_str());
        std::printf("  Save List As, CSV on tmpfs: %.1f ms for %.1f MB%s\n", exportMs,
                    static_cast<double>(st.st_size) / 1e6, saved ? "" : " (FAILED)");
        model.setAllChecked(true);
        std::vector<int> gone;
        for (int r = 0; r < model.rowCount(); r += 2) {
            gone.push_back(r);
        }
        c = Clock::now();
        const auto removal = model.planRemoval(std::move(gone));
        const double planRemovalMs = elapsed(c);
        c = Clock::now();
        model.removeRows(removal);
        std::printf(
            "  removing every other row (all checked): %.1f ms off the thread + %.1f ms on it, "
            "%d left\n",
            planRemovalMs, since(c), model.rowCount());
        // Cancel during the long steps of a sort and of Check Matching: how long each takes to
        // stop once the flag is set, 50 ms in.
        model.sort(-1);
        model.setAllChecked(false);
        const auto stopIn50 = [&](const char* what,
                                  const std::function<void(const std::atomic<bool>&)>& step) {
            std::atomic<bool> cancel{false};
            Clock::time_point setAt;
            std::thread esc([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                setAt = Clock::now();
                cancel = true;
            });
            step(cancel);
            const auto end = Clock::now();
            esc.join();
            if (end < setAt) {
                std::printf("  %s cancelled 50 ms in: it had finished\n", what);
            } else {
                std::printf("  %s cancelled 50 ms in: stopped %.1f ms after the flag was set\n",
                            what, ms(end - setAt).count());
            }
        };
        stopIn50("sort by path",
                 [&](const auto& cancel) { model.orderBy(0, Qt::AscendingOrder, &cancel); });
        stopIn50("Check Matching", [&](const auto& cancel) {
            model.planMatching({"*5*", true, {}, {}}, true, &cancel);
        });
        // Esc during a build: how long the walk takes to stop once the flag is set.
        for (const int after : {300, 2000}) {
            std::atomic<bool> cancel{false};
            Clock::time_point setAt;
            std::thread esc([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(after));
                setAt = Clock::now();
                cancel = true;
            });
            chronosift::BuildOptions options;
            options.cancel = &cancel;
            const bool stopped = chronosift::buildIndex({dir + "/"}, options) == nullptr;
            const auto end = Clock::now();
            esc.join();
            if (stopped) {
                std::printf(
                    "  a build cancelled %d ms in: stopped, its partial index freed, "
                    "%.1f ms after the flag was set\n",
                    after, ms(end - setAt).count());
            } else {
                std::printf("  a build cancelled %d ms in: it had finished\n", after);
            }
        }
    }
    return 0;
}

// In a child process: move every file of `dir` to the trash.
int measureTrash(const std::string& dir, bool undo) {
    // As the program does it: the files as the walk listed them.
    const auto index = chronosift::buildIndex({dir + "/"});
    std::vector<chronosift::FileId> files(index->fileCount());
    for (size_t i = 0; i < files.size(); ++i) {
        files[i] = static_cast<chronosift::FileId>(i);
    }
    chronosift::trash::Trash trash;
    const auto items = chronosift::trashItems(*index, files);
    const auto t0 = Clock::now();
    const auto outcomes = trash.moveAll(items);
    const auto moved = std::count_if(outcomes.begin(), outcomes.end(), [](const auto& o) {
        return o.status == chronosift::trash::TrashStatus::Moved;
    });
    if (!undo) {
        std::printf("%ld\n", static_cast<long>(moved));
        return moved == static_cast<long>(files.size()) ? 0 : 1;
    }
    const auto t1 = Clock::now();
    const auto back = chronosift::trash::putBack(items, outcomes);
    const auto t2 = Clock::now();
    const auto putBack = std::count_if(back.begin(), back.end(),
                                       [](const auto& o) { return o.putBack && o.reason.empty(); });
    using ms = std::chrono::duration<double, std::milli>;
    std::printf("%ld %ld %.1f %.1f\n", static_cast<long>(moved), static_cast<long>(putBack),
                ms(t1 - t0).count(), ms(t2 - t1).count());
    return putBack == static_cast<long>(files.size()) ? 0 : 1;
}

// In a child process: the least a walk can do, for the cold table. Each of `threads` workers
// takes a folder path, lists it with one getdents stream and calls fstatat once per other entry;
// it prints how many entries are older than the cutoff. No order, no index, no checks.
int minimalWalk(const std::string& root, int threads) {
    std::vector<std::string> stack{root};
    std::mutex mutex;
    std::condition_variable cv;
    int busy = 0;
    std::atomic<uint64_t> older{0};
    const int64_t cutoff = 1262304000;  // 2010-01-01 UTC; the zone does not matter here
    auto work = [&] {
        std::unique_lock lock(mutex);
        while (true) {
            cv.wait(lock, [&] { return !stack.empty() || busy == 0; });
            if (stack.empty()) {
                return;
            }
            std::string path = std::move(stack.back());
            stack.pop_back();
            ++busy;
            lock.unlock();
            std::vector<std::string> found;
            const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
            uint64_t count = 0;
            while (dir != nullptr) {
                const dirent* e = readdir(dir);
                if (e == nullptr) {
                    break;
                }
                if (e->d_name[0] == '.' &&
                    (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) {
                    continue;
                }
                if (e->d_type == DT_DIR) {
                    found.push_back(path + "/" + e->d_name);
                    continue;
                }
                struct stat st;
                if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    st.st_mtim.tv_sec < cutoff) {
                    ++count;
                }
            }
            if (dir != nullptr) {
                closedir(dir);
            }
            older += count;
            lock.lock();
            for (auto& f : found) {
                stack.push_back(std::move(f));
            }
            --busy;
            cv.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back(work);
    }
    for (auto& t : pool) {
        t.join();
    }
    std::printf("%llu\n", static_cast<unsigned long long>(older.load()));
    return 0;
}

struct Run {
    double wallMs = 0;
    long maxRssKb = 0;
    std::string out;
    uint64_t lines = 0;
};

Run runChild(const std::vector<std::string>& argv, bool keepOutput) {
    int fds[2];
    if (pipe(fds) != 0) {
        die("pipe");
    }
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    Run run;
    char buffer[1 << 16];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        run.lines += static_cast<uint64_t>(std::count(buffer, buffer + n, '\n'));
        if (keepOutput) {
            run.out.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    run.maxRssKb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "chronosift-bench: %s failed\n", argv[0].c_str());
        std::exit(1);
    }
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Whether the page cache can be dropped: root, and a kernel that lets this machine do it.
bool canDropCaches() {
    return geteuid() == 0 && access("/proc/sys/vm/drop_caches", W_OK) == 0;
}

void dropCaches() {
    sync();
    std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

// Every tool on a cold cache, in alternation, `runs` rounds.
void coldBenchmark(const std::string& self, const std::string& tree, int runs) {
    struct statfs fs {};
    if (statfs(tree.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC) {
        std::printf("cold: %s is on tmpfs, which has no cold cache; name a folder on a disk\n",
                    tree.c_str());
        return;
    }
    if (!canDropCaches()) {
        std::printf("cold: skipped: dropping the page cache needs root\n");
        return;
    }
    struct Tool {
        std::string name;
        std::vector<std::string> command;
        std::vector<double> wall;
    };
    std::vector<Tool> tools = {
        {"chronosift", {self, "--measure", tree}, {}},
        {"fdfind", {"fdfind", "-H", "-I", "-t", "f", "--changed-before", kCutoff, ".", tree}, {}},
        {"fdfind -j16",
         {"fdfind", "-j", "16", "-H", "-I", "-t", "f", "--changed-before", kCutoff, ".", tree},
         {}},
        {"find", {"find", tree, "-type", "f", "!", "-newermt", kCutoff}, {}},
        {"minimal, 2 threads", {self, "--minimal-walk", tree, "2"}, {}},
        {"minimal, 16 threads", {self, "--minimal-walk", tree, "16"}, {}},
        {"minimal, 64 threads", {self, "--minimal-walk", tree, "64"}, {}},
    };
    for (int r = 0; r < runs; ++r) {
        for (Tool& tool : tools) {
            dropCaches();
            tool.wall.push_back(runChild(tool.command, false).wallMs);
        }
    }
    const double floor = median(tools[5].wall);
    const double fd16 = median(tools[2].wall);
    std::printf("median of %d cold runs (page cache dropped before each), %s:\n", runs,
                tree.c_str());
    for (const Tool& tool : tools) {
        const double m = median(tool.wall);
        std::printf("  %-20s %9.1f ms   %.2f x minimal/16   %.2f x fdfind -j16\n",
                    tool.name.c_str(), m, m / floor, m / fd16);
    }
}

// Trashes `count` fresh files from a folder on the home file system with chronosift, `gio trash`
// and `trash-put`, each into a trash of its own below that folder (never the user's own).
void trashBenchmark(const std::string& self, int count) {
    if (count <= 0) {
        return;
    }
    const char* home = std::getenv("HOME");
    const std::string base =
        std::string(home != nullptr ? home : "/tmp") + "/.cache/chronosift-bench";
    std::system(("rm -rf '" + base + "' && mkdir -p '" + base + "'").c_str());
    setenv("XDG_DATA_HOME", (base + "/data").c_str(), 1);
    struct Tool {
        const char* name;
        std::vector<std::string> command;  // the paths are appended
        bool available;
    };
    std::vector<Tool> tools = {
        {"chronosift", {self, "--measure-trash"}, true},
        {"gio trash", {"gio", "trash"}, access("/usr/bin/gio", X_OK) == 0},
        {"trash-put", {"trash-put"}, access("/usr/bin/trash-put", X_OK) == 0},
    };
    std::printf("trash: %d files from %s, fresh copies for each tool:\n", count, base.c_str());
    double ours = 0;
    for (Tool& tool : tools) {
        if (!tool.available) {
            std::printf("  %-11s not installed\n", tool.name);
            continue;
        }
        const std::string folder = base + "/files";
        std::system(
            ("rm -rf '" + folder + "' '" + base + "/data' && mkdir -p '" + folder + "'").c_str());
        std::vector<std::string> command = tool.command;
        for (int i = 0; i < count; ++i) {
            const std::string path = folder + "/file" + std::to_string(i) + ".txt";
            std::ofstream(path) << i;
            if (command[0] != self) {
                command.push_back(path);
            }
        }
        if (command[0] == self) {
            command.push_back(folder);
        }
        const Run run = runChild(command, false);
        int left = 0;
        for (int i = 0; i < count; ++i) {
            left += access((folder + "/file" + std::to_string(i) + ".txt").c_str(), F_OK) == 0;
        }
        if (tool.name == std::string("chronosift")) {
            ours = run.wallMs;
        }
        std::printf("  %-11s %9.1f ms, %d left in place%s\n", tool.name, run.wallMs, left,
                    ours > 0 && tool.name != std::string("chronosift")
                        ? (" (chronosift is " + std::to_string(run.wallMs / ours).substr(0, 5) +
                           " times as fast)")
                              .c_str()
                        : "");
    }
    // Undo of the same press, in process: the move, then putting every file back.
    const std::string folder = base + "/files";
    std::system(
        ("rm -rf '" + folder + "' '" + base + "/data' && mkdir -p '" + folder + "'").c_str());
    for (int i = 0; i < count; ++i) {
        std::ofstream(folder + "/file" + std::to_string(i) + ".txt") << i;
    }
    const Run undo = runChild({self, "--measure-trash", folder, "--undo"}, true);
    long moved = 0, back = 0;
    double moveMs = 0, undoMs = 0;
    std::sscanf(undo.out.c_str(), "%ld %ld %lf %lf", &moved, &back, &moveMs, &undoMs);
    std::printf("  undo: %ld files moved in %.1f ms, %ld put back in %.1f ms\n", moved, moveMs,
                back, undoMs);
    std::system(("rm -rf '" + base + "'").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--measure") {
        return measure(argv[2], argc >= 4 && std::string(argv[3]) == "--sort");
    }
    if (argc >= 3 && std::string(argv[1]) == "--measure-trash") {
        return measureTrash(argv[2], argc >= 4 && std::string(argv[3]) == "--undo");
    }
    if (argc >= 4 && std::string(argv[1]) == "--minimal-walk") {
        return minimalWalk(argv[2], std::atoi(argv[3]));
    }
    const bool cold = argc >= 2 && std::string(argv[1]) == "--cold";
    if (cold) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: chronosift-bench [--cold] DIR [--files N] [--runs R] "
                     "[--trash-files N] [--others 0]\n");
        return 2;
    }
    std::string base = argv[1];
    uint64_t files = 1000000;
    int runs = 3;
    int trashFiles = 10000;
    bool others = true;  // find and fd beside chronosift; 0 leaves them out (at 10 M files they
                         // take many minutes)
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--files") {
            files = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (std::string(argv[i]) == "--trash-files") {
            trashFiles = std::atoi(argv[i + 1]);
        } else if (std::string(argv[i]) == "--others") {
            others = std::atoi(argv[i + 1]) != 0;
        } else if (std::string(argv[i]) == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    if (mkdir(base.c_str(), 0755) != 0 && errno != EEXIST) {
        die(base);
    }
    const std::string tree = base + "/tree-" + std::to_string(files);
    const std::string marker = base + "/tree-" + std::to_string(files) + ".expected";
    const std::string empty = base + "/empty";
    mkdir(empty.c_str(), 0755);

    // The expected count depends on the zone, so it is kept per TZ.
    const char* tzEnv = std::getenv("TZ");
    const std::string zone = tzEnv != nullptr ? tzEnv : "";
    uint64_t expected = 0;
    std::string markerZone;
    std::ifstream in(marker);
    if (in >> expected && (std::getline(in >> std::ws, markerZone), true) &&
        markerZone == "TZ=" + zone) {
        std::printf("reusing %s\n", tree.c_str());
    } else {
        std::printf("making %s (%llu files)...\n", tree.c_str(),
                    static_cast<unsigned long long>(files));
        std::fflush(stdout);
        std::string remove = "rm -rf '" + tree + "'";
        if (std::system(remove.c_str()) != 0) {
            die("rm");
        }
        const auto t0 = Clock::now();
        expected = makeTree(tree, files);
        std::printf("made in %.1f s\n", std::chrono::duration<double>(Clock::now() - t0).count());
        std::ofstream(marker) << expected << "\nTZ=" << zone << "\n";
    }

    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) {
        die("readlink");
    }
    self[len] = '\0';

    if (cold) {
        coldBenchmark(self, tree, runs);
        return 0;
    }
    const std::vector<std::string> ours{self, "--measure", tree};
    const std::vector<std::string> findCmd{"find", tree, "-type", "f", "!", "-newermt", kCutoff};
    const std::vector<std::string> fdCmd{"fdfind",           "-H",    "-I", "-t", "f",
                                         "--changed-before", kCutoff, ".",  tree};

    const Run emptyRun = runChild({self, "--measure", empty}, true);
    // Warm the cache, then measure.
    runChild(ours, false);
    if (others) {
        runChild(findCmd, false);
        runChild(fdCmd, false);
    }
    std::vector<double> oursWall, oursBuild, oursSearch, oursPress, oursCheckAll, findWall, fdWall;
    size_t modelBytes = 0;
    long peakKb = 0;
    uint64_t found = 0, indexed = 0, findLines = 0, fdLines = 0;
    size_t indexBytes = 0;
    for (int r = 0; r < runs; ++r) {
        const Run o = runChild(ours, true);
        double build = 0, search = 0, press = 0, checkAll = 0;
        unsigned long long f = 0, n = 0;
        size_t bytes = 0;
        std::sscanf(o.out.c_str(), "%llu %llu %lf %lf %zu %lf %lf %zu", &f, &n, &build, &search,
                    &bytes, &press, &checkAll, &modelBytes);
        oursPress.push_back(press);
        oursCheckAll.push_back(checkAll);
        found = f, indexed = n, indexBytes = bytes;
        oursWall.push_back(o.wallMs);
        oursBuild.push_back(build);
        oursSearch.push_back(search);
        peakKb = std::max(peakKb, o.maxRssKb);
        if (!others) {
            continue;
        }
        const Run fr = runChild(findCmd, false);
        findWall.push_back(fr.wallMs);
        findLines = fr.lines;
        const Run dr = runChild(fdCmd, false);
        fdWall.push_back(dr.wallMs);
        fdLines = dr.lines;
    }

    std::vector<std::string> sorting = ours;
    sorting.push_back("--sort");
    const Run sorted = runChild(sorting, true);
    const std::string listSteps = sorted.out.substr(sorted.out.find('\n') + 1);

    const double ours_ = median(oursWall);
    const double fd_ = others ? median(fdWall) : 0, find_ = others ? median(findWall) : 0;
    const double perFile =
        indexed > 0 ? static_cast<double>(peakKb - emptyRun.maxRssKb) * 1024.0 / indexed : 0.0;
    std::printf("tree: %s, %llu files made, %llu indexed, %ld online cores\n", tree.c_str(),
                static_cast<unsigned long long>(files), static_cast<unsigned long long>(indexed),
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("median of %d warm runs, --before %s:\n", runs, kCutoff);
    std::printf(
        "  chronosift  %8.1f ms wall (build %.1f ms + search %.1f ms in process), "
        "%llu matches\n",
        ours_, median(oursBuild), median(oursSearch), static_cast<unsigned long long>(found));
    if (others) {
        std::printf("  fdfind      %8.1f ms wall, %llu lines\n", fd_,
                    static_cast<unsigned long long>(fdLines));
        std::printf("  find        %8.1f ms wall, %llu lines\n", find_,
                    static_cast<unsigned long long>(findLines));
        std::printf("ratios (whole process wall time): chronosift/fd %.2f, chronosift/find %.2f\n",
                    ours_ / fd_, ours_ / find_);
    }
    std::printf(
        "memory: peak RSS %ld KiB, empty run %ld KiB, %.1f bytes per indexed file "
        "(index itself %.1f bytes per file)\n",
        peakKb, emptyRun.maxRssKb, perFile,
        indexed > 0 ? static_cast<double>(indexBytes) / indexed : 0.0);
    std::printf(
        "results list: a press (search + model) %.1f ms = %.1f %% of the build; "
        "Check All %.3f ms; %.2f bytes per row\n",
        median(oursPress), 100.0 * median(oursPress) / median(oursBuild), median(oursCheckAll),
        found > 0 ? static_cast<double>(modelBytes) / found : 0.0);
    std::printf("the results list over all %llu indexed files, and a cancelled build:\n%s",
                static_cast<unsigned long long>(indexed), listSteps.c_str());
    trashBenchmark(self, trashFiles);
    const bool countOk = found == expected;
    std::printf("match count: %llu, expected %llu: %s\n", static_cast<unsigned long long>(found),
                static_cast<unsigned long long>(expected), countOk ? "OK" : "WRONG");
    return countOk ? 0 : 1;
}
