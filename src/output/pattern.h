// Regular expressions for the console's filters and highlights. POSIX builds use PCRE2 (Perl
// syntax, compiled to machine code by its JIT); the Windows build, which has no PCRE2 to link,
// uses the standard library's ECMAScript regex. CMake picks the implementation.
#pragma once

#include <cstddef>

struct Pattern;

/// Compiles `text` (case-insensitive when `ignoreCase`); nullptr with the library's reason in
/// `error` (room for `errorSize` bytes) when the pattern is bad. Not for the hot path.
Pattern* PatternCompile(const char* text, bool ignoreCase, char* error, size_t errorSize);

/// Finds the first match in `text`[`from`, `length`) (what comes before `from` counts for
/// look-behind and anchors); true with the match's span in [`*begin`, `*end`). Allocates nothing.
bool PatternFind(Pattern* pattern, const char* text, size_t length, size_t from, size_t* begin,
                 size_t* end);

void PatternFree(Pattern* pattern);
