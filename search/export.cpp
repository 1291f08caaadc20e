#include "search/export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "index/calendar.h"
#include "platform/fs.h"
#include "platform/local_zone.h"
#include "platform/text.h"

namespace chronosift {

std::optional<ListFormat> parseListFormat(std::string_view name) {
    if (name == "csv") {
        return ListFormat::Csv;
    }
    if (name == "tsv") {
        return ListFormat::Tsv;
    }
    if (name == "lines") {
        return ListFormat::Lines;
    }
    if (name == "null") {
        return ListFormat::Null;
    }
    return std::nullopt;
}

ListFormat listFormatForName(std::string_view fileName, ListFormat otherwise) {
    const std::string_view name = fileName.substr(fileName.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return otherwise;
    }
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return extension == "csv"                         ? ListFormat::Csv
           : extension == "tsv" || extension == "txt" ? ListFormat::Tsv
                                                      : otherwise;
}

namespace {

bool plainByte(unsigned char b, bool tabs) {
    return b >= 0x20 && b < 0x80 && b != '%' && b != 0x7F
               ? true
               : !tabs && (b == '\t' || b == '\n' || b == '\r');
}

// Appends the path field: "%" as %25 and bytes outside valid UTF-8 (and, for TSV, tab, newline
// and carriage return) as %XX. Plain ASCII, the usual case, is copied in one piece.
void appendEscapedPath(std::string& out, std::string_view bytes, bool tabs) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    while (!bytes.empty()) {
        size_t plain = 0;
        while (plain < bytes.size() && plainByte(static_cast<unsigned char>(bytes[plain]), tabs)) {
            ++plain;
        }
        out.append(bytes.substr(0, plain));
        bytes.remove_prefix(plain);
        if (bytes.empty()) {
            break;
        }
        const auto b = static_cast<unsigned char>(bytes[0]);
        const size_t valid = b >= 0x80 ? platform::utf8SequenceLength(bytes) : 0;
        if (valid > 0) {
            out.append(bytes.substr(0, valid));
            bytes.remove_prefix(valid);
        } else if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') {
            out.push_back(static_cast<char>(b));  // other control bytes are text in a field
            bytes.remove_prefix(1);
        } else if (b == 0x7F) {
            out.push_back(static_cast<char>(b));
            bytes.remove_prefix(1);
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
            bytes.remove_prefix(1);
        }
    }
}

}  // namespace

std::string escapePathField(std::string_view bytes, bool tabs) {
    std::string out;
    out.reserve(bytes.size() + 8);
    appendEscapedPath(out, bytes, tabs);
    return out;
}

std::string unescapePathField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    const auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 2 < field.size() && hex(field[i + 1]) >= 0 &&
            hex(field[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(field[i + 1]) * 16 + hex(field[i + 2])));
            i += 2;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

namespace {

void twoDigits(std::string& out, int64_t n) {
    out.push_back(static_cast<char>('0' + n / 10));
    out.push_back(static_cast<char>('0' + n % 10));
}

// "2021-03-15T10:05:33+01:00": local time with the offset in force then. The date text is kept
// for the last day written, since a list holds many files of one day.
void appendTime(std::string& out, int64_t utc, platform::LocalZone& zone, int64_t& lastDay,
                std::string& dayText) {
    if (utc == kNoTime) {
        return;
    }
    const int32_t offset = zone.offsetAt(utc);
    const int64_t local = utc + offset;
    const int64_t day = floorDiv(local, kSecondsPerDay);
    if (day != lastDay || dayText.empty()) {
        lastDay = day;
        dayText = isoLocalText(day * kSecondsPerDay);  // the date alone at midnight
    }
    const int64_t second = local - day * kSecondsPerDay;
    out += dayText;
    out.push_back('T');
    twoDigits(out, second / 3600);
    out.push_back(':');
    twoDigits(out, second / 60 % 60);
    out.push_back(':');
    twoDigits(out, second % 60);
    const int32_t minutes = (offset < 0 ? -offset : offset) / 60;
    out.push_back(offset < 0 ? '-' : '+');
    twoDigits(out, minutes / 60 % 100);
    out.push_back(':');
    twoDigits(out, minutes % 60);
}

}  // namespace

