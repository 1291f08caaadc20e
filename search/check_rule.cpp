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

}  // namespace chronosift
