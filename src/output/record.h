// One record as the writer makes it: the time prefix, an optional sender and a piece of text, and
// the room each needs.
#pragma once

#include <cstddef>

#include "output/console_text.h"
#include "output/time_prefix.h"

/// Longest text written in one piece; longer texts (never produced by the line assembler) are
/// written in several.
constexpr int kTextPieceSize = 1028;
/// Longest sender shown after the time prefix ("[" + 45 + "]:" + 5 digits); a longer one is cut.
constexpr int kSenderShownSize = 53;
/// Room for one record's prefix: the longest time prefix, the sender and a space.
constexpr int kRecordPrefixSize = static_cast<int>(kTimePrefixMaxLength) + kSenderShownSize + 1;
/// Room for one record: its prefix and one piece of text, every byte possibly escaped.
constexpr int kRecordSize = kRecordPrefixSize + kEscapedBytesPerByte * kTextPieceSize;

/// What a line carries besides its colour and text.
struct LineMeta {
    /// The sender's address as shown ("192.0.2.7:5000", "[2001:db8::7]:5000"), or nullptr when
    /// it is not known.
    const char* sender = nullptr;
    /// Leading bytes of the text that the log file keeps but the console does not show.
    int consoleSkip = 0;
};
