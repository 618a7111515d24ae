// The header parser of --syslog messages, and what the console shows of one.
#include "intake/syslog_header.h"

#include <cstring>

#include "intake/syslog_framing.h"

namespace {

// RFC 5424's longest header parts.
constexpr int kMaxHostname = 255;
constexpr int kMaxAppName = 48;
constexpr int kMaxProcId = 128;
constexpr int kMaxMsgId = 32;
constexpr int kMaxTimestamp = 64;
// Longest tag of an RFC 3164 message, with room for the longer tags programs write in practice.
constexpr int kMaxTag = 48;
constexpr int kMaxPid = 16;
constexpr int k3164StampLength = 15;  // "Mmm dd hh:mm:ss"

struct Reader {
    const char* bytes;
    int length;
};

bool IsPrintable(char c) { return c > ' ' && c < 0x7F; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of printable bytes (no space) from `at`, of 1..max bytes, followed by a space; its length
// or 0.
int Token(const Reader& r, int at, int max) {
    int end = at;
    while (end < r.length && end - at <= max && IsPrintable(r.bytes[end])) ++end;
    int length = end - at;
    if (length == 0 || length > max || end >= r.length || r.bytes[end] != ' ') return 0;
    return length;
}

// RFC 5424 structured data from `at`: "-" or one or more [ID PARAM="VALUE" ...] elements (a
// value may hold \" \\ \] escapes); its length or 0.
int StructuredData(const Reader& r, int at) {
    if (at < r.length && r.bytes[at] == '-') return 1;
    int end = at;
    while (end < r.length && r.bytes[end] == '[') {
        ++end;
        bool quoted = false;
        while (end < r.length && (quoted || r.bytes[end] != ']')) {
            if (quoted && r.bytes[end] == '\\' && end + 1 < r.length) ++end;
            else if (r.bytes[end] == '"') quoted = !quoted;
            ++end;
        }
        if (end >= r.length) return 0;  // an element not closed
        ++end;
    }
    return end - at;
}

bool Parse5424(const Reader& r, int at, SyslogHeaderParts& parts) {
    if (at + 1 >= r.length || r.bytes[at] != '1' || r.bytes[at + 1] != ' ') return false;
    at += 2;
    SyslogPart* fields[] = {&parts.timestamp, &parts.hostname, &parts.appName, &parts.procId, &parts.msgId};
    const int limits[] = {kMaxTimestamp, kMaxHostname, kMaxAppName, kMaxProcId, kMaxMsgId};
    for (int i = 0; i < 5; ++i) {
        int length = Token(r, at, limits[i]);
        if (length == 0) return false;
        *fields[i] = {at, length};
        at += length + 1;
    }
    int sd = StructuredData(r, at);
    if (sd == 0 || (at + sd < r.length && r.bytes[at + sd] != ' ')) return false;
    parts.structuredData = {at, sd};
    at += sd;
    if (at < r.length) ++at;  // the space before MSG
    if (r.length - at >= 3 && memcmp(r.bytes + at, "\xEF\xBB\xBF", 3) == 0) at += 3;
    parts.msg = {at, r.length - at};
    parts.form = SyslogForm::Rfc5424;
    return true;
}

// "Mmm dd hh:mm:ss" (the day may start with a space).
bool Is3164Stamp(const Reader& r, int at) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (r.length - at < k3164StampLength + 1) return false;
    const char* s = r.bytes + at;
    bool month = false;
    for (int m = 0; m < 12 && !month; ++m) month = memcmp(s, kMonths + 3 * m, 3) == 0;
    return month && s[3] == ' ' && (s[4] == ' ' || IsDigit(s[4])) && IsDigit(s[5]) && s[6] == ' ' &&
           IsDigit(s[7]) && IsDigit(s[8]) && s[9] == ':' && IsDigit(s[10]) && IsDigit(s[11]) &&
           s[12] == ':' && IsDigit(s[13]) && IsDigit(s[14]) && s[15] == ' ';
}

bool IsTagByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '-' ||
           c == '.' || c == '/';
}

