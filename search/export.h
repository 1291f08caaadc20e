// Writing a list of files out, as "Save List As…" and `chronosift-find --format` do: CSV (RFC
// 4180, UTF-8) with the header "path,last_modified,size_bytes,checked", tab-separated text with
// the same columns, or bare paths ended by a newline or a NUL.
//
// Paths that are not UTF-8 are written so that they can be recovered exactly: in CSV and TSV
// every "%" of a path is written "%25" and every byte that is not part of valid UTF-8 "%XX"
// (TSV also writes tab, newline and carriage return so), so decoding each %XX gives the bytes
// back. Bare paths are their bytes. Times are ISO 8601 in local time with the offset in force
// then ("2021-03-15T10:05:33+01:00"), empty for a file without a time.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/file_index.h"

namespace chronosift {

enum class ListFormat { Csv, Tsv, Lines, Null };

// "csv", "tsv", "lines", "null"; nothing for anything else.
std::optional<ListFormat> parseListFormat(std::string_view name);
// The format a file name asks for by its extension, in any case: ".csv" CSV, ".tsv" and ".txt"
// tab-separated; `otherwise` for any other name, or none.
ListFormat listFormatForName(std::string_view fileName, ListFormat otherwise = ListFormat::Csv);

// For a long write on another thread: a flag that stops it, and a count of rows written.
struct ListProgress {
    const std::atomic<bool>* cancel = nullptr;
    std::atomic<size_t>* done = nullptr;
};

// Writes the files `ids` of `index` in that order; `checked(i)` says whether row i is checked.
// 0, the errno of the write that failed, or ECANCELED when the flag stopped it.
int writeList(std::FILE* out, const FileIndex& index, const std::vector<FileId>& ids,
              const std::function<bool(size_t)>& checked, ListFormat format,
              ListProgress progress = {});

// Writes the list to `path` whole or not at all: into a new file beside it, then renamed over
// it. A file replaced keeps its mode; a new one gets 0666 less the umask. "" or why not;
// cancelled, the file at `path` stays as it was.
std::string saveList(const std::string& path, const FileIndex& index,
                     const std::vector<FileId>& ids, const std::function<bool(size_t)>& checked,
                     ListFormat format, ListProgress progress = {});

// The path field as CSV and TSV write it (without CSV's quotes); and back.
std::string escapePathField(std::string_view bytes, bool tabs);
std::string unescapePathField(std::string_view field);

}  // namespace chronosift
