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
    PlatConsoleFinish(timeoutMs);
    ShowLinesNotShown(console);
    PlatConsoleFinish(timeoutMs);
}
