// RFC 5424 messages for forwarded lines, and the octet-counting frame around them.
#include "output/syslog_format.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "intake/syslog_framing.h"

namespace {

char* AppendOriginElement(char* at, const char* end, const char* sender);

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
    return AppendOriginElement(at, end, sender);
}

char* AppendPart(char* at, const char* end, const char* message, const SyslogPart& part) {
    if (!SyslogPartGiven(message, part)) return AppendText(at, end, "-");
    return Append(at, end, message + part.at, static_cast<size_t>(part.length));
}

// "Mmm dd hh:mm:ss" as "YYYY-MM-DDThh:mm:ss+HH:MM".
char* Append3164Stamp(char* at, const char* end, const char* stamp, const SyslogRelayContext& context) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    int month = 1;
    while (month < 12 && memcmp(stamp, kMonths + 3 * (month - 1), 3) != 0) ++month;
    int offsetMinutes = (context.utcOffsetSeconds < 0 ? -context.utcOffsetSeconds : context.utcOffsetSeconds) / 60;
    char text[kSyslogTimestampSize];
    snprintf(text, sizeof text, "%04d-%02d-%c%cT%.8s%c%02d:%02d", context.year % 10000, month,
             stamp[4] == ' ' ? '0' : stamp[4], stamp[5], stamp + 7, context.utcOffsetSeconds < 0 ? '-' : '+',
             offsetMinutes / 60 % 100, offsetMinutes % 60);
    return AppendText(at, end, text);
}

char* AppendOriginElement(char* at, const char* end, const char* sender) {
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
    // emerg and alert share crit's colour; a colour of no severity is info.
    for (int severity = 2; severity < 8; ++severity) {
        if (SeverityAttribute(severity) == attribute) return severity;
    }
    return 6;
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

int FormatSyslogRelay(const char* message, int length, const SyslogHeaderParts& parts,
                      const SyslogRelayContext& context, char* out) {
    char* at = out;
    const char* end = out + kMaxSyslogMessage;
    char priority[16];
    snprintf(priority, sizeof priority, "<%d>1 ", parts.priority);
    at = AppendText(at, end, priority);
    if (parts.form == SyslogForm::Rfc5424) at = AppendPart(at, end, message, parts.timestamp);
    else if (parts.timestamp.length > 0) at = Append3164Stamp(at, end, message + parts.timestamp.at, context);
    else at = AppendText(at, end, context.received);
    at = AppendText(at, end, " ");
    if (parts.hostname.length > 0) {
        at = AppendPart(at, end, message, parts.hostname);
    } else if (context.sender != nullptr) {
        const char* address;
        size_t addressLength;
        AddressOf(context.sender, &address, &addressLength);
        at = Append(at, end, address, addressLength);
    } else {
        at = AppendText(at, end, "-");
    }
    for (const SyslogPart* part : {&parts.appName, &parts.procId, &parts.msgId}) {
        at = AppendText(at, end, " ");
        at = AppendPart(at, end, message, *part);
    }
    at = AppendText(at, end, " ");
    bool ownData = SyslogPartGiven(message, parts.structuredData);
    if (ownData) at = AppendPart(at, end, message, parts.structuredData);
    if (context.sender != nullptr) at = AppendOriginElement(at, end, context.sender);
    else if (!ownData) at = AppendText(at, end, "-");
    // MSG as sent: after RFC 5424's structured data and its space, a BOM included.
    int msgAt = parts.msg.at;
    if (parts.form == SyslogForm::Rfc5424) {
        int afterData = parts.structuredData.at + parts.structuredData.length + 1;
        if (afterData < msgAt) msgAt = afterData;
    }
    if (msgAt < length) {
        at = AppendText(at, end, " ");
        at = Append(at, end, message + msgAt, static_cast<size_t>(length - msgAt));
    }
    return static_cast<int>(at - out);
}
