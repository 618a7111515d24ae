// RFC 5424 messages for forwarded lines, and the octet-counting frame around them.
#include "output/syslog_format.h"

#include <cstdio>
#include <cstring>

namespace {

// Appends `length` bytes unless they would pass `end`; returns the new write position.
char* Append(char* at, const char* end, const char* bytes, size_t length) {
    if (static_cast<size_t>(end - at) < length) length = static_cast<size_t>(end - at);
    memcpy(at, bytes, length);
    return at + length;
}

char* AppendText(char* at, const char* end, const char* text) {
    return Append(at, end, text, strlen(text));
}

// The sender's address alone: "192.0.2.7:5000" gives "192.0.2.7", "[2001:db8::7]:5000" gives
// "2001:db8::7"; text without a port is kept whole.
void AddressOf(const char* sender, const char** address, size_t* length) {
    size_t total = strlen(sender);
    if (sender[0] == '[') {
        const char* close = static_cast<const char*>(memchr(sender, ']', total));
        *address = sender + 1;
        *length = close != nullptr ? static_cast<size_t>(close - sender - 1) : total - 1;
        return;
    }
    const char* colon = strrchr(sender, ':');
    *address = sender;
    *length = colon != nullptr ? static_cast<size_t>(colon - sender) : total;
}

// The structured data element, with the characters a PARAM-VALUE must escape escaped.
char* AppendOrigin(char* at, const char* end, const char* sender) {
    if (sender == nullptr) return AppendText(at, end, "-");
    const char* address;
    size_t length;
    AddressOf(sender, &address, &length);
    at = AppendText(at, end, "[origin ip=\"");
    for (size_t i = 0; i < length && end - at >= 2; ++i) {
        char c = address[i];
        if (c == '"' || c == '\\' || c == ']') *at++ = '\\';
        *at++ = c;
    }
    return AppendText(at, end, "\"]");
}

}  // namespace

int SyslogSeverity(uint16_t attribute) {
    switch (attribute) {
    case 0x1C: return 2;
    case 0x0C: return 3;
    case 0x0E: return 4;
    case 0x0B: return 5;
    case 0x08: return 7;
    default: return 6;
    }
}

int FormatSyslogTimestamp(const std::tm& local, int milliseconds, int utcOffsetSeconds,
                          char* out) {
    char sign = utcOffsetSeconds < 0 ? '-' : '+';
    int offsetMinutes = (utcOffsetSeconds < 0 ? -utcOffsetSeconds : utcOffsetSeconds) / 60;
    int length = snprintf(out, kSyslogTimestampSize, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                          local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, milliseconds, sign, offsetMinutes / 60 % 100,
                          offsetMinutes % 60);
    return length < kSyslogTimestampSize ? length : kSyslogTimestampSize - 1;
}

int FormatSyslogMessage(const SyslogHeader& header, const char* text, int textLength, char* out) {
    char* at = out;
    const char* end = out + kMaxSyslogMessage;
    char priority[16];
    snprintf(priority, sizeof priority, "<%d>1 ", header.priority);
    at = AppendText(at, end, priority);
    at = AppendText(at, end, header.timestamp);
    at = AppendText(at, end, " ");
    at = AppendText(at, end, header.hostname);
    at = AppendText(at, end, " udptrail - - ");
    at = AppendOrigin(at, end, header.sender);
    at = AppendText(at, end, " ");

    size_t length = textLength > 0 ? static_cast<size_t>(textLength) : 0;
    if (length > 0 && text[length - 1] == '\n') {
        --length;
        if (length > 0 && text[length - 1] == '\r') --length;
    }
    at = Append(at, end, text, length);
    return static_cast<int>(at - out);
}

int FormatFrameHeader(int messageLength, char* out) {
    return snprintf(out, kSyslogFrameHeaderSize, "%d ", messageLength);
}
