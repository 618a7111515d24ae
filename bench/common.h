// Helpers shared by the benchmark tools: the load line format, number parsing and the clock.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

// A load line is: marker byte, "UTB <run> <seq> <stamp> ", filler 'x' up to the length, line feed.
// <seq> is 10 decimal digits, <stamp> 16 decimal digits of CLOCK_MONOTONIC nanoseconds at sending.
// Everything from "UTB" to the line feed is what a receiver must keep; the marker may be dropped.
constexpr const char* kLineTag = "UTB ";
constexpr int kSeqDigits = 10;
constexpr int kStampDigits = 16;

inline int64_t MonotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

/// Parses a whole decimal or 0x-hex number into `out`; false on anything else.
inline bool ParseInt(const char* text, int64_t* out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 0);
    if (errno != 0 || *end != '\0') return false;
    *out = value;
    return true;
}

/// Writes `value` as exactly `digits` decimal digits (leading zeros) at `out`.
inline void PutDigits(char* out, uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
}

/// Reads exactly `digits` decimal digits at `in`; false if any is not a digit.
inline bool GetDigits(const char* in, int digits, uint64_t* value) {
    uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
        if (in[i] < '0' || in[i] > '9') return false;
        v = v * 10 + uint64_t(in[i] - '0');
    }
    *value = v;
    return true;
}

/// One parsed load line: where the tag starts in the text and its numbers.
struct LoadRecord {
    uint64_t seq;
    uint64_t stampNs;
    bool intact;  // the whole text from the tag to the line feed is as the generator sent it
};

/// Finds a load line of run `run` in `line` (`length` bytes, without its line feed) and parses it.
/// `lineLength` is the generator's line length (marker and line feed included); 0 skips the
/// length check. False if the line holds no tag of this run.
inline bool ParseLoadLine(const char* line, size_t length, const char* run, int lineLength,
                          LoadRecord* record) {
    size_t runLength = strlen(run);
    size_t tagLength = strlen(kLineTag);
    const char* found = nullptr;
    for (const char* p = line; p + tagLength + runLength + 1 <= line + length; ++p) {
        p = static_cast<const char*>(memchr(p, 'U', size_t(line + length - p)));
        if (p == nullptr) break;
        if (p + tagLength + runLength + 1 <= line + length && memcmp(p, kLineTag, tagLength) == 0 &&
            memcmp(p + tagLength, run, runLength) == 0 && p[tagLength + runLength] == ' ') {
            found = p;
            break;
        }
    }
    if (found == nullptr) return false;
    const char* fields = found + tagLength + runLength + 1;
    const char* end = line + length;
    record->intact = false;
    if (end - fields < kSeqDigits + 1 + kStampDigits + 1) {
        record->seq = UINT64_MAX;
        return true;
    }
    if (!GetDigits(fields, kSeqDigits, &record->seq) || fields[kSeqDigits] != ' ' ||
        !GetDigits(fields + kSeqDigits + 1, kStampDigits, &record->stampNs) ||
        fields[kSeqDigits + 1 + kStampDigits] != ' ') {
        record->seq = UINT64_MAX;
        return true;
    }
    const char* filler = fields + kSeqDigits + 1 + kStampDigits + 1;
    bool fillerOk = true;
    for (const char* p = filler; p < end; ++p) {
        if (*p != 'x') {
            fillerOk = false;
            break;
        }
    }
    // Text kept by a receiver = line length less the marker and the line feed.
    bool lengthOk = lineLength == 0 || (end - found) == lineLength - 2;
    record->intact = fillerOk && lengthOk;
    return true;
}
