// The console as a sink of records: non-blocking writes, pause with what it holds, lag skip and
// their counts, highlights, and the filter prompt kept below what is written.
#include "output/console_sink.h"

#include <cstdio>
#include <cstring>

#include "intake/syslog_header.h"
#include "output/console_text.h"
#include "output/line_filter.h"
#include "output/pause_buffer.h"
#include "output/prompt_line.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/thread.h"

namespace {

const char kPauseNotice[] = "-- paused: the log file keeps every line; space resumes --\n";

// How often the way out offers a lagging console the rest of what a pause held.
constexpr int kHeldLinesRetryMs = 10;

// Console writes that leave the live filter's prompt, when it is open, below what they write.
bool TryWriteRecordBelowPrompt(uint16_t attribute, const char* data, size_t length) {
    bool prompt = ErasePromptLine();
    bool written = PlatConsoleTryWrite(attribute, data, length);
    if (prompt) RedrawPromptLine();
    return written;
}

bool TryWriteTextBelowPrompt(const char* data, size_t length) {
    bool prompt = ErasePromptLine();
    bool written = PlatConsoleTryWriteText(data, length);
    if (prompt) RedrawPromptLine();
    return written;
}

// Shows what the pause held, as much as the console takes now, then how many lines did not fit.
void ShowHeldLines(ConsoleSink& console) {
    uint16_t attribute;
    const char* record;
    size_t length;
    while (PauseBufferPeek(&attribute, &record, &length)) {
        if (!TryWriteRecordBelowPrompt(attribute, record, length)) return;
        PauseBufferPop();
    }
    uint32_t overflow = PauseBufferOverflow();
    if (overflow > 0) {
        char notice[96];
        int noticeLength = snprintf(notice, sizeof notice,
                                    "WARNING, %u lines not shown here (paused too long); the log "
                                    "file has them all\n", overflow);
        if (!TryWriteRecordBelowPrompt(kNormalAttribute, notice, static_cast<size_t>(noticeLength)))
            return;
        PauseBufferForgetOverflow();
    }
    console.heldLinesOwed = false;
}

// What is left of the way out's time for a lagging console.
int CatchUpTimeLeft(const ConsoleSink& console) {
    int64_t left = console.catchUpEnd - PlatMonotonicMilliseconds();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

void StartConsoleSink(ConsoleSink& console) { console.isTerminal = PlatConsoleIsTerminal(); }

bool ShowRecord(ConsoleSink& console, uint16_t attribute, const char* record, size_t prefixLength,
                size_t length, size_t consoleSkip) {
    // A console that lags (a slow terminal, a pipe nobody reads) must not hold up the log: what
    // it cannot take now is skipped on screen and counted; the log file keeps every line. While
    // the user has the console paused, and until what the pause held is shown, records are held.
    if (console.linesNotShown > 0 || console.pauseNoticeOwed || console.heldLinesOwed)
        ShowLinesNotShown(console);
    bool holding = console.paused || console.heldLinesOwed;
    bool shown = console.linesNotShown == 0 || holding;
    const char* text = record + prefixLength;
    size_t textLength = length - prefixLength;
    const char* shownRecord = record;
    size_t shownLength = length;
    // The console leaves out the bytes the log file alone keeps (a syslog <PRI>).
    if (shown && console.isTerminal) {
        memcpy(console.record, record, prefixLength);
        shownLength = prefixLength + EscapeForTerminal(text + consoleSkip, textLength - consoleSkip,
                                                       console.record + prefixLength);
        shownRecord = console.record;
    } else if (shown && consoleSkip > 0) {
        memcpy(console.record, record, prefixLength);
        memcpy(console.record + prefixLength, text + consoleSkip, textLength - consoleSkip);
        shownLength = length - consoleSkip;
        shownRecord = console.record;
    }
    if (shown && HighlightWanted() && PlatConsoleInBandAttributes())
        shownRecord = HighlightRecord(shownRecord, shownLength, prefixLength, &shownLength);
    if (shown && holding) {
        shown = PauseBufferKeep(attribute, shownRecord, shownLength);
        if (!shown) ++runStatistics.notShown;  // beyond what a pause holds; told on resuming
        return shown;
    }
    if (shown) shown = TryWriteRecordBelowPrompt(attribute, shownRecord, shownLength);
    if (!shown && prefixLength > 0) {  // a line's later pieces have no prefix
        ++console.linesNotShown;
        ++runStatistics.notShown;
    }
    return shown;
}

namespace {

// Records of a batch on their way to the console, and the batch's entry of each.
struct ConsoleRun {
    PlatConsoleRecord records[kBatchEntries];
    const BatchEntry* entries[kBatchEntries];
    int count;
    size_t consoleUsed;  // bytes of the batch's console copy in use
};

// Counts an entry the console did not take.
void CountNotShown(ConsoleSink& console, const BatchEntry& entry) {
    if (entry.kind == BatchEntryKind::Message) {
        ++runStatistics.messagesNotShown;
    } else if (entry.prefixLength > 0) {  // a line's later pieces have no prefix
        ++console.linesNotShown;
        ++runStatistics.notShown;
    }
}

// Writes the records gathered so far, below the filter prompt; those the console did not take
// are counted.
void WriteRun(ConsoleSink& console, ConsoleRun& run) {
    int taken = 0;
    if (run.count > 0) {
        bool prompt = ErasePromptLine();
        taken = PlatConsoleTryWriteRecords(run.records, run.count);
        if (prompt) RedrawPromptLine();
    }
    for (int r = taken; r < run.count; ++r) CountNotShown(console, *run.entries[r]);
    run.count = 0;
    run.consoleUsed = 0;
}

// Room in the batch's console copy for `length` bytes, writing what is gathered first if need be.
char* ConsoleRoom(ConsoleSink& console, RecordBatch& batch, ConsoleRun& run, size_t length) {
    if (length > kBatchConsoleBytes - run.consoleUsed) WriteRun(console, run);
    return batch.consoleBytes + run.consoleUsed;
}

// The record as the console gets it: the file's bytes, or a copy without the bytes the console
// leaves out, on a terminal with control bytes escaped, and with its highlights.
PlatConsoleRecord ConsoleCopy(ConsoleSink& console, RecordBatch& batch, ConsoleRun& run,
                              const BatchEntry& entry) {
    const char* record = batch.fileBytes + entry.offset;
    PlatConsoleRecord shown = {record, entry.length, entry.attribute, false};
    if (console.isTerminal || entry.consoleSkip > 0) {
        size_t textLength = entry.length - entry.prefixLength - entry.consoleSkip;
        const char* text = record + entry.prefixLength + entry.consoleSkip;
        if (entry.consoleSkip > 0) {  // a syslog message (it has a <PRI>): its header in short
            static char syslogText[kTextPieceSize + 8];
            textLength = static_cast<size_t>(FormatSyslogConsoleLine(
                record + entry.prefixLength, static_cast<int>(entry.length - entry.prefixLength), syslogText));
            text = syslogText;
        }
        size_t room = entry.prefixLength + (console.isTerminal ? kEscapedBytesPerByte : 1) * textLength;
        char* copy = ConsoleRoom(console, batch, run, room);
        memcpy(copy, record, entry.prefixLength);
        size_t length = entry.prefixLength;
        if (console.isTerminal) {
            length += EscapeForTerminal(text, textLength, copy + length);
        } else {
            memcpy(copy + length, text, textLength);
            length += textLength;
        }
        run.consoleUsed += length;
        shown.data = copy;
        shown.length = static_cast<uint32_t>(length);
    }
    if (HighlightWanted() && PlatConsoleInBandAttributes()) {
        size_t length = 0;
        const char* marked = HighlightRecord(shown.data, shown.length, entry.prefixLength, &length);
        if (marked != shown.data) {
            char* copy = ConsoleRoom(console, batch, run, length);
            memcpy(copy, marked, length);
            run.consoleUsed += length;
            shown.data = copy;
            shown.length = static_cast<uint32_t>(length);
        }
    }
    return shown;
}

}  // namespace

void ShowBatch(ConsoleSink& console, RecordBatch& batch) {
    if (console.linesNotShown > 0 || console.pauseNoticeOwed || console.heldLinesOwed)
        ShowLinesNotShown(console);
    static ConsoleRun run;
    run.count = 0;
    run.consoleUsed = 0;
    for (int e = 0; e < batch.entryCount; ++e) {
        const BatchEntry& entry = batch.entries[e];
        if (entry.kind != BatchEntryKind::Message && !entry.consoleWanted) continue;  // filtered
        // While the user has the console paused, and until what the pause held is shown, records
        // are held. A console that lags must not hold up the log: what it cannot take now is
        // skipped on screen and counted; the log file keeps every line.
        bool holding = entry.kind != BatchEntryKind::Message && (console.paused || console.heldLinesOwed);
        if (console.linesNotShown > 0 && !holding) {
            CountNotShown(console, entry);
            continue;
        }
        PlatConsoleRecord shown = {EntryBytes(batch, entry), entry.length, kNormalAttribute, true};
        if (entry.kind != BatchEntryKind::Message) shown = ConsoleCopy(console, batch, run, entry);
        if (holding) {
            // Beyond what a pause holds: told on resuming.
            if (!PauseBufferKeep(shown.attribute, shown.data, shown.length)) ++runStatistics.notShown;
            continue;
        }
        run.records[run.count] = shown;
        run.entries[run.count++] = &entry;
    }
    WriteRun(console, run);
}

void ShowConsoleMessage(ConsoleSink& console, const char* text, size_t length) {
    if (console.linesNotShown > 0) ShowLinesNotShown(console);
    if (console.linesNotShown > 0 || !TryWriteTextBelowPrompt(text, length))
        ++runStatistics.messagesNotShown;
}

void ShowLinesNotShown(ConsoleSink& console) {
    if (console.pauseNoticeOwed)
        console.pauseNoticeOwed =
            !TryWriteRecordBelowPrompt(kNormalAttribute, kPauseNotice, sizeof kPauseNotice - 1);
    if (console.paused) return;
    if (console.linesNotShown > 0) {
        char notice[96];
        int length = snprintf(notice, sizeof notice,
                              "WARNING, %u lines not shown here (the console lagged); the log file "
                              "has them all\n", console.linesNotShown);
        if (!TryWriteRecordBelowPrompt(kNormalAttribute, notice, static_cast<size_t>(length))) return;
        console.linesNotShown = 0;
    }
    if (console.heldLinesOwed) ShowHeldLines(console);
}

void ToggleConsolePause(ConsoleSink& console) {
    console.paused = !console.paused;
    console.pauseNoticeOwed = console.paused;
    if (console.paused) {
        PauseBufferReserve();  // once; without room every held line is counted instead
    } else {
        console.heldLinesOwed = true;
    }
    ShowLinesNotShown(console);
}

void CatchUpConsole(ConsoleSink& console, int timeoutMs) {
    if (console.paused) console.heldLinesOwed = true;
    console.paused = false;
    console.pauseNoticeOwed = false;
    HidePromptLine();
    // The way out asks more than once; a console that lags gets the time once, in all. What the
    // pause held may be more than the console takes at once.
    if (console.catchUpEnd < 0) console.catchUpEnd = PlatMonotonicMilliseconds() + timeoutMs;
    for (;;) {
        PlatConsoleFinish(CatchUpTimeLeft(console));
        ShowLinesNotShown(console);
        if (!console.heldLinesOwed || CatchUpTimeLeft(console) == 0) break;
        PlatSleepMs(kHeldLinesRetryMs);
    }
    PlatConsoleFinish(CatchUpTimeLeft(console));
}
