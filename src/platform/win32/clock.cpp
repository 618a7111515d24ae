// Clock service on Windows: local time from the C runtime, the wall clock from the system time,
// and the tick count for spans of time.
#include "platform/clock.h"

#include <windows.h>

#include <ctime>

#include "platform/win32/file_time.h"

bool PlatLocalTimeNow(std::tm* out) {
    time_t now = time(nullptr);
    if (now == static_cast<time_t>(-1)) return false;
    return localtime_s(out, &now) == 0;
}

bool PlatLocalTimeNowMs(std::tm* out, int* milliseconds) {
    // The local time with its millisecond in one call; the day of the year is not needed here.
    SYSTEMTIME now;
    GetLocalTime(&now);
    *out = std::tm{};
    out->tm_year = now.wYear - 1900;
    out->tm_mon = now.wMonth - 1;
    out->tm_mday = now.wDay;
    out->tm_wday = now.wDayOfWeek;
    out->tm_hour = now.wHour;
    out->tm_min = now.wMinute;
    out->tm_sec = now.wSecond;
    out->tm_isdst = -1;
    *milliseconds = now.wMilliseconds;
    return true;
}

bool PlatLocalTimeAt(int64_t unixSeconds, std::tm* out, int* utcOffsetSeconds) {
    __time64_t at = unixSeconds;
    if (_localtime64_s(out, &at) != 0) return false;
    std::tm asUtc = *out;
    __time64_t shifted = _mkgmtime64(&asUtc);  // the local fields read as if they were UTC
    if (shifted == -1) return false;
    *utcOffsetSeconds = static_cast<int>(shifted - at);
    return true;
}

int64_t PlatWallClockNanoseconds() {
    // The system time as a file time is as fine as the last-write times that the file search
    // reports; the millisecond SYSTEMTIME would make a file written in this very millisecond look
    // newer than "now".
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeToUnixNanoseconds(now);
}

int64_t PlatMonotonicMilliseconds() {
    // Counts from the system's start and never jumps; its steps of 10 to 16 ms are fine for the
    // spans it measures.
    return static_cast<int64_t>(GetTickCount64());
}