// "TAG: " or "TAG[PID]: " from `at` (the space may be missing, or the message may end after the
// colon): sets the parts and MSG, true when it is one.
bool Tag(const Reader& r, int at, SyslogHeaderParts& parts) {
    int end = at;
    while (end < r.length && end - at <= kMaxTag && IsTagByte(r.bytes[end])) ++end;
    int tagLength = end - at;
    if (tagLength == 0 || tagLength > kMaxTag || end >= r.length) return false;
    SyslogPart pid;
    if (r.bytes[end] == '[') {
        int pidAt = end + 1;
        int pidEnd = pidAt;
        while (pidEnd < r.length && pidEnd - pidAt <= kMaxPid && IsPrintable(r.bytes[pidEnd]) &&
               r.bytes[pidEnd] != ']')
            ++pidEnd;
        if (pidEnd == pidAt || pidEnd - pidAt > kMaxPid || pidEnd >= r.length || r.bytes[pidEnd] != ']')
            return false;
        pid = {pidAt, pidEnd - pidAt};
        end = pidEnd + 1;
    }
    if (end >= r.length || r.bytes[end] != ':') return false;
    ++end;
    if (end < r.length && r.bytes[end] == ' ') ++end;
    parts.appName = {at, tagLength};
    parts.procId = pid;
    parts.msg = {end, r.length - end};
    return true;
}

void Parse3164(const Reader& r, int at, SyslogHeaderParts& parts) {
    if (Is3164Stamp(r, at)) {
        parts.timestamp = {at, k3164StampLength};
        at += k3164StampLength + 1;
        parts.form = SyslogForm::Rfc3164;
        parts.msg = {at, r.length - at};
        if (Tag(r, at, parts)) return;  // no HOSTNAME
        int host = Token(r, at, kMaxHostname);
        if (host == 0) return;
        parts.hostname = {at, host};
        at += host + 1;
        parts.msg = {at, r.length - at};
        Tag(r, at, parts);
        return;
    }
    if (Tag(r, at, parts)) parts.form = SyslogForm::Rfc3164;  // neither timestamp nor HOSTNAME
}

char* Append(char* out, const char* message, const SyslogPart& part) {
    if (part.length > 0) memcpy(out, message + part.at, static_cast<size_t>(part.length));
    return out + part.length;
}

}  // namespace

SyslogHeaderParts ParseSyslogHeader(const char* message, int length) {
    SyslogHeaderParts parts;
    Reader r = {message, length > 0 ? length : 0};
    int priority = -1;
    int at = ParseSyslogPriority(message, r.length, &priority);
    parts.msg = {at, r.length - at};
    if (at == 0) return parts;
    parts.priority = priority;
    if (Parse5424(r, at, parts)) return parts;
    parts = SyslogHeaderParts();
    parts.priority = priority;
    parts.msg = {at, r.length - at};
    Parse3164(r, at, parts);
    return parts;
}

bool SyslogPartGiven(const char* message, const SyslogPart& part) {
    return part.length > 0 && !(part.length == 1 && message[part.at] == '-');
}

int FormatSyslogConsoleText(const char* message, int length, const SyslogHeaderParts& parts, char* out) {
    (void)length;
    char* at = out;
    if (SyslogPartGiven(message, parts.hostname)) {
        at = Append(at, message, parts.hostname);
        *at++ = ' ';
    }
    bool app = SyslogPartGiven(message, parts.appName);
    bool pid = SyslogPartGiven(message, parts.procId);
    if (app) at = Append(at, message, parts.appName);
    if (pid) {
        *at++ = '[';
        at = Append(at, message, parts.procId);
        *at++ = ']';
    }
    if (app || pid) {
        *at++ = ':';
        *at++ = ' ';
    }
    at = Append(at, message, parts.msg);
    return static_cast<int>(at - out);
}

int FormatSyslogConsoleLine(const char* record, int length, char* out) {
    int body = length;
    while (body > 0 && (record[body - 1] == '\n' || record[body - 1] == '\r')) --body;
    int shown = FormatSyslogConsoleText(record, body, ParseSyslogHeader(record, body), out);
    if (length > body) memcpy(out + shown, record + body, static_cast<size_t>(length - body));
    return shown + length - body;
}
