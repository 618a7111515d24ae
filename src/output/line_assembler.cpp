// The line assembler: chunks from the packet queue → complete lines → records → the sink.
#include "output/line_assembler.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "intake/record_pieces.h"
#include "output/console_text.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

constexpr unsigned char kLineFeed = '\n';

/// DrainQueue reads the clock for its time slice once per this many chunks.
constexpr int kChunksPerClockReading = 16;

// The line whose records are being handed to the sink.
struct LineRecords {
    LineAssembly* assembly;
    const LineSink* sink;
    uint16_t attribute;
    LineMeta meta;  // its console skip is for the first record only
};

// Hands one record (text without its line feed) to the sink, ended with a line feed.
void HandOverRecord(const char* text, int length, void* context) {
    LineRecords& line = *static_cast<LineRecords*>(context);
    char* record = line.assembly->recordBuffer;
    memcpy(record, text, static_cast<size_t>(length));
    record[length] = static_cast<char>(kLineFeed);
    record[length + 1] = '\0';
    line.sink->record(line.sink->context, line.attribute, record, static_cast<size_t>(length) + 1,
                      line.meta);
    line.meta.consoleSkip = 0;
}

// Hands the line in lineBuffer (its marker, then `length` bytes of text ending in a line feed) to
// the sink as its records: the text is cut at its runs of NUL bytes, and a line without text
// still gives one record.
void WriteOutLine(LineAssembly& assembly, const LineSink& sink, int length, const LineMeta& meta) {
    assembly.lastMarker = assembly.lineBuffer[0];
    LineRecords line = {&assembly, &sink,
                        MarkerToAttribute(static_cast<unsigned char>(assembly.lineBuffer[0])), meta};
    CutAtNulRuns(assembly.lineBuffer + 1, length > 0 ? length - 1 : 0, HandOverRecord, &line);
}

// As WriteOutLine, for a line of the chunk being taken in: it carries the chunk's sender.
void HandOverLine(LineAssembly& assembly, const LineSink& sink, int length) {
    LineMeta meta;
    meta.sender = assembly.senderText[0] != '\0' ? assembly.senderText : nullptr;
    meta.consoleSkip = assembly.consoleSkip;  // the chunk's first line only
    assembly.consoleSkip = 0;
    WriteOutLine(assembly, sink, length, meta);
}

