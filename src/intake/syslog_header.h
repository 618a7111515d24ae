// The header of a --syslog message, read as RFC 5424 (`<PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID
// MSGID STRUCTURED-DATA MSG`, a BOM before MSG left out) or RFC 3164 (`<PRI>Mmm dd hh:mm:ss
// HOSTNAME TAG[PID]: MSG`, also without HOSTNAME, without the timestamp, or without both). A pure
// function over bytes from the network: it reads nothing past the given length.
#pragma once

/// Where a part lies in the message; length 0 when the message does not have it.
struct SyslogPart {
    int at = 0;
    int length = 0;
};

enum class SyslogForm { None, Rfc3164, Rfc5424 };

struct SyslogHeaderParts {
    SyslogForm form = SyslogForm::None;
    int priority = -1;  // 0..191, or -1 without a <PRI>
    SyslogPart timestamp, hostname, appName, procId, msgId, structuredData;
    SyslogPart msg;  // always present (possibly empty): the rest of the message
};

/// Reads the header of `length` bytes. A message without a form it knows has no parts but its
/// <PRI> (if any) and MSG, the bytes after the <PRI>. Every byte outside the parts is syntax:
/// the <PRI>'s brackets and digits, the version, spaces, the brackets and colon around a PID,
/// a tag's colon and a BOM.
SyslogHeaderParts ParseSyslogHeader(const char* message, int length);

/// True when the part is there and is not RFC 5424's "-".
bool SyslogPartGiven(const char* message, const SyslogPart& part);

/// Writes what the console shows of a message: `HOSTNAME APP[PROCID]: MSG`, the parts not given
/// left out (with no app and no procid, no ": " either). `out` has room for `length` + 4 bytes.
/// Returns the length written.
int FormatSyslogConsoleText(const char* message, int length, const SyslogHeaderParts& parts, char* out);

/// FormatSyslogConsoleText for a record of `length` bytes that may end in LF or CR LF: the header
/// is read without the line end, which follows the text written. `out` has room for `length` + 4
/// bytes. Returns the length written.
int FormatSyslogConsoleLine(const char* record, int length, char* out);
