// Start-up: defaults, command-line arguments, usage text and the settings banner.
#pragma once

#include <cstdint>

#include "control/log_settings.h"

class CDebugUI;

/// Converts like atoi, saturating: leading blanks and a sign are accepted, conversion stops at the
/// first non-digit, text without digits gives 0, out-of-range values give INT32_MAX or INT32_MIN.
int32_t ConvertNumber(const char* text);

/// Longest log folder whose log file paths still fit the 256-byte path buffer.
constexpr int kMaxDebugFolderLength = 229;

/// Result of ReadCommandLine: go on with the socket set-up, or end with `exitCode`.
struct StartupResult {
    bool proceed;
    int exitCode;
};

/// Fills `settings` from the current directory, the defaults and the arguments, prints the usage
/// text or prepares the console through `writer` and prints the banner.
StartupResult ReadCommandLine(int argc, char** argv, LogSettings& settings, CDebugUI& writer);

/// Prints "Start listening port:N...", the last line of the banner.
void PrintListeningLine(const LogSettings& settings);
