// Clock service: the local time for line prefixes and file names, and the wall clock.
#pragma once

#include <cstdint>
#include <ctime>

/// Fills `out` with the current local time broken down; false if the clock cannot be read.
bool PlatLocalTimeNow(std::tm* out);

/// As PlatLocalTimeNow, from one reading of the clock that also gives the millisecond of the
/// second (0..999) in `milliseconds`.
bool PlatLocalTimeNowMs(std::tm* out, int* milliseconds);

/// Nanoseconds since 1 January 1970 UTC, from the wall clock that stamps file modification times.
int64_t PlatWallClockNanoseconds();

/// Milliseconds from a steady clock that never jumps; for measuring spans of time only.
int64_t PlatMonotonicMilliseconds();
