// The main thread's consumer step: pops queued chunks, cuts them into lines at line feeds and
// into records at NUL runs, decodes each line's colour marker and hands the records to a sink.
#pragma once

#include <cstdint>

#include "intake/packet_queue.h"
#include "output/line_sink.h"

/// --sender: how many senders' unfinished lines are held at once (see DrainQueue).
constexpr int kHeldSenderCount = 16;
/// --sender: how many senders whose line was written out early (or cut) are remembered, so that
/// their continuation keeps the line's marker; past that, the one remembered longest is forgotten.
constexpr int kContinuedSenderCount = 1024;

/// An unfinished line put aside while another sender's chunks are taken in (--sender).
struct HeldLine {
    PlatAddress sender;
    int32_t length;             // bytes held; 0 when the slot is free
    bool continuing;            // bytes[0] is a continuation's marker (see LineAssembly)
    uint64_t putAside;          // when it was put aside: the smallest is the oldest
    char bytes[kQueueEntrySize];
};

/// The marker a sender's next bytes continue a line with (--sender).
struct ContinuedLine {
    PlatAddress sender;
    uint64_t since;  // when it was remembered (0: the entry is free); the smallest is the oldest
    char marker;
};

struct LineAssembly {
    char assemblyBuffer[kQueueEntrySize];  // an unfinished line at the front, then the next chunk
    int32_t assemblyLength;                // bytes of the unfinished line held at the front
    // The held line continues a line already written out (cut with a forced line feed): its
    // first byte is that line's marker, and while it is all that is held there is nothing to
    // write, and a line feed next ends nothing more.
    bool continuing;
    char lastMarker;                       // marker of the line handed over last
    char lineBuffer[kQueueEntrySize + 2];  // one complete line, a forced line feed and a NUL
    char recordBuffer[kQueueEntrySize + 2];  // one record of it, its line feed and a NUL
    char chunkBuffer[kQueueEntrySize];     // the chunk being taken in
    int32_t consoleSkip;                   // console skip of the next line handed over
    bool keepSendersApart;                 // --sender: one unfinished line per sender
    PlatAddress sender;                    // sender of the last chunk taken in
    char senderText[kPlatAddressTextSize]; // it as text ("192.0.2.7:5000"); empty when not known
    HeldLine heldAside[kHeldSenderCount];  // --sender: other senders' unfinished lines
    uint64_t putAsideCount;                // lines put aside (and continuations remembered) so far
    ContinuedLine continued[kContinuedSenderCount];  // --sender: lines written out early
    int32_t continuedCount;                // entries of `continued` in use
};

/// The console attribute a line's first byte selects: 0xE0..0xFF give 0x00..0x1F, the rest 7.
uint16_t MarkerToAttribute(unsigned char marker);

/// Pops the queued chunks and hands each complete line to `sink`, in stream order; bytes after
/// the last line feed are kept for the next chunk. A line's first byte is its marker; the rest,
/// up to its line feed, is cut at every run of NUL bytes into records of the line's colour (see
/// intake/record_pieces.h), each ending with a line feed.
/// A chunk that does not fit behind the held line is taken in as far as it fits, its lines cut,
/// and then the rest, so no line of up to 1024 bytes before its line feed is ever split; a longer
/// line is split with a forced line feed every 1024 bytes, and so is a line whose chunk the
/// receiver ended with a forced line feed: the continuation keeps the line's marker, so that it
/// starts with text in the line's colour (a line feed right at the cut ends the line there).
/// Every line carries the sender of its chunk (without --sender, datagrams of several senders
/// may share a line; it then carries the sender of the chunk that ends it).
/// With keepSendersApart (--sender), a chunk never continues another sender's line: the
/// unfinished line of the sender before is put aside, and one the new chunk's sender left is
/// taken up again. Up to kHeldSenderCount lines are put aside; when one more must be, the oldest
/// put aside is written out at once, ended with a line feed, and its sender's next bytes continue
/// it as a cut line's continuation does. Ends when the ring is empty, or after about
/// kDrainTimeSliceMs, so that a flood never keeps the main loop from the keyboard. True when it
/// stopped with chunks still queued (the main loop's next wait then returns at once).
bool DrainQueue(LineAssembly& assembly, const LineSink& sink);

/// How long one DrainQueue call may write before it hands control back to the main loop.
constexpr int kDrainTimeSliceMs = 50;

/// Writes out a held unfinished line as a line of its own, ending it with a line feed, and empties
/// the assembly buffer. Does nothing when no text is held.
void FlushHeldLine(LineAssembly& assembly, const LineSink& sink);

/// For the way out: writes out every unfinished line as FlushHeldLine does, those put aside first
/// (the oldest first), then the current one.
void FlushHeldLines(LineAssembly& assembly, const LineSink& sink);
