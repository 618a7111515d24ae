// Regular expressions with the standard library (ECMAScript syntax), for the Windows build.
#include "output/pattern.h"

#include <cstdio>
#include <new>
#include <regex>

struct Pattern {
    std::regex expression;
};

Pattern* PatternCompile(const char* text, bool ignoreCase, char* error, size_t errorSize) {
    auto flags = std::regex::ECMAScript | (ignoreCase ? std::regex::icase : std::regex::flag_type{});
    try {
        return new Pattern{std::regex(text, flags)};
    } catch (const std::regex_error& failure) {
        snprintf(error, errorSize, "%s", failure.what());
    } catch (const std::bad_alloc&) {
        snprintf(error, errorSize, "out of memory");
    }
    return nullptr;
}

bool PatternFind(Pattern* pattern, const char* text, size_t length, size_t from, size_t* begin,
                 size_t* end) {
    std::cmatch match;
    auto flags = from > 0 ? std::regex_constants::match_prev_avail
                          : std::regex_constants::match_default;
    try {
        if (!std::regex_search(text + from, text + length, match, pattern->expression, flags))
            return false;
    } catch (const std::regex_error&) {
        return false;  // too complex for this line: the line counts as not matching
    }
    *begin = from + static_cast<size_t>(match.position(0));
    *end = *begin + static_cast<size_t>(match.length(0));
    return true;
}

void PatternFree(Pattern* pattern) { delete pattern; }
