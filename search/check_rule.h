// A rule that checks or unchecks many rows at once: a shell pattern on the file name, and
// optionally a size bound.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace chronosift {

struct CheckRule {
    std::string pattern = "*";  // a shell glob on the name alone, such as "*.log" or "*~.bak"
    bool ignoreCase = true;
    std::optional<uint64_t> atLeast;  // bytes
    std::optional<uint64_t> atMost;

    // Whether a file of this name and size matches. `name` is bytes, compared as they are.
    bool matches(std::string_view name, uint64_t size) const;
    // Why the pattern cannot be read (a "[" never closed, a "\" at the end), or "" when it can.
    // fnmatch would take such a pattern literally, which is never what was meant.
    std::string patternProblem() const;
};

}  // namespace chronosift
