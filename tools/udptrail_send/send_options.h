// udptrail-send's command-line parsing (colour, HOST:PORT) and the cutting of text into lines.
// The wire format itself (markers, colour names, the longest text) is the client header's.
#pragma once

#include <cstddef>

constexpr size_t kMaxHostLength = 255;

/// Reads a colour: a name ("green", "light-red", "yellow-on-blue", "on-blue"; any case), an
/// attribute 0-31 or a marker byte 224-255, in decimal or 0x hexadecimal. Gives the attribute.
bool ParseColour(const char* text, int* attribute);

/// Splits "HOST:PORT" or "[IPv6]:PORT" into the host (without brackets) and the port. HOST must
/// not be empty, and has a colon only within brackets; PORT is 1-65535 in decimal. `host`
/// receives at most kMaxHostLength characters and a terminator.
bool ParseTarget(const char* text, char (&host)[kMaxHostLength + 1], int* port);

/// Cuts the next line out of `length` bytes of `text`: it ends at a line feed, at a NUL byte (the
/// server would show nothing past it) or after UDPTRAIL_MAX_TEXT bytes, whichever comes first.
/// Returns the line's length; `*used` tells how many input bytes it took, including a line feed
/// or the rest of the text after a NUL.
size_t NextLine(const char* text, size_t length, size_t* used);
