// Forwarding of every logged line to collectors as RFC 5424 messages, over UDP (one datagram per
// message) or TCP (octet-counting frames). Each target has its own thread and its own ring: the
// main thread only formats the message and copies it into the ring, so that a slow or absent
// collector never holds up the console or the log file. The functions here are for the main
// thread.
#pragma once

#include <cstdint>

/// A TCP collector that is away leaves this many messages queued; later ones are dropped.
constexpr int kForwardQueueMessages = 10000;

/// Starts forwarding to each of `count` URLs (`udp://HOST:PORT` or `tcp://HOST:PORT`, HOST a
/// name, an IPv4 address or `[IPv6]`) with syslog facility `facility` (0..23). False, with
/// nothing started, when a queue could not be allocated or a thread could not be started.
/// With `relaySyslog` (--syslog), a line that is a syslog message with a <PRI> is relayed with its
/// own header (see FormatSyslogRelay); `facility` is for the lines without one.
bool StartForwarding(const char* const* urls, int count, int facility, bool relaySyslog = false);

/// Queues one logged line for every target: `attribute` gives the severity, `text` (`length`
/// bytes, without its colour marker) the message, `sender` the structured data (or nullptr). A
/// full queue drops the message and counts it; TakeForwardNotice tells it.
void ForwardLine(uint16_t attribute, const char* text, int length, const char* sender);

/// The next notice forwarding owes, a line ending in LF written into `text` (`size` bytes): an
/// outage, its end, or the drops of a target (at most once a second, any time when `final`).
/// Returns its length, 0 when none is due. The forwarding threads never write a notice
/// themselves; the main thread writes these the way of every record.
int TakeForwardNotice(char* text, int size, bool final = false);

/// Gives the threads up to `timeoutMs` to send what is queued, then ends them and releases the
/// queues; a name lookup still running is abandoned. What is still queued then counts as
/// dropped (TakeForwardNotice with `final` tells it).
void StopForwarding(int timeoutMs);

/// The number of targets forwarding was started for (0 without --forward).
int ForwardTargetCount();

/// Messages not forwarded since the start: dropped for a full queue or left unsent at the end.
uint64_t ForwardDroppedCount();
