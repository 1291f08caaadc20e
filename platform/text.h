// Turning byte names into text for display. Paths are kept as bytes everywhere else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace chronosift::platform {

// The bytes as UTF-8, each byte of an invalid sequence shown as U+FFFD.
std::string displayText(std::string_view bytes);

// The bytes escaped for a URI path: every byte but the unreserved characters
// (A-Z a-z 0-9 - . _ ~) and "/" as %XX, so that any name, UTF-8 or not, survives.
std::string uriEscapePath(std::string_view bytes);

// A size in decimal units as file managers show them: "1 byte", "999 bytes", "1.2 KB", "23.0 MB".
std::string sizeText(uint64_t bytes);

}  // namespace chronosift::platform
