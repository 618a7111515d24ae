// The main thread's consumer step: pops queued chunks, cuts them into lines at line feeds,
// decodes each line's colour marker and hands the line to the writer.
#pragma once

#include <cstdint>

#include "intake/packet_queue.h"

class CDebugUI;

struct LineAssembly {
    char assemblyBuffer[kQueueEntrySize];  // an unfinished line at the front, then the next chunk
    int32_t assemblyLength;                // bytes of the unfinished line held at the front
    char lineBuffer[kQueueEntrySize + 2];  // one complete line, a forced line feed and a NUL
    char chunkBuffer[kQueueEntrySize];     // the chunk being taken in
    int32_t consoleSkip;                   // console skip of the next line handed over
};

/// The console attribute a line's first byte selects: 0xE0..0xFF give 0x00..0x1F, the rest 7.
uint16_t MarkerToAttribute(unsigned char marker);

/// Pops the queued chunks and writes out each complete line, in stream order; bytes after the
/// last line feed are kept for the next chunk. A chunk that does not fit behind the held line is
/// taken in as far as it fits, its lines cut, and then the rest, so no line of up to 1024 bytes
/// before its line feed is ever split; a longer line is split with a forced line feed every 1024
/// bytes, each continuation starting with text in the line's colour. Ends when the ring is empty, or after about
/// kDrainTimeSliceMs, so that a flood never keeps the main loop from the keyboard. True when it
/// stopped with chunks still queued (the main loop's next wait then returns at once).
bool DrainQueue(LineAssembly& assembly, CDebugUI& writer);

/// How long one DrainQueue call may write before it hands control back to the main loop.
constexpr int kDrainTimeSliceMs = 50;

/// Writes out a held unfinished line as a line of its own, ending it with a line feed, and empties
/// the assembly buffer. Does nothing when no bytes are held.
void FlushHeldLine(LineAssembly& assembly, CDebugUI& writer);
