// Compiling the pattern options into the console's filters.
#include "control/pattern_options.h"

#include <cstdio>

namespace {

bool CompileAll(const PatternOptions& patterns, PatternRole role, const char* optionName) {
    for (int i = 0; i < patterns.count; ++i) {
        char reason[200];
        if (!AddLinePattern(role, patterns.texts[i], reason, sizeof reason)) {
            fprintf(stderr, "udptrail: invalid value '%s' for option '--%s': %s\n", patterns.texts[i],
                    optionName, reason);
            return false;
        }
    }
    return true;
}

}  // namespace

bool CompilePatternOptions(const RunOptions& options) {
    SetPatternsIgnoreCase(options.ignoreCase);
    return CompileAll(options.grep, PatternRole::Grep, "grep") &&
           CompileAll(options.exclude, PatternRole::Exclude, "exclude") &&
           CompileAll(options.highlight, PatternRole::Highlight, "highlight");
}
