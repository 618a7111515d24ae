// udptrail-send's command-line parsing (colour, HOST:PORT) and the cutting of text into datagrams.
#pragma once

#include <cstddef>
#include <cstdint>

/// Longest text one datagram carries: the marker byte and the line feed fill the rest of the
/// server's 1024-byte receive room.
constexpr size_t kMaxLineText = 1022;
constexpr size_t kMaxDatagram = kMaxLineText + 2;
constexpr size_t kMaxHostLength = 255;
constexpr int kNormalColour = 7;

/// Reads a colour: a name ("green", "light-red", "yellow-on-blue", "on-blue"; any case), an
/// attribute 0-31 or a marker byte 224-255, in decimal or 0x hexadecimal. Gives the attribute.
bool ParseColour(const char* text, int* attribute);

/// Splits "HOST:PORT" at its last colon. HOST must not be empty; PORT is 1-65535 in decimal.
/// `host` receives at most kMaxHostLength characters and a terminator.
bool ParseTarget(const char* text, char (&host)[kMaxHostLength + 1], int* port);

/// Cuts the next line out of `length` bytes of `text`: it ends at a line feed, at a NUL byte (the
/// server would show nothing past it) or after kMaxLineText bytes, whichever comes first. Returns
/// the line's length; `*used` tells how many input bytes it took, including a line feed or the
/// rest of the text after a NUL.
size_t NextLine(const char* text, size_t length, size_t* used);

/// Writes one datagram for `line`: marker byte, the text, a line feed. Returns its length.
size_t BuildDatagram(int attribute, const char* line, size_t lineLength,
                     char (&datagram)[kMaxDatagram]);

/// The names ParseColour knows for the sixteen foreground colours, by attribute.
extern const char* const kColourNames[16];
