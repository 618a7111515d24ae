// Text shaping for the console: the time prefix, and the escaping that keeps control bytes from
// the network away from the user's terminal.
#pragma once

#include <cstddef>
#include <ctime>

/// Length of the time prefix "HHMMSS: ".
constexpr size_t kTimePrefixLength = 8;
/// Length of the time prefix with milliseconds, "HHMMSS.mmm: ".
constexpr size_t kTimePrefixMsLength = 12;

/// Writes "HHMMSS: " for `now` into `out` (at least 9 bytes) and returns its length; with
/// `milliseconds` 0..999, "HHMMSS.mmm: " (`out` at least 13 bytes).
size_t FormatTimePrefix(const std::tm& now, char* out, int milliseconds = -1);

/// Most bytes EscapeForTerminal writes for one byte of text (a stray 0x9B becomes <9B>).
constexpr size_t kEscapedBytesPerByte = 4;

/// Copies `length` bytes of `text` into `out`, replacing every control byte (C0 but TAB, and DEL)
/// by a visible caret form such as ^[ or ^?, and every C1 control by its code in hex between
/// angle brackets, such as <9B> for CSI: in its UTF-8 form (C2 80 to C2 9F) and as a bare byte
/// 0x80 to 0x9F that is not part of a well-formed UTF-8 sequence. Other bytes, other UTF-8 text
/// among them, are kept. A final LF or CR LF is kept as it is.
/// `out` needs room for kEscapedBytesPerByte * length bytes. Returns the bytes written.
size_t EscapeForTerminal(const char* text, size_t length, char* out);
