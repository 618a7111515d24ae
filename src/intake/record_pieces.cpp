// The NUL rule shared by both framings.
#include "intake/record_pieces.h"

#include <cstring>

int CutAtNulRuns(const char* text, int length, RecordPieceSink sink, void* context) {
    int records = 0;
    int at = 0;
    while (at < length) {
        while (at < length && text[at] == '\0') ++at;  // the run before a piece
        if (at == length) break;
        const void* nul = memchr(text + at, '\0', static_cast<size_t>(length - at));
        int end = nul != nullptr ? static_cast<int>(static_cast<const char*>(nul) - text) : length;
        sink(text + at, end - at, context);
        ++records;
        at = end;
    }
    if (records == 0) {
        sink(text, 0, context);
        records = 1;
    }
    return records;
}

int EndLineAtTrailingNuls(char* datagram, int length) {
    int end = length;
    while (end > 0 && datagram[end - 1] == '\0') --end;
    if (end == length) return length;
    if (end > 0 && datagram[end - 1] == '\n') return end;
    datagram[end] = '\n';
    return end + 1;
}
