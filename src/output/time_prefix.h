// The time prefix of a record in the form --time chooses: "HHMMSS: ", "HHMMSS.mmm: " or the full
// local date and time with milliseconds and the zone's offset (RFC 3339) and a space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

enum class TimeForm : uint8_t {
    Hms,  // "HHMMSS: "
    Ms,   // "HHMMSS.mmm: "
    Iso,  // "2026-12-09T19:31:03.211+01:00 "
};

/// Longest time prefix of any form, without its NUL.
constexpr size_t kTimePrefixMaxLength = 30;

/// Reads `form` from its name ("hms", "ms", "iso"); false for any other text.
bool ParseTimeForm(const char* name, TimeForm* form);

/// Writes "YYYY-MM-DDTHH:MM:SS.mmm+HH:MM " for a local time, its millisecond (0..999) and the
/// zone's offset from UTC in seconds into `out` (room for kTimePrefixMaxLength + 1); returns
/// its length.
size_t FormatIsoTimePrefix(const std::tm& local, int milliseconds, int utcOffsetSeconds, char* out);

/// Reads the clock once and writes the time prefix of a record made now in `form` into `out`
/// (room for kTimePrefixMaxLength + 1); `local` and `milliseconds` get the local time (it names
/// new log files) and its millisecond, whatever the form. The local time is converted at most
/// once a second. Main thread only.
size_t StampRecord(TimeForm form, std::tm* local, int* milliseconds, char* out);
