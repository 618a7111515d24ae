// The console as a sink of records: non-blocking writes, pause, lag skip and their counts.
#include "output/console_sink.h"

#include <cstdio>
#include <cstring>

#include "output/console_text.h"
#include "output/run_statistics.h"
#include "platform/console.h"

namespace {

const char kPauseNotice[] = "-- paused: the log file keeps every line; space resumes --\n";

}  // namespace

void StartConsoleSink(ConsoleSink& console) { console.isTerminal = PlatConsoleIsTerminal(); }

bool ShowRecord(ConsoleSink& console, uint16_t attribute, const char* record, size_t prefixLength,
                size_t length, size_t consoleSkip) {
    // A console that lags (a slow terminal, a pipe nobody reads) or that the user paused must not
    // hold up the log: what it cannot take now is skipped on screen and counted; the log file
    // keeps every line.
    if (console.linesNotShown > 0 || console.pauseNoticeOwed) ShowLinesNotShown(console);
    bool shown = console.linesNotShown == 0 && !console.paused;
    const char* text = record + prefixLength;
    size_t textLength = length - prefixLength;
    // The console leaves out the bytes the log file alone keeps (a syslog <PRI>).
    if (shown && console.isTerminal) {
        memcpy(console.record, record, prefixLength);
        size_t shownLength = prefixLength + EscapeForTerminal(text + consoleSkip, textLength - consoleSkip,
                                                              console.record + prefixLength);
        shown = PlatConsoleTryWrite(attribute, console.record, shownLength);
    } else if (shown && consoleSkip > 0) {
        memcpy(console.record, record, prefixLength);
        memcpy(console.record + prefixLength, text + consoleSkip, textLength - consoleSkip);
        shown = PlatConsoleTryWrite(attribute, console.record, length - consoleSkip);
    } else if (shown) {
        shown = PlatConsoleTryWrite(attribute, record, length);
    }
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

// Writes the records gathered so far; those the console did not take are counted.
void WriteRun(ConsoleSink& console, ConsoleRun& run) {
    int taken = run.count > 0 ? PlatConsoleTryWriteRecords(run.records, run.count) : 0;
    for (int r = taken; r < run.count; ++r) CountNotShown(console, *run.entries[r]);
    run.count = 0;
    run.consoleUsed = 0;
}

// The record as the console gets it: the file's bytes, or a copy without the bytes the console
// leaves out and, on a terminal, with control bytes escaped. Writes what is gathered first when
// the copy would not fit.
PlatConsoleRecord ConsoleCopy(ConsoleSink& console, RecordBatch& batch, ConsoleRun& run,
                              const BatchEntry& entry) {
    const char* record = batch.fileBytes + entry.offset;
    PlatConsoleRecord shown = {record, entry.length, entry.attribute, false};
    if (!console.isTerminal && entry.consoleSkip == 0) return shown;
    size_t textLength = entry.length - entry.prefixLength - entry.consoleSkip;
    size_t room = entry.prefixLength + (console.isTerminal ? kEscapedBytesPerByte : 1) * textLength;
    if (room > kBatchConsoleBytes - run.consoleUsed) WriteRun(console, run);
    char* copy = batch.consoleBytes + run.consoleUsed;
    const char* text = record + entry.prefixLength + entry.consoleSkip;
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
    return shown;
}

}  // namespace

void ShowBatch(ConsoleSink& console, RecordBatch& batch) {
    if (console.linesNotShown > 0 || console.pauseNoticeOwed) ShowLinesNotShown(console);
    static ConsoleRun run;
    run.count = 0;
    run.consoleUsed = 0;
    for (int e = 0; e < batch.entryCount; ++e) {
        const BatchEntry& entry = batch.entries[e];
        bool isMessage = entry.kind == BatchEntryKind::Message;
        // A console that lags or that the user paused must not hold up the log: what it cannot
        // take now is skipped on screen and counted; the log file keeps every line.
        if (console.linesNotShown > 0 || (console.paused && !isMessage)) {
            CountNotShown(console, entry);
            continue;
        }
        PlatConsoleRecord shown = {EntryBytes(batch, entry), entry.length, kNormalAttribute, true};
        if (!isMessage) shown = ConsoleCopy(console, batch, run, entry);
        run.records[run.count] = shown;
        run.entries[run.count++] = &entry;
    }
    WriteRun(console, run);
}

void ShowConsoleMessage(ConsoleSink& console, const char* text, size_t length) {
    if (console.linesNotShown > 0) ShowLinesNotShown(console);
    if (console.linesNotShown > 0 || !PlatConsoleTryWriteText(text, length))
        ++runStatistics.messagesNotShown;
}

void ShowLinesNotShown(ConsoleSink& console) {
    if (console.pauseNoticeOwed)
        console.pauseNoticeOwed =
            !PlatConsoleTryWrite(kNormalAttribute, kPauseNotice, sizeof kPauseNotice - 1);
    if (console.linesNotShown == 0 || console.paused) return;
    char notice[96];
    int length = snprintf(notice, sizeof notice,
                          "WARNING, %u lines not shown here (the console lagged); the log file has "
                          "them all\n", console.linesNotShown);
    if (PlatConsoleTryWrite(kNormalAttribute, notice, static_cast<size_t>(length)))
        console.linesNotShown = 0;
}

void ToggleConsolePause(ConsoleSink& console) {
    console.paused = !console.paused;
    console.pauseNoticeOwed = console.paused;
    ShowLinesNotShown(console);
}

void CatchUpConsole(ConsoleSink& console, int timeoutMs) {
    console.paused = false;
    console.pauseNoticeOwed = false;
    if (console.stalled) timeoutMs = 0;
    console.stalled = !PlatConsoleFinish(timeoutMs);
    uint32_t owed = console.linesNotShown;
    ShowLinesNotShown(console);
    // The notice, when it was taken, may owe its end.
    if (owed > 0 && console.linesNotShown == 0) console.stalled = !PlatConsoleFinish(timeoutMs);
}
