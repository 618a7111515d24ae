// What the writer needs to know of the run: where the log files go, their limits, and how records
// look. Filled once at start-up, read-only afterwards.
#pragma once

#include <cstdint>

#include "output/byte_size.h"
#include "output/time_prefix.h"
#include "platform/console.h"

constexpr int kLogPathSize = 256;  // room for a log file's path, its terminator included
constexpr int kDebugFolderSize = kLogPathSize;
// A log file's path is the folder and then this name.
constexpr char kLogFileNamePattern[] = "/udplog_YYYYMMDDHHMMSS.log";
/// The longest log folder whose log file paths still fit kLogPathSize.
constexpr int kMaxDebugFolderLength = kLogPathSize - static_cast<int>(sizeof kLogFileNamePattern);
static_assert(kMaxDebugFolderLength == 229, "--help, the README and the manual page name 229");
constexpr int32_t kDefaultLogFileSize = 2048;   // units of 1024 bytes
constexpr int32_t kDefaultRetentionDays = 30;

struct OutputSettings {
    char debugFolder[kDebugFolderSize];  // NUL-terminated log folder path
    int32_t logFileSize;                 // size limit of one log file, in units of 1024 bytes
    int32_t retentionDays;               // age limit of log files, in days
    TimeForm timeForm;                   // the records' time prefix (--time, --ms)
    ConsoleColors colors;                // where records are written in colour
    bool showSender;                     // the sender's address after the time prefix
    uint64_t maxTotalBytes;              // --max-total: all log files together; 0: no cap
    char maxTotalText[kByteSizeTextSize];  // as given, for the banner and the warning
    uint64_t keepFreeBytes;              // --keep-free: room left on the disk; 0: none asked
    char keepFreeText[kByteSizeTextSize];
    bool compress;                       // --compress: closed log files are gzipped
};
