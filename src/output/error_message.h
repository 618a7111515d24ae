// Messages to standard error that never hold the caller up for long (a reader that lags).
#pragma once

#include <cstdarg>

/// Writes a message formatted as by printf to standard error, waiting at most a short, bounded
/// time for a reader that lags, and not at all while it still lags.
void WriteErrorMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// As WriteErrorMessage, with the arguments as a va_list.
void WriteErrorMessageV(const char* format, va_list arguments);
