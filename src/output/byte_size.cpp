// Sizes on the command line and in warnings: parsing "20G" and showing a byte count as "1.9G".
#include "output/byte_size.h"

#include <cstdio>

namespace {

// The power of 1024 a suffix stands for, or -1 for a character that is none.
int SuffixPower(char suffix) {
    switch (suffix) {
    case 'K': case 'k': return 1;
    case 'M': case 'm': return 2;
    case 'G': case 'g': return 3;
    case 'T': case 't': return 4;
    default: return -1;
    }
}

}  // namespace

bool ParseByteSize(const char* text, uint64_t* bytes) {
    if (*text < '0' || *text > '9') return false;
    uint64_t value = 0;
    const char* at = text;
    for (; *at >= '0' && *at <= '9'; ++at) {
        unsigned digit = static_cast<unsigned>(*at - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (*at != '\0') {
        int power = SuffixPower(*at);
        if (power < 0 || at[1] != '\0') return false;
        for (int i = 0; i < power; ++i) {
            if (value > UINT64_MAX / 1024) return false;
            value *= 1024;
        }
    }
    if (value == 0) return false;
    *bytes = value;
    return true;
}

const char* FormatByteSize(uint64_t bytes, char* out, size_t room) {
    static const char kUnits[] = "KMGTPE";
    if (bytes < 1024) {
        snprintf(out, room, "%llu", static_cast<unsigned long long>(bytes));
        return out;
    }
    int unit = 0;
    uint64_t scale = 1024;
    while (unit < 5 && bytes / scale >= 1024) {
        scale *= 1024;
        ++unit;
    }
    uint64_t whole = bytes / scale;
    if (whole >= 10) {
        snprintf(out, room, "%llu%c", static_cast<unsigned long long>(whole), kUnits[unit]);
    } else {
        // One decimal, cut: the remainder is below scale (at most 2^60), so ×10 fits 64 bits.
        uint64_t tenth = (bytes % scale) * 10 / scale;
        snprintf(out, room, "%llu.%llu%c", static_cast<unsigned long long>(whole),
                 static_cast<unsigned long long>(tenth), kUnits[unit]);
    }
    return out;
}
