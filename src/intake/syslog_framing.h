// The framing of --syslog mode: each datagram is one message. Its trailing line ends are removed,
// a leading <PRI> gives its colour, and it is cut into records (at inner line feeds, at runs of NUL
// bytes as in the default mode, and every kSyslogRecordText bytes) that go through the ring like
// lines of the default mode: a marker byte, the text, a line feed.
#pragma once

#include <cstdint>

#include "intake/intake_sizes.h"

/// The largest UDP datagram over IPv4, the most a message can hold.
constexpr int kSyslogMessageSize = 65507;

/// Length of a leading "<PRI>" (1 to 3 digits, 0..191, then '>'), or 0 when there is none; the
/// priority goes to *priority.
int ParseSyslogPriority(const char* message, int length, int* priority);

/// The console attribute of a syslog severity (priority % 8): 0-2 light red on blue, 3 light red,
/// 4 yellow, 5 light cyan, 6 normal, 7 dark grey.
uint16_t SeverityAttribute(int severity);

/// The length of `message` without the run of LF, CR LF and NUL bytes that ends it.
int WithoutLineEnds(const char* message, int length);

/// Receives one record: `record` holds `length` bytes (marker, text, line feed; at most 1024);
/// the first `consoleSkip` text bytes (a <PRI>) are for the log file only.
using SyslogRecordSink = void (*)(const char* record, int length, int consoleSkip, void* context);

/// Frames one message (a whole datagram) and hands its records to `sink` in order; an empty
/// message (nothing but line ends) gives none. Returns the number of records.
int FrameSyslogMessage(const char* message, int length, SyslogRecordSink sink, void* context);
