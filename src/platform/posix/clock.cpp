// Clock on POSIX: local time with the zone read once, and the wall clock in nanoseconds.
#include "platform/clock.h"

#include <time.h>

namespace {

// The broken-down local time of the last second asked for: lines arrive many per second, and
// converting once per second keeps the zone rules off the per-line path.
time_t cachedSecond = static_cast<time_t>(-1);
std::tm cachedLocal;

}  // namespace

namespace {

bool LocalTimeOf(time_t now, std::tm* out) {
    if (now != cachedSecond) {
        if (cachedSecond == static_cast<time_t>(-1)) tzset();
        if (localtime_r(&now, &cachedLocal) == nullptr) return false;
        cachedSecond = now;
    }
    *out = cachedLocal;
    return true;
}

}  // namespace

bool PlatLocalTimeNow(std::tm* out) {
    time_t now = time(nullptr);
    if (now == static_cast<time_t>(-1)) return false;
    return LocalTimeOf(now, out);
}

bool PlatLocalTimeNowMs(std::tm* out, int* milliseconds) {
    timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    *milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return LocalTimeOf(now.tv_sec, out);
}

bool PlatLocalTimeAt(int64_t unixSeconds, std::tm* out, int* utcOffsetSeconds) {
    time_t at = static_cast<time_t>(unixSeconds);
    if (localtime_r(&at, out) == nullptr) return false;
    *utcOffsetSeconds = static_cast<int>(out->tm_gmtoff);
    return true;
}

int64_t PlatWallClockNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t PlatMonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
