// The patterns of --grep, --exclude and --highlight, compiled once every option is read.
#pragma once

#include "control/options.h"

/// Compiles the patterns into the console's filters (output/line_filter.h); a bad one prints one
/// line on standard error naming it with the library's reason, and gives false.
bool CompilePatternOptions(const RunOptions& options);
