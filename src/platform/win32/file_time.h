// Windows file times (100-ns intervals since 1601, UTC) on the nanoseconds-since-1970 scale that
// the clock and the file service share.
#pragma once

#include <windows.h>

#include <cstdint>
#include <limits>

/// 100-ns intervals between 1 January 1601 and 1 January 1970.
constexpr int64_t kFileTimeAt1970 = 116444736000000000LL;

/// Nanoseconds since 1970 for a file time; times before 1970 come out negative. A time after the
/// year 2262, which nanoseconds in 64 bits cannot hold, comes out as the largest value.
inline int64_t FileTimeToUnixNanoseconds(const FILETIME& time) {
    uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr uint64_t kLastTick = static_cast<uint64_t>(kMax / 100 + kFileTimeAt1970);
    if (ticks > kLastTick) return kMax;
    return (static_cast<int64_t>(ticks) - kFileTimeAt1970) * 100;
}
