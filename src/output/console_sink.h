// The console as a sink of records: written without ever waiting; what a lagging console cannot
// take is skipped whole and counted, with a notice once it can take more; what a paused one cannot
// show is held (pause_buffer.h) up to a bound. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/record.h"
#include "output/record_batch.h"

struct ConsoleSink {
    bool isTerminal = false;       // network control bytes are shown escaped
    bool paused = false;           // the user paused the console
    bool pauseNoticeOwed = false;  // the console has not taken the pause notice yet
    uint32_t linesNotShown = 0;    // lines the console could not take since the last notice
    bool heldLinesOwed = false;    // resumed, but not yet shown all that the pause held
    int64_t catchUpEnd = -1;       // when the way out stops waiting for the console
    char record[kRecordSize];      // a record as the console gets it, when it differs
};

/// Takes the console as it is now (a terminal or not). Called once the console is set up.
void StartConsoleSink(ConsoleSink& console);

/// Shows a record (`prefixLength` bytes of prefix, then the text, `length` bytes in all) in
/// `attribute`, leaving out the first `consoleSkip` bytes of the text. A record with a prefix the
/// console cannot take now is counted as not shown; true when it was shown.
bool ShowRecord(ConsoleSink& console, uint16_t attribute, const char* record, size_t prefixLength,
                size_t length, size_t consoleSkip);

/// Shows the batch's records and messages in order, with one write where the console takes them
/// all, never waiting; records a filter hides are left out, a pause holds the records, and what
/// the console skips is counted, as ShowRecord and ShowConsoleMessage do.
void ShowBatch(ConsoleSink& console, RecordBatch& batch);

/// Shows a message as it is (no prefix, no colour), in order with the records, never waiting;
/// skipped and counted when the console lags.
void ShowConsoleMessage(ConsoleSink& console, const char* text, size_t length);

/// Shows the pause notice the console still owes and how many lines it could not take, if any,
/// once it can take more.
void ShowLinesNotShown(ConsoleSink& console);

/// Pauses the console (it says so once), or resumes it and shows the lines the pause held, then
/// how many more it could not hold.
void ToggleConsolePause(ConsoleSink& console);

/// Gives a lagging console up to `timeoutMs` milliseconds to take what it owes (what a pause held
/// too), then shows how many lines it skipped. Ends a pause and closes the filter prompt. Later
/// calls wait only for what is left of the first one's time.
void CatchUpConsole(ConsoleSink& console, int timeoutMs);
