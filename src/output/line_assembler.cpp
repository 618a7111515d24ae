// The line assembler: chunks from the packet queue → complete lines → the writer.
#include "output/line_assembler.h"

#include <cstdio>
#include <cstring>

#include "output/console_text.h"
#include "output/debug_ui.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

constexpr unsigned char kLineFeed = '\n';

/// DrainQueue reads the clock for its time slice once per this many chunks.
constexpr int kChunksPerClockReading = 16;

// Hands the line in lineBuffer (its marker, then `length` bytes of text ending in a line feed) to
// the writer. A NUL byte ends the text, as ever, but the record still ends with a line feed, and
// so does the record of a line that was only a line feed.
void WriteOutLine(LineAssembly& assembly, CDebugUI& writer, int length, const LineMeta& meta) {
    char* text = assembly.lineBuffer + 1;
    size_t textLength = strnlen(text, static_cast<size_t>(length));
    if (textLength == 0 || text[textLength - 1] != static_cast<char>(kLineFeed)) {
        text[textLength] = static_cast<char>(kLineFeed);
        text[textLength + 1] = '\0';
    }
    uint16_t attribute = MarkerToAttribute(static_cast<unsigned char>(assembly.lineBuffer[0]));
    writer.LogLine(attribute, text, meta);
}

// As WriteOutLine, for a line of the chunk being taken in: it carries the chunk's sender.
void HandOverLine(LineAssembly& assembly, CDebugUI& writer, int length) {
    LineMeta meta;
    meta.sender = assembly.senderText[0] != '\0' ? assembly.senderText : nullptr;
    meta.consoleSkip = assembly.consoleSkip;  // the chunk's first line only
    assembly.consoleSkip = 0;
    WriteOutLine(assembly, writer, length, meta);
}

// Writes out a line put aside, ended with a line feed, and frees its slot.
void FlushHeldAside(LineAssembly& assembly, CDebugUI& writer, HeldLine& held) {
    memset(assembly.lineBuffer, 0, sizeof assembly.lineBuffer);
    memcpy(assembly.lineBuffer, held.bytes, static_cast<size_t>(held.length));
    assembly.lineBuffer[held.length] = static_cast<char>(kLineFeed);
    char sender[kPlatAddressTextSize];
    LineMeta meta;
    if (PlatFormatAddress(held.sender, sender) > 0) meta.sender = sender;
    WriteOutLine(assembly, writer, held.length, meta);
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

// Puts the current sender's unfinished line aside, in a free slot or, when all are taken, in the
// slot of the oldest line, which is written out first.
void PutHeldLineAside(LineAssembly& assembly, CDebugUI& writer) {
    HeldLine* slot = nullptr;
    for (HeldLine& held : assembly.heldAside) {
        if (held.length == 0) {
            slot = &held;
            break;
        }
    }
    if (slot == nullptr) {
        slot = OldestHeldAside(assembly);
        FlushHeldAside(assembly, writer, *slot);
    }
    slot->sender = assembly.sender;
    slot->length = assembly.assemblyLength;
    slot->putAside = ++assembly.putAsideCount;
    memcpy(slot->bytes, assembly.assemblyBuffer, static_cast<size_t>(assembly.assemblyLength));
    memset(assembly.assemblyBuffer, 0, sizeof assembly.assemblyBuffer);
    assembly.assemblyLength = 0;
}

// Takes up the unfinished line `sender` left, if one was put aside. Nothing is held now.
void TakeUpHeldLine(LineAssembly& assembly, const PlatAddress& sender) {
    for (HeldLine& held : assembly.heldAside) {
        if (held.length == 0 || !PlatSameAddress(held.sender, sender)) continue;
        memcpy(assembly.assemblyBuffer, held.bytes, static_cast<size_t>(held.length));
        assembly.assemblyLength = held.length;
        held.length = 0;
        return;
    }
}

// A chunk of `sender` is about to be taken in: its address is formatted once for all its lines
// and, with keepSendersApart, the unfinished line it continues becomes the held one.
void TakeSender(LineAssembly& assembly, CDebugUI& writer, const PlatAddress& sender) {
    if (PlatSameAddress(sender, assembly.sender)) return;
    if (assembly.keepSendersApart) {
        if (assembly.assemblyLength > 0) PutHeldLineAside(assembly, writer);
        TakeUpHeldLine(assembly, sender);
    }
    assembly.sender = sender;
    PlatFormatAddress(sender, assembly.senderText);
}

// Copies the line of `length` bytes at `start` (its line feed included) into lineBuffer and hands
// it to the writer without its marker byte.
void WriteLine(LineAssembly& assembly, CDebugUI& writer, const char* start, int length) {
    memcpy(assembly.lineBuffer, start, static_cast<size_t>(length));
    assembly.lineBuffer[length] = '\0';  // the text is handed on as a string
    HandOverLine(assembly, writer, length - 1);
}

// Shows bytes that hold no line feed yet, as text up to the first NUL byte; on a terminal their
// control bytes are shown escaped like those of any line.
void ReportMissingLineFeed(CDebugUI& writer, const char* bytes, int length) {
    size_t textLength = strnlen(bytes, static_cast<size_t>(length));
    if (!PlatConsoleIsTerminal()) {
        writer.Message(" case: could not find \" line feed: %.*s\" \n", static_cast<int>(textLength), bytes);
        return;
    }
    char shown[kEscapedBytesPerByte * kQueueEntrySize];
    size_t shownLength = EscapeForTerminal(bytes, textLength, shown);
    writer.Message(" case: could not find \" line feed: %.*s\" \n", static_cast<int>(shownLength), shown);
}

// Cuts the complete lines out of the assembly buffer, whose first `held` bytes were carried over
// from before (they hold no line feed) and whose next `length` bytes are new.
void CutLines(LineAssembly& assembly, CDebugUI& writer, int length) {
    char* buffer = assembly.assemblyBuffer;
    int end = assembly.assemblyLength + length;
    int lineStart = 0;
    const char* from = buffer + assembly.assemblyLength;
    while (const void* found = memchr(from, kLineFeed, static_cast<size_t>(buffer + end - from))) {
        int lineEnd = static_cast<int>(static_cast<const char*>(found) - buffer) + 1;
        WriteLine(assembly, writer, buffer + lineStart, lineEnd - lineStart);
        lineStart = lineEnd;
        from = buffer + lineEnd;
    }
    int rest = end - lineStart;
    if (lineStart == 0) {
        ReportMissingLineFeed(writer, buffer, end);
        assembly.assemblyLength = end;
        return;
    }
    // The buffer stays zero behind the held bytes: only the first `end` bytes were used.
    if (rest > 0) {
        writer.Message("case: newhead=%d, remainLen=%d\n", lineStart, rest);
        memmove(buffer, buffer + lineStart, static_cast<size_t>(rest));
    }
    memset(buffer + rest, 0, static_cast<size_t>(end - rest));
    assembly.assemblyLength = rest;
}

// The held line fills the assembly buffer. When `next` (the byte after it) is its line feed, the
// line is written out whole; otherwise it is longer than any line the buffer holds, and it is
// split with a forced line feed: its continuation keeps its marker, so that it starts with text
// and keeps its colour. True when `next` was the line feed and is used up.
bool EndFullLine(LineAssembly& assembly, CDebugUI& writer, char next) {
    char marker = assembly.assemblyBuffer[0];
    FlushHeldLine(assembly, writer);
    if (static_cast<unsigned char>(next) == kLineFeed) return true;
    assembly.assemblyBuffer[0] = marker;
    assembly.assemblyLength = 1;
    return false;
}

// Takes `length` new bytes behind the held line, as many at a time as fit, and writes out every
// line they complete; a line shorter than the buffer is never split.
void TakeBytes(LineAssembly& assembly, CDebugUI& writer, const char* bytes, int length) {
    while (length > 0) {
        if (assembly.assemblyLength == kQueueEntrySize && EndFullLine(assembly, writer, bytes[0])) {
            ++bytes;
            --length;
            continue;
        }
        int room = kQueueEntrySize - assembly.assemblyLength;
        int take = length < room ? length : room;
        memcpy(assembly.assemblyBuffer + assembly.assemblyLength, bytes, static_cast<size_t>(take));
        CutLines(assembly, writer, take);
        bytes += take;
        length -= take;
    }
}

}  // namespace

