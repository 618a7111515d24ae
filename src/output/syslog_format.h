// The message sent to a collector for one logged line: an RFC 5424 syslog message, and the
// octet-counting frame (RFC 6587) that carries it over a stream.
#pragma once

#include <cstdint>
#include <ctime>

#include "intake/syslog_header.h"

/// Longest message sent: one that still fits a UDP datagram over IPv4. Longer texts are cut.
constexpr int kMaxSyslogMessage = 65507;
/// Room for "YYYY-MM-DDTHH:MM:SS.mmm+HH:MM" and its NUL.
constexpr int kSyslogTimestampSize = 32;
/// Room for the frame's length and its space.
constexpr int kSyslogFrameHeaderSize = 8;

/// The severity a line's console attribute stands for, read backwards from the one table of
/// severities and colours (SeverityAttribute): 2 crit (light red on blue), 3 err (light red),
/// 4 warning (yellow), 5 notice (light cyan), 7 debug (dark grey), 6 info for the rest.
int SyslogSeverity(uint16_t attribute);

/// Writes the RFC 5424 TIMESTAMP of a local time, its milliseconds and the zone's offset from
/// UTC in seconds, with a NUL; returns its length.
int FormatSyslogTimestamp(const std::tm& local, int milliseconds, int utcOffsetSeconds,
                          char* out);

/// What goes into one message besides the line's bytes.
struct SyslogHeader {
    int priority;           // facility * 8 + severity
    const char* timestamp;  // from FormatSyslogTimestamp
    const char* hostname;   // printable, without spaces; "-" when unknown
    const char* sender;     // "192.0.2.7:5000" or "[2001:db8::7]:5000", or nullptr
};

/// Writes `<PRI>1 TIMESTAMP HOSTNAME udptrail - - SD MSG` into `out` (room for kMaxSyslogMessage
/// bytes) and returns its length. SD is `[origin ip="ADDRESS"]`, the sender without its port and
/// brackets and with `"`, `\` and `]` escaped, or `-` without a sender. MSG is `text` without one
/// final LF or CR LF, cut to what still fits.
int FormatSyslogMessage(const SyslogHeader& header, const char* text, int textLength, char* out);

/// Writes the octet-counting frame header ("LENGTH ") for a message of `messageLength` bytes into
/// `out` (room for kSyslogFrameHeaderSize) and returns its length.
int FormatFrameHeader(int messageLength, char* out);

/// What a relayed message takes from where it came from.
struct SyslogRelayContext {
    const char* received;  // TIMESTAMP of the time received (FormatSyslogTimestamp)
    int year;              // the current year and the local zone's offset from UTC in seconds,
    int utcOffsetSeconds;  // for an RFC 3164 timestamp
    const char* sender;    // "192.0.2.7:5000" or "[2001:db8::7]:5000", or nullptr
};

/// Writes the relay of a --syslog message whose header `parts` were read (it has a <PRI>): its own
/// PRI, TIMESTAMP (an RFC 3164 one in RFC 5424 form; none: the time received), HOSTNAME (none: the
/// sender's address), APP-NAME, PROCID, MSGID and structured data with [origin ip="..."] added,
/// and MSG as sent. `out` has room for kMaxSyslogMessage bytes; returns the length.
int FormatSyslogRelay(const char* message, int length, const SyslogHeaderParts& parts,
                      const SyslogRelayContext& context, char* out);
