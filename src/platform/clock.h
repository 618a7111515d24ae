// Clock service: the local time for line prefixes and file names, and the wall clock.
#pragma once

#include <cstdint>
#include <ctime>

/// Fills `out` with the current local time broken down; false if the clock cannot be read.
bool PlatLocalTimeNow(std::tm* out);

/// As PlatLocalTimeNow, from one reading of the clock that also gives the millisecond of the
/// second (0..999) in `milliseconds`.
bool PlatLocalTimeNowMs(std::tm* out, int* milliseconds);

/// Fills `out` with the local time of `unixSeconds` broken down and `*utcOffsetSeconds` with the
/// zone's offset from UTC then (east positive); false if it cannot be converted.
bool PlatLocalTimeAt(int64_t unixSeconds, std::tm* out, int* utcOffsetSeconds);

/// Nanoseconds since 1 January 1970 UTC, from the wall clock that stamps file modification times.
int64_t PlatWallClockNanoseconds();

/// Milliseconds from a steady clock that never jumps; for measuring spans of time only.
int64_t PlatMonotonicMilliseconds();
