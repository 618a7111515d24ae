// The framing of --syslog mode.
#include "intake/syslog_framing.h"

#include <cstring>

#include "intake/record_pieces.h"

namespace {

constexpr uint16_t kNormal = 0x07;
constexpr unsigned char kFirstMarker = 0xE0;
constexpr int kMaxPriority = 191;

}  // namespace

int ParseSyslogPriority(const char* message, int length, int* priority) {
    if (length < 3 || message[0] != '<') return 0;
    int value = 0;
    int at = 1;
    while (at < length && at <= 3 && message[at] >= '0' && message[at] <= '9') {
        value = value * 10 + (message[at] - '0');
        ++at;
    }
    if (at == 1 || at >= length || message[at] != '>' || value > kMaxPriority) return 0;
    *priority = value;
    return at + 1;
}

uint16_t SeverityAttribute(int severity) {
    static const uint16_t kAttributes[8] = {0x1C, 0x1C, 0x1C, 0x0C, 0x0E, 0x0B, 0x07, 0x08};
    return kAttributes[severity & 7];
}

int WithoutLineEnds(const char* message, int length) {
    while (length > 0) {
        char last = message[length - 1];
        if (last == '\0') {
            --length;
        } else if (last == '\n') {
            --length;
            if (length > 0 && message[length - 1] == '\r') --length;
        } else {
            break;
        }
    }
    return length;
}

namespace {

// The records of one message on their way to the sink.
struct Framing {
    char record[kSyslogRecordText + 2];  // the marker, the text, the line feed
    SyslogRecordSink sink;
    void* context;
    int consoleSkip;  // of the first record only
    int records;
};

// One record of a line, cut every kSyslogRecordText bytes; an empty one stays one empty record.
void FramePiece(const char* text, int length, void* context) {
    Framing& framing = *static_cast<Framing*>(context);
    int at = 0;
    do {
        int part = length - at < kSyslogRecordText ? length - at : kSyslogRecordText;
        memcpy(framing.record + 1, text + at, static_cast<size_t>(part));
        framing.record[1 + part] = '\n';
        framing.sink(framing.record, part + 2, framing.records == 0 ? framing.consoleSkip : 0,
                     framing.context);
        ++framing.records;
        at += part;
    } while (at < length);
}

}  // namespace

int FrameSyslogMessage(const char* message, int length, SyslogRecordSink sink, void* context) {
    length = WithoutLineEnds(message, length);
    if (length <= 0) return 0;
    int priority = 0;
    Framing framing;
    framing.sink = sink;
    framing.context = context;
    framing.consoleSkip = ParseSyslogPriority(message, length, &priority);
    framing.records = 0;
    uint16_t attribute = kNormal;
    int at = 0;
    if (framing.consoleSkip > 0) {
        attribute = SeverityAttribute(priority % 8);
    } else if (static_cast<unsigned char>(message[0]) >= kFirstMarker) {
        attribute = static_cast<uint16_t>(static_cast<unsigned char>(message[0]) - kFirstMarker);
        at = 1;  // a marker byte, as in the default mode: it selects the colour and is not shown
    }
    framing.record[0] = static_cast<char>(kFirstMarker + attribute);
    // Each line of the message gives its records as a line of the default mode does.
    for (;;) {
        const void* lineFeed = memchr(message + at, '\n', static_cast<size_t>(length - at));
        int end = lineFeed != nullptr ? static_cast<int>(static_cast<const char*>(lineFeed) - message)
                                      : length;
        CutAtNulRuns(message + at, end - at, FramePiece, &framing);
        if (lineFeed == nullptr) break;
        at = end + 1;
    }
    return framing.records;
}
