#include "search/export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

ListFormat listFormatForName(std::string_view fileName) {
    return fileName.ends_with(".tsv") || fileName.ends_with(".txt") ? ListFormat::Tsv
                                                                    : ListFormat::Csv;
}

std::string escapePathField(std::string_view bytes, bool tabs) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 8);
    const auto escape = [&](unsigned char b) {
        out.push_back('%');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    };
    while (!bytes.empty()) {
        const size_t valid = platform::utf8SequenceLength(bytes);
        const auto b = static_cast<unsigned char>(bytes[0]);
        if (valid == 0 || b == '%' || (tabs && (b == '\t' || b == '\n' || b == '\r'))) {
            escape(b);
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, valid));
            bytes.remove_prefix(valid);
        }
    }
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

void appendTime(std::string& out, int64_t utc, platform::LocalZone& zone) {
    if (utc == kNoTime) {
        return;
    }
    const int32_t offset = zone.offsetAt(utc);
    std::string text = isoLocalText(utc + offset);
    if (text.size() == 10) {
        text += " 00:00:00";
    }
    text[10] = 'T';
    out += text;
    const int32_t minutes = (offset < 0 ? -offset : offset) / 60;
    char zoneText[8];
    std::snprintf(zoneText, sizeof zoneText, "%c%02d:%02d", offset < 0 ? '-' : '+',
                  minutes / 60 % 100, minutes % 60);
    out += zoneText;
}

}  // namespace

int writeList(std::FILE* out, const FileIndex& index, const std::vector<FileId>& ids,
              const std::function<bool(size_t)>& checked, ListFormat format) {
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
    for (size_t i = 0; i < ids.size(); ++i) {
        path.clear();
        index.appendPath(ids[i], path);
        if (!table) {
            buffer += path;
            buffer.push_back(format == ListFormat::Null ? '\0' : '\n');
        } else {
            const std::string field = escapePathField(path, format == ListFormat::Tsv);
            if (format == ListFormat::Csv && field.find_first_of(",\"\r\n") != std::string::npos) {
                buffer.push_back('"');
                for (const char c : field) {
                    buffer.append(c == '"' ? 2 : 1, c);
                }
                buffer.push_back('"');
            } else {
                buffer += field;
            }
            buffer.push_back(sep);
            appendTime(buffer, index.time(ids[i]), zone);
            buffer.push_back(sep);
            buffer += std::to_string(index.size(ids[i]));
            buffer.push_back(sep);
            buffer.push_back(checked && checked(i) ? '1' : '0');
            buffer += format == ListFormat::Csv ? "\r\n" : "\n";
        }
        if (buffer.size() >= (1 << 20) - 8192 || i + 1 == ids.size()) {
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

std::string saveList(const std::string& path, const FileIndex& index,
                     const std::vector<FileId>& ids, const std::function<bool(size_t)>& checked,
                     ListFormat format) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    std::string temp = folder + "/.chronosift-list-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return "cannot write in " + platform::displayText(folder) + ": " +
               platform::errorText(errno);
    }
    // As any new file of the user's would be, not mkstemp's 0600.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ::fchmod(fd, 0644 & ~mask);
    std::FILE* out = ::fdopen(fd, "wb");
    int error = out != nullptr ? writeList(out, index, ids, checked, format) : errno;
    if (error == 0 && ::fsync(::fileno(out)) != 0) {
        error = errno;
    }
    if (out != nullptr ? std::fclose(out) != 0 && error == 0 : (::close(fd), false)) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return "cannot write " + platform::displayText(path) + ": " + platform::errorText(error);
    }
    return {};
}

}  // namespace chronosift