void Message(const LineSink& sink, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A diagnostic for the console, formatted as by printf.
void Message(const LineSink& sink, const char* format, ...) {
    char text[kEscapedBytesPerByte * kQueueEntrySize + 64];  // an escaped chunk and the words around it
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    size_t shown = static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1;
    sink.message(sink.context, text, shown);
}

// Empties the assembly buffer: nothing held.
void ClearHeld(LineAssembly& assembly) {
    memset(assembly.assemblyBuffer, 0, static_cast<size_t>(assembly.assemblyLength));
    assembly.assemblyLength = 0;
    assembly.continuing = false;
}

// The held line goes on as the continuation of a line just written out with `marker`.
void StartContinuation(LineAssembly& assembly, char marker) {
    assert(assembly.assemblyLength == 0);
    assembly.assemblyBuffer[0] = marker;
    assembly.assemblyLength = 1;
    assembly.continuing = true;
}

// Writes out a line put aside, ended with a line feed (unless it holds no text), and frees its slot.
void FlushHeldAside(LineAssembly& assembly, const LineSink& sink, HeldLine& held) {
    if (!(held.continuing && held.length == 1)) {
        memset(assembly.lineBuffer, 0, sizeof assembly.lineBuffer);
        memcpy(assembly.lineBuffer, held.bytes, static_cast<size_t>(held.length));
        assembly.lineBuffer[held.length] = static_cast<char>(kLineFeed);
        char sender[kPlatAddressTextSize];
        LineMeta meta;
        if (PlatFormatAddress(held.sender, sender) > 0) meta.sender = sender;
        WriteOutLine(assembly, sink, held.length, meta);
    }
    held.length = 0;
}

// The line put aside longest ago, or nullptr when none is.
HeldLine* OldestHeldAside(LineAssembly& assembly) {
    HeldLine* oldest = nullptr;
    for (HeldLine& held : assembly.heldAside) {
        if (held.length > 0 && (oldest == nullptr || held.putAside < oldest->putAside)) oldest = &held;
    }
    return oldest;
}

// Remembers that `sender`'s next bytes continue a line with `marker`, in a free entry or in the
// one remembered longest ago.
void RememberContinuation(LineAssembly& assembly, const PlatAddress& sender, char marker) {
    ContinuedLine* entry = &assembly.continued[0];
    for (ContinuedLine& candidate : assembly.continued) {
        if (candidate.since == 0) {
            entry = &candidate;
            ++assembly.continuedCount;
            break;
        }
        if (candidate.since < entry->since) entry = &candidate;
    }
    entry->sender = sender;
    entry->marker = marker;
    entry->since = ++assembly.putAsideCount;
}

// Puts the current sender's unfinished line aside, in a free slot or, when all are taken, in the
// slot of the oldest line, which is written out first (its sender's next bytes continue it).
void PutHeldLineAside(LineAssembly& assembly, const LineSink& sink) {
    HeldLine* slot = nullptr;
    for (HeldLine& held : assembly.heldAside) {
        if (held.length == 0) {
            slot = &held;
            break;
        }
    }
    if (slot == nullptr) {
        slot = OldestHeldAside(assembly);
        RememberContinuation(assembly, slot->sender, slot->bytes[0]);
        FlushHeldAside(assembly, sink, *slot);
    }
    slot->sender = assembly.sender;
    slot->length = assembly.assemblyLength;
    slot->continuing = assembly.continuing;
    slot->putAside = ++assembly.putAsideCount;
    memcpy(slot->bytes, assembly.assemblyBuffer, static_cast<size_t>(assembly.assemblyLength));
    ClearHeld(assembly);
}

// Takes up the unfinished line `sender` left, or the continuation of its line written out early,
// if there is one. Nothing is held now.
void TakeUpHeldLine(LineAssembly& assembly, const PlatAddress& sender) {
    for (HeldLine& held : assembly.heldAside) {
        if (held.length == 0 || !PlatSameAddress(held.sender, sender)) continue;
        memcpy(assembly.assemblyBuffer, held.bytes, static_cast<size_t>(held.length));
        assembly.assemblyLength = held.length;
        assembly.continuing = held.continuing;
        held.length = 0;
        return;
    }
    if (assembly.continuedCount == 0) return;
    for (ContinuedLine& entry : assembly.continued) {
        if (entry.since == 0 || !PlatSameAddress(entry.sender, sender)) continue;
        StartContinuation(assembly, entry.marker);
        entry.since = 0;
        --assembly.continuedCount;
        return;
    }
}

// A chunk of `sender` is about to be taken in: its address is formatted once for all its lines
// and, with keepSendersApart, the unfinished line it continues becomes the held one.
void TakeSender(LineAssembly& assembly, const LineSink& sink, const PlatAddress& sender) {
    if (PlatSameAddress(sender, assembly.sender)) return;
    if (assembly.keepSendersApart) {
        if (assembly.assemblyLength > 0) PutHeldLineAside(assembly, sink);
        TakeUpHeldLine(assembly, sender);
    }
    assembly.sender = sender;
    PlatFormatAddress(sender, assembly.senderText);
}

// Copies the line of `length` bytes at `start` (its line feed included) into lineBuffer and hands
// it to the sink without its marker byte.
void WriteLine(LineAssembly& assembly, const LineSink& sink, const char* start, int length) {
    memcpy(assembly.lineBuffer, start, static_cast<size_t>(length));
    assembly.lineBuffer[length] = '\0';
    HandOverLine(assembly, sink, length - 1);
}

// Shows bytes that hold no line feed yet, as text up to the first NUL byte; on a terminal their
// control bytes are shown escaped like those of any line.
void ReportMissingLineFeed(const LineSink& sink, const char* bytes, int length) {
    size_t textLength = strnlen(bytes, static_cast<size_t>(length));
    if (!PlatConsoleIsTerminal()) {
        Message(sink, " case: could not find \" line feed: %.*s\" \n", static_cast<int>(textLength), bytes);
        return;
    }
    char shown[kEscapedBytesPerByte * kQueueEntrySize];
    size_t shownLength = EscapeForTerminal(bytes, textLength, shown);
    Message(sink, " case: could not find \" line feed: %.*s\" \n", static_cast<int>(shownLength), shown);
}

// Cuts the complete lines out of the assembly buffer, whose first `held` bytes were carried over
// from before (they hold no line feed) and whose next `length` bytes are new.
void CutLines(LineAssembly& assembly, const LineSink& sink, int length) {
    char* buffer = assembly.assemblyBuffer;
    int end = assembly.assemblyLength + length;
    int lineStart = 0;
    const char* from = buffer + assembly.assemblyLength;
    while (const void* found = memchr(from, kLineFeed, static_cast<size_t>(buffer + end - from))) {
        int lineEnd = static_cast<int>(static_cast<const char*>(found) - buffer) + 1;
        WriteLine(assembly, sink, buffer + lineStart, lineEnd - lineStart);
        lineStart = lineEnd;
        from = buffer + lineEnd;
    }
    int rest = end - lineStart;
    if (lineStart == 0) {
        ReportMissingLineFeed(sink, buffer, end);
        assembly.assemblyLength = end;
        return;
    }
    // The buffer stays zero behind the held bytes: only the first `end` bytes were used.
    if (rest > 0) {
        Message(sink, "case: newhead=%d, remainLen=%d\n", lineStart, rest);
        memmove(buffer, buffer + lineStart, static_cast<size_t>(rest));
    }
    memset(buffer + rest, 0, static_cast<size_t>(end - rest));
    assembly.assemblyLength = rest;
    assembly.continuing = false;
}

// The held line fills the assembly buffer. When `next` (the byte after it) is its line feed, the
// line is written out whole; otherwise it is longer than any line the buffer holds, and it is
// split with a forced line feed: its continuation keeps its marker, so that it starts with text
// and keeps its colour. True when `next` was the line feed and is used up.
bool EndFullLine(LineAssembly& assembly, const LineSink& sink, char next) {
    char marker = assembly.assemblyBuffer[0];
    FlushHeldLine(assembly, sink);
    if (static_cast<unsigned char>(next) == kLineFeed) return true;
    StartContinuation(assembly, marker);
    return false;
}

// Takes `length` new bytes behind the held line, as many at a time as fit, and writes out every
// line they complete; a line shorter than the buffer is never split.
void TakeBytes(LineAssembly& assembly, const LineSink& sink, const char* bytes, int length) {
    while (length > 0) {
        bool bareContinuation = assembly.continuing && assembly.assemblyLength == 1;
        if ((bareContinuation && static_cast<unsigned char>(bytes[0]) == kLineFeed) ||
            (assembly.assemblyLength == kQueueEntrySize && EndFullLine(assembly, sink, bytes[0]))) {
            if (bareContinuation) ClearHeld(assembly);  // the line ended right at its cut
            ++bytes;
            --length;
            continue;
        }
        int room = kQueueEntrySize - assembly.assemblyLength;
        int take = length < room ? length : room;
        memcpy(assembly.assemblyBuffer + assembly.assemblyLength, bytes, static_cast<size_t>(take));
        CutLines(assembly, sink, take);
        bytes += take;
        length -= take;
    }
}

}  // namespace

