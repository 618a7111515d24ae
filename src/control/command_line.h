// Start-up: defaults, command-line arguments, usage text and the settings banner.
#pragma once

#include <cstdint>

#include "control/log_settings.h"

/// The positional arguments that are numbers, each with its own range.
enum class NumberArgument { Port, LogFileSize, RetentionDays };

/// Reads a numeric argument as a whole decimal number, nothing around it: Port from 1 to 65535 in
/// digits only, logFileSize and retentionDays with an optional sign, within the 32-bit range.
/// Leading zeros are allowed. False, with `*value` untouched, for anything else.
bool ReadNumberArgument(NumberArgument which, const char* text, int32_t* value);

/// Result of ReadCommandLine: go on with the set-up, or end with `exitCode`.
struct StartupResult {
    bool proceed;
    int exitCode;
};

/// Fills `settings` from the current directory, the defaults and the arguments. Prints only the
/// folder warning, the usage text, the help, the version or what refuses an argument; touches
/// neither the console's set-up nor the disk.
StartupResult ReadCommandLine(int argc, char** argv, LogSettings& settings);

/// Prints the settings banner, from the title to "Press 'q' to quit".
void PrintBanner(const LogSettings& settings);

/// Prints "Start listening port:N...", the last line of the banner, with the port listened on.
void PrintListeningLine(const LogSettings& settings, int port);
