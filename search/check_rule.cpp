#include "search/check_rule.h"

#include <fnmatch.h>

#include <string>

namespace chronosift {

bool CheckRule::matches(std::string_view name, uint64_t size) const {
    if ((atLeast && size < *atLeast) || (atMost && size > *atMost)) {
        return false;
    }
    // fnmatch wants NUL-terminated text; one buffer a thread serves every name.
    thread_local std::string buffer;
    buffer.assign(name);
    return ::fnmatch(pattern.c_str(), buffer.c_str(), ignoreCase ? FNM_CASEFOLD : 0) == 0;
}

std::string CheckRule::patternProblem() const {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            if (++i == pattern.size()) {
                return "it ends in a \u201c\\\u201d with nothing after it";
            }
        } else if (pattern[i] == '[') {
            // "]" right after "[", "[!" or "[^" is a member, not the end; so is a "[:class:]".
            size_t j = i + 1;
            j += j < pattern.size() && (pattern[j] == '!' || pattern[j] == '^') ? 1 : 0;
            j += j < pattern.size() && pattern[j] == ']' ? 1 : 0;
            while (j < pattern.size() && pattern[j] != ']') {
                const size_t end = pattern.compare(j, 2, "[:") == 0 ? pattern.find(":]", j + 2)
                                                                    : std::string::npos;
                j = end != std::string::npos ? end + 2 : j + 1;
            }
            if (j >= pattern.size()) {
                return "a \u201c[\u201d in it has no closing \u201c]\u201d";
            }
            i = j;
        }
    }
    return {};
}

}  // namespace chronosift
