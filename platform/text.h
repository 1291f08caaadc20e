// Turning byte names into text for display. Paths are kept as bytes everywhere else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace chronosift::platform {

// The bytes as UTF-8 on one line: each byte of an invalid sequence shown as U+FFFD, a newline
// as "↵" and every other control character as its symbol (U+2400 to U+241F, U+2421 for
// DEL), so that a name with a newline is neither cut nor broken across lines.
std::string displayText(std::string_view bytes);

// The length of the valid UTF-8 sequence at the start of `s` (not empty), or 0 when there is none.
size_t utf8SequenceLength(std::string_view s);

// A count with the locale's digit grouping ("252,000"; "252.000" in German), always grouped.
std::string groupedNumber(uint64_t n);

// The bytes escaped for a URI path: every byte but the unreserved characters
// (A-Z a-z 0-9 - . _ ~) and "/" as %XX, so that any name, UTF-8 or not, survives.
std::string uriEscapePath(std::string_view bytes);

// A size in decimal units as file managers show them: "1 byte", "999 bytes", "1.2 KB", "23.0 MB".
std::string sizeText(uint64_t bytes);

}  // namespace chronosift::platform