uint16_t MarkerToAttribute(unsigned char marker) {
    return marker >= 0xE0 ? static_cast<uint16_t>(marker - 0xE0) : kNormalAttribute;
}

void FlushHeldLine(LineAssembly& assembly, const LineSink& sink) {
    int held = assembly.assemblyLength;
    if (held <= 0) return;
    if (!(assembly.continuing && held == 1)) {
        memset(assembly.lineBuffer, 0, sizeof assembly.lineBuffer);
        memcpy(assembly.lineBuffer, assembly.assemblyBuffer, static_cast<size_t>(held));
        assembly.lineBuffer[held] = static_cast<char>(kLineFeed);
        HandOverLine(assembly, sink, held);
    }
    ClearHeld(assembly);
}

void FlushHeldLines(LineAssembly& assembly, const LineSink& sink) {
    for (HeldLine* held = OldestHeldAside(assembly); held != nullptr; held = OldestHeldAside(assembly))
        FlushHeldAside(assembly, sink, *held);
    FlushHeldLine(assembly, sink);
}

bool DrainQueue(LineAssembly& assembly, const LineSink& sink) {
    int64_t deadline = PlatMonotonicMilliseconds() + kDrainTimeSliceMs;
    for (int taken = 1;; ++taken) {
        // A chunk holds at most 1024 bytes, so the clock need not be read for every one.
        if (taken % kChunksPerClockReading == 0 && PlatMonotonicMilliseconds() > deadline)
            return NextPacketLength() >= 0;
        int length = 0;
        PlatAddress sender;
        bool continues = false;
        if (!PopPacket(assembly.chunkBuffer, kQueueEntrySize, &length, &assembly.consoleSkip,
                       &sender, &continues)) {
            assert(length == 0 && "no entry is larger than the room for one");
            return false;
        }
        TakeSender(assembly, sink, sender);
        TakeBytes(assembly, sink, assembly.chunkBuffer, length);
        // The chunk ended in the receiver's forced line feed: its sender's next bytes go on
        // with the line's marker.
        if (continues && assembly.assemblyLength == 0) StartContinuation(assembly, assembly.lastMarker);
    }
}
