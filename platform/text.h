// Turning byte names into text for display. Paths are kept as bytes everywhere else.
#pragma once

#include <string>
#include <string_view>

namespace chronosift::platform {

// The bytes as UTF-8, each byte of an invalid sequence shown as U+FFFD.
std::string displayText(std::string_view bytes);

// The bytes escaped for a URI path: every byte but the unreserved characters
// (A-Z a-z 0-9 - . _ ~) and "/" as %XX, so that any name, UTF-8 or not, survives.
std::string uriEscapePath(std::string_view bytes);

}  // namespace chronosift::platform
