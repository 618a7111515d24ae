// The NUL rule shared by both framings: a line's text is cut into records at its runs of NUL
// bytes, so that no text behind a NUL is ever hidden.
#pragma once

/// Receives one record's text (`length` bytes, no line feed, no NUL).
using RecordPieceSink = void (*)(const char* text, int length, void* context);

/// Hands the records of one line's text (`length` bytes, without its line feed) to `sink` in
/// order: the text is cut at every run of NUL bytes (a run counts as one), each non-empty piece
/// is a record, and a line with no text at all gives one empty record. Returns the records.
int CutAtNulRuns(const char* text, int length, RecordPieceSink sink, void* context);

/// The length of a received datagram with the run of NUL bytes that ends it turned into a line
/// end: a C sender's string terminator ends the line as a line feed does. The first NUL of the
/// run becomes the line feed (the rest of the run is dropped); a run right behind a line feed is
/// dropped whole. A datagram that does not end in NUL keeps its length.
int EndLineAtTrailingNuls(char* datagram, int length);
