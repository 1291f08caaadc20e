#include "cli/find_command.h"

#include <cerrno>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/build.h"
#include "index/calendar.h"
#include "index/prune.h"
#include "platform/fs.h"
#include "platform/local_zone.h"
#include "platform/text.h"
#include "recycle/press.h"
#include "recycle/press_journal.h"
#include "recycle/recycling_bin.h"
#include "search/export.h"
#include "search/find.h"
#include "trash/trash.h"

namespace chronosift {

namespace {

constexpr const char* kUsage =
    "usage: chronosift-find (--after | --before | --on) YYYY-MM-DD [options] FOLDER...\n"
    "       chronosift-find (--older-than | --newer-than) N(d|w|m|y) [options] FOLDER...\n"
    "       chronosift-find --undo-last\n"
    "options: --long, -0, --format csv|tsv|lines|null, --trash, --verbose\n";

struct Arguments {
    std::optional<Criterion> criterion;
    std::optional<CivilDate> date;
    bool longFormat = false;
    std::optional<ListFormat> format;
    bool trash = false;
    bool verbose = false;
    std::string age;  // the age option as given, for --verbose
    char terminator = '\n';
    std::vector<std::string> folders;
};

int usageError(std::FILE* err, const std::string& message) {
    std::fprintf(err, "chronosift-find: %s\n%s", message.c_str(), kUsage);
    return 2;
}

// A search-folder row from a folder argument: absolute, without repeated "/" or "." parts, and
// ending in exactly one "/".
std::string rowFor(std::string_view argument) {
    std::string path = argument.starts_with('/') ? std::string() : platform::currentFolder() + "/";
    path.append(argument);
    std::string row = "/";
    size_t at = 0;
    while (at < path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string_view part(path.data() + at, end - at);
        if (!part.empty() && part != ".") {
            row.append(part);
            row.push_back('/');
        }
        at = end + 1;
    }
    return row;
}

// The argument in single quotes, decoded for display.
std::string quoted(std::string_view argument) {
    std::string text(1, '\'');
    text += platform::displayText(argument);
    text += '\'';
    return text;
}

// Today's date in local time.
CivilDate today() {
    platform::LocalZone zone;
    return civilDate(zone.localDay(static_cast<int64_t>(std::time(nullptr))));
}

std::string criterionName(Criterion c) {
    return c == Criterion::After ? "--after" : c == Criterion::Before ? "--before" : "--on";
}

// Moves the matching files to the trash without asking and keeps the press for --undo-last.
int trashMatches(const FileIndex& index, const std::vector<FileId>& matches, std::FILE* err) {
    const auto items = trashItems(index, matches);
    trash::Trash trash;
    const auto outcomes = trash.moveAll(items);
    std::vector<std::string> paths;
    for (const auto& item : items) {
        paths.push_back(item.path);
    }
    const int status = reportTrashOutcomes(paths, outcomes, err);
    std::string journal;
    if (const std::string kept = writePressJournal(items, outcomes, journal); !kept.empty()) {
        // A note on every file that moved: it cannot be put back by --undo-last.
        std::fprintf(err, "chronosift-find: warning: --undo-last will not work: %s\n",
                     platform::displayText(kept).c_str());
        return 1;
    }
    return status;
}

// Puts back the files of the newest press that has a file left to put back, whichever window
// or script made it; one line on `err` per file that stayed in the trash, and per journal that
// cannot be used. Exit code 1 when any file stayed or any journal was refused.
int undoLast(std::FILE* err) {
    std::vector<std::string> problems;
    std::unique_ptr<TrashPress> none;
    const auto press = TrashPress::latest(problems, none);
    for (const std::string& p : problems) {
        std::fprintf(err, "chronosift-find: cannot use %s\n", platform::displayText(p).c_str());
    }
    if (press == nullptr) {
        if (problems.empty()) {
            std::fprintf(err, "chronosift-find: nothing to undo\n");
        }
        return problems.empty() ? 0 : 1;
    }
    press->undo({});
    bool stayed = !problems.empty();
    for (size_t i = 0; i < press->undone().size(); ++i) {
        const auto& o = press->undone()[i];
        if (!o.reason.empty()) {
            stayed = stayed || !o.putBack;
            std::fprintf(err, "chronosift-find: %s %s: %s\n",
                         o.putBack ? "put back, but" : "stayed in the trash:",
                         platform::displayText(press->items()[i].path).c_str(), o.reason.c_str());
        }
    }
    if (const std::string kept = press->keep(); !kept.empty()) {
        std::fprintf(err, "chronosift-find: the undo journal: %s\n", kept.c_str());
    }
    return stayed ? 1 : 0;
}

}  // namespace

int reportTrashOutcomes(const std::vector<std::string>& paths,
                        const std::vector<trash::TrashOutcome>& outcomes, std::FILE* err) {
    bool stayed = false;
    for (size_t i = 0; i < outcomes.size() && i < paths.size(); ++i) {
        const auto& o = outcomes[i];
        if (o.status == trash::TrashStatus::Moved && o.reason.empty()) {
            continue;
        }
        stayed = stayed || o.status != trash::TrashStatus::Missing;
        std::fprintf(err, "chronosift-find: %s %s: %s\n",
                     o.status == trash::TrashStatus::Missing ? "no longer there:"
                     : o.status == trash::TrashStatus::Moved ? "moved to the trash, but"
                                                             : "not moved to the trash:",
                     platform::displayText(paths[i]).c_str(), o.reason.c_str());
    }
    return stayed ? 1 : 0;
}

int runFindCommand(int argc, char** argv, std::FILE* out, std::FILE* err) {
    Arguments args;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
            args.folders.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--after" || arg == "--before" || arg == "--on") {
            const Criterion c = arg == "--after"    ? Criterion::After
                                : arg == "--before" ? Criterion::Before
                                                    : Criterion::On;
            if (args.criterion) {
                return usageError(err, "give only one of --after, --before and --on");
            }
            if (i + 1 >= argc) {
                return usageError(err, criterionName(c) + " needs a date");
            }
            args.criterion = c;
            args.date = parseIsoDate(argv[++i]);
            if (!args.date) {
                return usageError(err, quoted(argv[i]) +
                                           " is not a date from 1601-01-01 to 9999-12-31 "
                                           "written as YYYY-MM-DD");
            }
        } else if (arg == "--older-than" || arg == "--newer-than") {
            if (args.criterion) {
                return usageError(err,
                                  "give only one of --after, --before, --on, --older-than "
                                  "and --newer-than");
            }
            if (i + 1 >= argc) {
                return usageError(err, std::string(arg) + " needs an age such as 2y");
            }
            const std::optional<Age> age = parseAge(argv[++i]);
            args.date = age ? dayBefore(today(), *age) : std::nullopt;
            if (!age || !args.date) {
                return usageError(err, quoted(argv[i]) +
                                           " is not an age of days, weeks, months or years "
                                           "(such as 90d, 3w, 6m, 2y) after 1601-01-01");
            }
            args.criterion = arg == "--older-than" ? Criterion::Before : Criterion::After;
            args.age = std::string(argv[i - 1]) + " " + argv[i];
        } else if (arg == "--undo-last") {
            if (argc != 2) {
                return usageError(err, "--undo-last takes nothing else");
            }
            return undoLast(err);
        } else if (arg == "--verbose") {
            args.verbose = true;
        } else if (arg == "--format") {
            args.format = i + 1 < argc ? parseListFormat(argv[i + 1]) : std::nullopt;
            if (!args.format) {
                return usageError(err, "--format takes csv, tsv, lines or null");
            }
            ++i;
        } else if (arg == "--long") {
            args.longFormat = true;
        } else if (arg == "--trash") {
            args.trash = true;
        } else if (arg == "-0") {
            args.terminator = '\0';
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, out);
            return 0;
        } else {
            return usageError(err, "unknown option " + quoted(arg));
        }
    }
    if (!args.criterion) {
        return usageError(err,
                          "give one of --after, --before and --on with a date, or "
                          "--older-than or --newer-than with an age");
    }
    if (args.verbose) {
        char day[16];
        std::snprintf(day, sizeof day, "%04lld-%02u-%02u", static_cast<long long>(args.date->year),
                      args.date->month, args.date->day);
        std::fprintf(err, "chronosift-find: %s%s%s %s\n", args.age.c_str(),
                     args.age.empty() ? "" : " is ", criterionName(*args.criterion).c_str(), day);
    }
    if (args.folders.empty()) {
        return usageError(err, "no folder given");
    }

    std::vector<std::string> rows;
    for (const std::string& folder : args.folders) {
        rows.push_back(rowFor(folder));
    }
    for (const PruneMark& mark : pruneNestedRows(rows)) {
        std::fprintf(err, "%s\n", platform::displayText(mark.message).c_str());
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(mark.row));
    }

    const IndexSnapshot index = buildIndex(rows);
    for (const FileIndex::Row& row : index->rows()) {
        if (row.root == kNoFolder) {
            std::fprintf(err, "chronosift-find: warning: skipping %s\n",
                         row.error.message().c_str());
        }
    }
    for (const platform::FsError& error : index->errors()) {
        std::fprintf(err, "chronosift-find: warning: cannot read %s\n", error.message().c_str());
    }

    const std::vector<FileId> matches = findMatches(*index, *args.criterion, dayNumber(*args.date));
    if (args.trash) {
        return trashMatches(*index, matches, err);
    }
    if (args.format) {
        if (const int error = writeList(out, *index, matches, {}, *args.format); error != 0) {
            std::fprintf(err, "chronosift-find: cannot write the results: %s\n",
                         platform::errorText(error).c_str());
            return 1;
        }
        return 0;
    }
    platform::LocalZone zone;
    std::string buffer;
    buffer.reserve(1 << 16);
    for (FileId id : matches) {
        index->appendPath(id, buffer);
        if (args.longFormat) {
            buffer.push_back('\t');
            const int64_t t = index->time(id);
            if (t != kNoTime) {
                buffer.append(isoLocalText(zone.localSeconds(t)));
            }
        }
        buffer.push_back(args.terminator);
        if (buffer.size() >= (1 << 16) - 8192) {
            std::fwrite(buffer.data(), 1, buffer.size(), out);
            buffer.clear();
        }
    }
    std::fwrite(buffer.data(), 1, buffer.size(), out);
    if (std::fflush(out) != 0) {
        std::fprintf(err, "chronosift-find: cannot write the results: %s\n",
                     platform::errorText(errno).c_str());
        return 1;
    }
    return 0;
}

}  // namespace chronosift
