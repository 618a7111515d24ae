// The framing of --syslog mode.
#include "intake/syslog_framing.h"

#include <cstring>

namespace {

constexpr uint16_t kNormal = 0x07;
constexpr unsigned char kFirstMarker = 0xE0;
constexpr int kMaxPriority = 191;

bool EndsRecord(char byte) { return byte == '\n' || byte == '\0'; }

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

int FrameSyslogMessage(const char* message, int length, SyslogRecordSink sink, void* context) {
    length = WithoutLineEnds(message, length);
    if (length <= 0) return 0;
    int priority = 0;
    int consoleSkip = ParseSyslogPriority(message, length, &priority);
    uint16_t attribute = kNormal;
    int at = 0;
    if (consoleSkip > 0) {
        attribute = SeverityAttribute(priority % 8);
    } else if (static_cast<unsigned char>(message[0]) >= kFirstMarker) {
        attribute = static_cast<uint16_t>(static_cast<unsigned char>(message[0]) - kFirstMarker);
        at = 1;  // a marker byte, as in the default mode: it selects the colour and is not shown
    }
    char record[kSyslogRecordText + 2];
    record[0] = static_cast<char>(kFirstMarker + attribute);
    int records = 0;
    do {
        // The record's text ends at the first NUL byte or line feed, or where a record is full.
        const char* start = message + at;
        int span = length - at < kSyslogRecordText ? length - at : kSyslogRecordText;
        int text = static_cast<int>(strnlen(start, static_cast<size_t>(span)));
        if (const void* lineFeed = memchr(start, '\n', static_cast<size_t>(text)))
            text = static_cast<int>(static_cast<const char*>(lineFeed) - start);
        memcpy(record + 1, message + at, static_cast<size_t>(text));
        record[1 + text] = '\n';
        sink(record, text + 2, records == 0 ? consoleSkip : 0, context);
        ++records;
        at += text;
        if (at < length && EndsRecord(message[at])) ++at;  // the line feed or NUL ends this record
    } while (at < length);
    return records;
}