int writeList(std::FILE* out, const FileIndex& index, const std::vector<FileId>& ids,
              const std::function<bool(size_t)>& checked, ListFormat format,
              ListProgress progress) {
    platform::LocalZone zone;
    std::string buffer;
    buffer.reserve(1 << 20);
    const bool table = format == ListFormat::Csv || format == ListFormat::Tsv;
    const char sep = format == ListFormat::Tsv ? '\t' : ',';
    if (table) {
        buffer = format == ListFormat::Csv ? "path,last_modified,size_bytes,checked\r\n"
                                           : "path\tlast_modified\tsize_bytes\tchecked\n";
    }
    std::string path;
    int64_t lastDay = 0;
    std::string dayText;
    FolderId folder = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        path.clear();
        index.appendPath(ids[i], path);
        if (!table) {
            buffer += path;
            buffer.push_back(format == ListFormat::Null ? '\0' : '\n');
        } else {
            const size_t start = buffer.size();
            appendEscapedPath(buffer, path, format == ListFormat::Tsv);
            if (format == ListFormat::Csv &&
                buffer.find_first_of(",\"\r\n", start) != std::string::npos) {
                const std::string field = buffer.substr(start);
                buffer.resize(start);
                buffer.push_back('"');
                for (const char c : field) {
                    buffer.append(c == '"' ? 2 : 1, c);
                }
                buffer.push_back('"');
            }
            // Rows in index order walk the folders in step; any other order looks each up.
            folder = ids[i] >= index.folder(folder).firstFile ? index.folderFrom(folder, ids[i])
                                                              : index.folderOf(ids[i]);
            const FileIndex::Folder& f = index.folder(folder);
            buffer.push_back(sep);
            appendTime(buffer, f.fileTime(ids[i] - f.firstFile), zone, lastDay, dayText);
            buffer.push_back(sep);
            char digits[24];
            const auto end =
                std::to_chars(digits, digits + sizeof digits, f.fileSize(ids[i] - f.firstFile)).ptr;
            buffer.append(digits, end);
            buffer.push_back(sep);
            buffer.push_back(checked && checked(i) ? '1' : '0');
            buffer += format == ListFormat::Csv ? "\r\n" : "\n";
        }
        if (buffer.size() >= (1 << 20) - 8192 || i + 1 == ids.size()) {
            if (progress.cancel != nullptr && *progress.cancel) {
                return ECANCELED;
            }
            if (progress.done != nullptr) {
                *progress.done = i + 1;
            }
            if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) {
                return errno != 0 ? errno : EIO;
            }
            buffer.clear();
        }
    }
    if ((!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) ||
        std::fflush(out) != 0) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}

namespace {

// The umask, read rather than set and set back: the list is written on a worker thread, and a
// file another thread made in between would get the wrong mode.
mode_t currentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) {
            return static_cast<mode_t>(mask);
        }
    }
    const mode_t mask = ::umask(022);  // no /proc: the old way
    ::umask(mask);
    return mask;
}

}  // namespace

std::string saveList(const std::string& path, const FileIndex& index,
                     const std::vector<FileId>& ids, const std::function<bool(size_t)>& checked,
                     ListFormat format, ListProgress progress) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    // Unnamed until it is whole, so that a kill midway leaves nothing behind; where the file
    // system makes no unnamed files, a hidden temporary, as it must.
    std::string temp;
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const bool unnamed = fd >= 0;
    if (!unnamed) {
        temp = folder + "/.chronosift-list-XXXXXX";
        fd = ::mkstemp(temp.data());
    }
    if (fd < 0) {
        return "cannot write in " + platform::displayText(folder) + ": " +
               platform::errorText(errno);
    }
    // The mode of the file it replaces, so a private list stays private; else as any new file
    // of the user's would be, not mkstemp's 0600.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        ::fchmod(fd, 0666 & ~currentUmask());
    }
    std::FILE* out = ::fdopen(fd, "wb");
    int error = out != nullptr ? writeList(out, index, ids, checked, format, progress) : errno;
    if (error == 0 && ::fsync(::fileno(out)) != 0) {
        error = errno;
    }
    // Cancel pressed during the last write or the sync still leaves the old file as it was.
    if (error == 0 && progress.cancel != nullptr && *progress.cancel) {
        error = ECANCELED;
    }
    // Named beside the list only now, for the moment before the rename.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; unnamed && error == 0; ++attempt) {
        temp = folder + "/.chronosift-list-" + std::to_string(::getpid()) + "-" +
               std::to_string(attempt);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            break;
        }
        if (errno != EEXIST || attempt == 100) {
            error = errno;
            temp.clear();
        }
    }
    if (out != nullptr ? std::fclose(out) != 0 && error == 0 : (::close(fd), false)) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        if (!temp.empty()) {
            ::unlink(temp.c_str());
        }
        return "cannot write " + platform::displayText(path) + ": " + platform::errorText(error);
    }
    return {};
}

}  // namespace chronosift
