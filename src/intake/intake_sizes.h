// The sizes a line passes through, tied together in one place: a datagram as the default mode
// takes it in, a ring entry, and a record's text.
#pragma once

/// The most of one datagram the default mode takes in; the rest is cut off and counted.
constexpr int kReceiveBufferSize = 1024;
/// Bytes one ring entry holds: a chunk of gathered datagrams, or one --syslog record.
constexpr int kQueueEntrySize = 1024;
/// Data that grows to this many bytes without a line feed is cut off with a forced line feed,
/// which then fills the entry.
constexpr int kForcedLineFeedBytes = kQueueEntrySize - 1;
/// Text bytes one --syslog record holds: a ring entry less its marker and its line feed.
constexpr int kSyslogRecordText = kQueueEntrySize - 2;

static_assert(kReceiveBufferSize == kQueueEntrySize,
              "the gathered bytes of a full receive buffer go into one ring entry");
static_assert(kForcedLineFeedBytes + 1 == kQueueEntrySize,
              "a forced line feed behind the bytes cut off fills one entry");
static_assert(kSyslogRecordText + 2 <= kQueueEntrySize, "a record with its marker and line feed fits an entry");
