// The run's settings: filled once at start-up from the command line, read-only afterwards.
#pragma once

#include <cstdint>

constexpr int kDebugFolderSize = 256;
constexpr int32_t kDefaultLogFileSize = 2048;   // units of 1024 bytes
constexpr int32_t kDefaultRetentionDays = 30;

struct LogSettings {
    int32_t port;                       // as converted from the command line, not reduced to 16 bits
    char debugFolder[kDebugFolderSize]; // NUL-terminated log folder path
    int32_t logFileSize;                // size limit of one log file, in units of 1024 bytes
    int32_t retentionDays;              // age limit of log files, in days
};

extern LogSettings logSettings;
