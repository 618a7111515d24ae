// The time prefix of a record: the clock read once, the local time converted once a second.
#include "output/time_prefix.h"

#include <cstring>

#include "output/console_text.h"
#include "platform/clock.h"

namespace {

// The second the ISO prefix was last converted for, with its local time and offset.
int64_t isoSecond = INT64_MIN;
std::tm isoLocal;
int isoOffset = 0;

void PutDigits(char* out, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

size_t StampIso(std::tm* local, int* milliseconds, char* out) {
    int64_t now = PlatWallClockNanoseconds();
    int64_t second = now / 1000000000;
    if (second != isoSecond) {
        isoSecond = second;
        if (!PlatLocalTimeAt(second, &isoLocal, &isoOffset)) {
            memset(&isoLocal, 0, sizeof isoLocal);
            isoOffset = 0;
        }
    }
    *local = isoLocal;
    *milliseconds = static_cast<int>(now % 1000000000 / 1000000);
    return FormatIsoTimePrefix(isoLocal, *milliseconds, isoOffset, out);
}

}  // namespace

bool ParseTimeForm(const char* name, TimeForm* form) {
    if (strcmp(name, "hms") == 0) *form = TimeForm::Hms;
    else if (strcmp(name, "ms") == 0) *form = TimeForm::Ms;
    else if (strcmp(name, "iso") == 0) *form = TimeForm::Iso;
    else return false;
    return true;
}

size_t FormatIsoTimePrefix(const std::tm& local, int milliseconds, int utcOffsetSeconds, char* out) {
    // Written by hand rather than with a format call: this runs for every line.
    int year = local.tm_year + 1900;
    PutDigits(out, year >= 0 && year <= 9999 ? year : 0, 4);
    out[4] = '-';
    PutDigits(out + 5, local.tm_mon + 1, 2);
    out[7] = '-';
    PutDigits(out + 8, local.tm_mday, 2);
    out[10] = 'T';
    PutDigits(out + 11, local.tm_hour, 2);
    out[13] = ':';
    PutDigits(out + 14, local.tm_min, 2);
    out[16] = ':';
    PutDigits(out + 17, local.tm_sec, 2);
    out[19] = '.';
    PutDigits(out + 20, milliseconds >= 0 && milliseconds <= 999 ? milliseconds : 0, 3);
    int offsetMinutes = (utcOffsetSeconds < 0 ? -utcOffsetSeconds : utcOffsetSeconds) / 60;
    out[23] = utcOffsetSeconds < 0 ? '-' : '+';
    PutDigits(out + 24, offsetMinutes / 60 % 100, 2);
    out[26] = ':';
    PutDigits(out + 27, offsetMinutes % 60, 2);
    out[29] = ' ';
    out[30] = '\0';
    return kTimePrefixMaxLength;
}

size_t StampRecord(TimeForm form, std::tm* local, int* milliseconds, char* out) {
    if (form == TimeForm::Iso) return StampIso(local, milliseconds, out);
    if (!PlatLocalTimeNowMs(local, milliseconds)) {
        memset(local, 0, sizeof *local);
        *milliseconds = 0;
    }
    return FormatTimePrefix(*local, out, form == TimeForm::Ms ? *milliseconds : -1);
}
