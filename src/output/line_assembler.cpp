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

// Copies the line of `length` bytes at `start` (its line feed included) into lineBuffer and hands
// it to the writer without its marker byte.
void WriteLine(LineAssembly& assembly, CDebugUI& writer, const char* start, int length) {
    memset(assembly.lineBuffer, 0, sizeof assembly.lineBuffer);
    memcpy(assembly.lineBuffer, start, static_cast<size_t>(length));
    uint16_t attribute = MarkerToAttribute(static_cast<unsigned char>(assembly.lineBuffer[0]));
    writer.LogLine(attribute, assembly.lineBuffer + 1);
}

// Shows bytes that hold no line feed yet, as text up to the first NUL byte; on a terminal their
// control bytes are shown escaped like those of any line.
void ReportMissingLineFeed(CDebugUI& writer, const char* bytes, int length) {
    size_t textLength = strnlen(bytes, static_cast<size_t>(length));
    if (!PlatConsoleIsTerminal()) {
        writer.Message(" case: could not find \" line feed: %.*s\" \n", static_cast<int>(textLength), bytes);
        return;
    }
    char shown[2 * kQueueEntrySize];
    size_t shownLength = EscapeForTerminal(bytes, textLength, shown);
    writer.Message(" case: could not find \" line feed: %.*s\" \n", static_cast<int>(shownLength), shown);
}

// Cuts the complete lines out of the assembly buffer, whose first `held` bytes were carried over
// from before (they hold no line feed) and whose next `length` bytes are new.
void CutLines(LineAssembly& assembly, CDebugUI& writer, int length) {
    char* buffer = assembly.assemblyBuffer;
    int end = assembly.assemblyLength + length;
    int lineStart = 0;
    int rest = end;
    for (int i = assembly.assemblyLength; i < end; ++i) {
        if (static_cast<unsigned char>(buffer[i]) != kLineFeed) continue;
        WriteLine(assembly, writer, buffer + lineStart, i - lineStart + 1);
        lineStart = i + 1;
        rest = end - (i + 1);
    }
    if (lineStart == 0) {
        ReportMissingLineFeed(writer, buffer, end);
        assembly.assemblyLength = end;
    } else if (rest > 0) {
        writer.Message("case: newhead=%d, remainLen=%d\n", lineStart, rest);
        memcpy(assembly.lineBuffer, buffer + lineStart, static_cast<size_t>(rest));
        memset(buffer, 0, sizeof assembly.assemblyBuffer);
        memcpy(buffer, assembly.lineBuffer, static_cast<size_t>(rest));
        assembly.assemblyLength = rest;
    } else {
        memset(buffer, 0, sizeof assembly.assemblyBuffer);
        assembly.assemblyLength = 0;
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
    uint16_t attribute = MarkerToAttribute(static_cast<unsigned char>(assembly.lineBuffer[0]));
    writer.LogLine(attribute, assembly.lineBuffer + 1);
    memset(assembly.assemblyBuffer, 0, sizeof assembly.assemblyBuffer);
    assembly.assemblyLength = 0;
}

bool DrainQueue(LineAssembly& assembly, CDebugUI& writer) {
    int64_t deadline = PlatMonotonicMilliseconds() + kDrainTimeSliceMs;
    for (;;) {
        if (PlatMonotonicMilliseconds() > deadline) return NextPacketLength() >= 0;
        // An entry that does not fit behind the unfinished line ends that line first, so that
        // nothing is written past the buffer and no received byte is lost.
        int next = NextPacketLength();
        if (next > kQueueEntrySize - assembly.assemblyLength) FlushHeldLine(assembly, writer);
        int length = 0;
        int room = kQueueEntrySize - assembly.assemblyLength;
        if (!PopPacket(assembly.assemblyBuffer + assembly.assemblyLength, room, &length)) {
            if (length > room) continue;  // cannot happen after the flush above; checked anyway
            return false;
        }
        CutLines(assembly, writer, length);
    }
}
