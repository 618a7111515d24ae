// Regular expressions with PCRE2: Perl syntax, matched byte by byte, through the JIT when the
// machine has one. The match data is made once per pattern, so a match allocates nothing.
#define PCRE2_CODE_UNIT_WIDTH 8
#include "output/pattern.h"

#include <pcre2.h>

#include <cstdio>
#include <new>

struct Pattern {
    pcre2_code* code;
    pcre2_match_data* match;
    bool jit;
};

Pattern* PatternCompile(const char* text, bool ignoreCase, char* error, size_t errorSize) {
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text), PCRE2_ZERO_TERMINATED,
                                     ignoreCase ? PCRE2_CASELESS : 0, &errorCode, &errorOffset,
                                     nullptr);
    if (code == nullptr) {
        PCRE2_UCHAR reason[160];
        pcre2_get_error_message(errorCode, reason, sizeof reason);
        snprintf(error, errorSize, "%s at offset %zu", reinterpret_cast<const char*>(reason),
                 static_cast<size_t>(errorOffset));
        return nullptr;
    }
    pcre2_match_data* match = pcre2_match_data_create_from_pattern(code, nullptr);
    auto* pattern = new (std::nothrow) Pattern{code, match, false};
    if (match == nullptr || pattern == nullptr) {
        snprintf(error, errorSize, "out of memory");
        pcre2_match_data_free(match);
        pcre2_code_free(code);
        delete pattern;
        return nullptr;
    }
    pattern->jit = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;
    return pattern;
}

bool PatternFind(Pattern* pattern, const char* text, size_t length, size_t from, size_t* begin,
                 size_t* end) {
    auto subject = reinterpret_cast<PCRE2_SPTR>(text);
    int result = pattern->jit
                     ? pcre2_jit_match(pattern->code, subject, length, from, 0, pattern->match, nullptr)
                     : pcre2_match(pattern->code, subject, length, from, 0, pattern->match, nullptr);
    if (result < 0) return false;
    const PCRE2_SIZE* span = pcre2_get_ovector_pointer(pattern->match);
    *begin = span[0];
    *end = span[1];
    return true;
}

void PatternFree(Pattern* pattern) {
    if (pattern == nullptr) return;
    pcre2_match_data_free(pattern->match);
    pcre2_code_free(pattern->code);
    delete pattern;
}