uint16_t MarkerToAttribute(unsigned char marker) {
    return marker >= 0xE0 ? static_cast<uint16_t>(marker - 0xE0) : kNormalAttribute;
}

void FlushHeldLine(LineAssembly& assembly, CDebugUI& writer) {
    int held = assembly.assemblyLength;
    if (held <= 0) return;
    memset(assembly.lineBuffer, 0, sizeof assembly.lineBuffer);
    memcpy(assembly.lineBuffer, assembly.assemblyBuffer, static_cast<size_t>(held));
    assembly.lineBuffer[held] = static_cast<char>(kLineFeed);
    HandOverLine(assembly, writer, held);
    memset(assembly.assemblyBuffer, 0, sizeof assembly.assemblyBuffer);
    assembly.assemblyLength = 0;
}

void FlushHeldLines(LineAssembly& assembly, CDebugUI& writer) {
    for (HeldLine* held = OldestHeldAside(assembly); held != nullptr; held = OldestHeldAside(assembly))
        FlushHeldAside(assembly, writer, *held);
    FlushHeldLine(assembly, writer);
}

bool DrainQueue(LineAssembly& assembly, CDebugUI& writer) {
    int64_t deadline = PlatMonotonicMilliseconds() + kDrainTimeSliceMs;
    for (int taken = 1;; ++taken) {
        // A chunk holds at most 1024 bytes, so the clock need not be read for every one.
        if (taken % kChunksPerClockReading == 0 && PlatMonotonicMilliseconds() > deadline)
            return NextPacketLength() >= 0;
        int length = 0;
        PlatAddress sender;
        if (!PopPacket(assembly.chunkBuffer, kQueueEntrySize, &length, &assembly.consoleSkip,
                       &sender)) {
            if (length > 0) continue;  // an entry larger than an entry: cannot happen
            return false;
        }
        TakeSender(assembly, writer, sender);
        TakeBytes(assembly, writer, assembly.chunkBuffer, length);
    }
}
