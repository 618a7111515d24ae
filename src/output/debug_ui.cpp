// CDebugUI: console set-up and the writing of log lines to the log file and the console.
#include "output/debug_ui.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "output/console_text.h"
#include "output/forwarder.h"
#include "output/line_filter.h"
#include "output/pause_buffer.h"
#include "output/prompt_line.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/thread.h"

namespace {

// How long the way out waits for a lagging console to take the lines it owes.
constexpr int kConsoleCatchUpMs = 1000;

const char kPauseNotice[] = "-- paused: the log file keeps every line; space resumes --\n";

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

// How often the way out offers a lagging console the rest of what a pause held.
constexpr int kHeldLinesRetryMs = 10;

// How long a message on standard error may wait for a reader that lags.
constexpr int kErrorWaitMs = 10;

}  // namespace

CDebugUI::CDebugUI()
    : consoleHandle(0), logFile(nullptr), settings(nullptr), consoleIsTerminal(false), storeFailing(false),
      linesNotShown(0), consolePaused(false), pauseNoticeOwed(false), heldLinesOwed(false) {
    consoleRecord[0] = '\0';
}

CDebugUI::~CDebugUI() {
    CatchUpConsole(kConsoleCatchUpMs);
    if (logFile != nullptr) {
        fclose(logFile);
        logFile = nullptr;
    }
}

void SetupConsole(ConsoleColors colors) { PlatConsoleSetup(colors); }

void CDebugUI::Init(OutputSettings& boundSettings) {
    settings = &boundSettings;
    SetupConsole(boundSettings.colors);
    ClearScreen();
}

void CDebugUI::ClearScreen() {
    consoleHandle = 1;
    consoleIsTerminal = PlatConsoleIsTerminal();
    PlatConsoleClear();
}

int CDebugUI::OpenLogFile(const std::tm& now) {
    if (logFile != nullptr) return 0;
    char path[256];
    int needed = snprintf(path, sizeof path, "%s/udplog_%4d%02d%02d%02d%02d%02d.log",
                          settings->debugFolder, now.tm_year + 1900, now.tm_mon + 1, now.tm_mday,
                          now.tm_hour, now.tm_min, now.tm_sec);
    if (needed < 0 || needed >= static_cast<int>(sizeof path)) {
        // Start-up refuses folders this long; a cut path would name a folder nobody asked for.
        ErrorMessage("fopen() for %s, error = %s\n", path, PlatErrorText(ENAMETOOLONG));
        return -1;
    }
    int errorCode = 0;
    logFile = PlatOpenLogFile(path, &errorCode);
    if (logFile == nullptr) {
        ErrorMessage("fopen() for %s, error = %s\n", path, PlatErrorText(errorCode));
        return -1;
    }
    return 0;
}

void CDebugUI::LogLine(uint16_t attribute, const char* text, const LineMeta& meta) {
    ForwardLine(attribute, text, meta.sender);
    size_t consoleSkip = meta.consoleSkip > 0 ? static_cast<size_t>(meta.consoleSkip) : 0;
    const char* sender = settings != nullptr && settings->showSender ? meta.sender : nullptr;
    // Filters see what the console shows: a <PRI> before consoleSkip is not.
    bool consoleWanted = ConsoleShowsLine(sender, text + consoleSkip);
    if (WriteText(attribute, text, consoleSkip, sender, consoleWanted)) {
        ++runStatistics.logged;
    } else {
        ++runStatistics.notStored;
    }
}

void CDebugUI::LogNotice(uint16_t attribute, const char* text) {
    WriteText(attribute, text, 0, nullptr, true);
}

// Writes the time prefix and the text as one or more records; true when the log file stored all.
bool CDebugUI::WriteText(uint16_t attribute, const char* text, size_t consoleSkip,
                         const char* sender, bool consoleWanted) {
    std::tm now;
    int milliseconds = 0;
    char prefix[kRecordPrefixSize + 1];
    size_t prefixLength = StampRecord(settings != nullptr ? settings->timeForm : TimeForm::Hms, &now,
                                      &milliseconds, prefix);
    timePrefixLength = prefixLength;
    if (sender != nullptr) {
        size_t senderLength = strnlen(sender, kSenderShownSize);
        memcpy(prefix + prefixLength, sender, senderLength);
        prefix[prefixLength + senderLength] = ' ';
        prefix[prefixLength + senderLength + 1] = '\0';
    }
    // A log file deleted from under us (or with its folder) would swallow every line without a
    // trace. Looking costs a system call worth about half a line's write, so it is done once a
    // millisecond at most: the first line after a pause always looks.
    int linkCheck = ((now.tm_hour * 60 + now.tm_min) * 60 + now.tm_sec) * 1000 + milliseconds;
    if (linkCheck != lastLinkCheck) {
        lastLinkCheck = linkCheck;
        CloseLogFileIfRemoved();
    }
    if (logFile == nullptr && settings != nullptr) {
        int64_t folderStamp = PlatFolderChangeStamp(settings->debugFolder);
        if (OpenLogFile(now) == 0) NoteOwnFolderChange(folderStamp);
    }

    size_t textLength = strlen(text);
    size_t skip = consoleSkip;
    bool stored = true;
    do {
        size_t piece = textLength < kTextPieceSize ? textLength : kTextPieceSize;
        stored = WriteRecord(attribute, prefix, text, piece, skip < piece ? skip : piece,
                             consoleWanted) && stored;
        skip = 0;
        prefix[0] = '\0';  // a text written in several pieces has one prefix (and one sender)
        text += piece;
        textLength -= piece;
    } while (textLength > 0);
    return stored;
}

// Writes the prefix and a piece of text as one record to the log file (flushed at once) and as
// one write to the console, so that no message of the other thread can fall between them.
// True when the log file stored the record.
bool CDebugUI::WriteRecord(uint16_t attribute, const char* prefix, const char* text,
                           size_t textLength, size_t consoleSkip, bool consoleWanted) {
    size_t prefixLength = strlen(prefix);
    memcpy(fileRecord, prefix, prefixLength);
    memcpy(fileRecord + prefixLength, text, textLength);
    bool stored = false;
    if (logFile != nullptr) {
        int errorCode = 0;
        stored = PlatAppendRecord(logFile, fileRecord, prefixLength + textLength, &errorCode);
        if (!stored && errorCode == EFBIG) {
            // The file has reached the system's file-size limit and can take no more: the next
            // line opens a new one (a new name once the second changes).
            fclose(logFile);
            logFile = nullptr;
        }
        if (!stored && !storeFailing) {
            ErrorMessage("write() to log file failed, error = %s; lines are shown but not stored\n",
                         PlatErrorText(errorCode));
        } else if (stored && storeFailing) {
            ErrorMessage("log file writable again; storing lines resumes\n");
        }
        storeFailing = !stored;
    }

    if (!consoleWanted) return stored;  // a filter hides it (counted by the filter)

    // A console that lags (a slow terminal, a pipe nobody reads) must not hold up the log: what
    // it cannot take now is skipped on screen and counted; the log file keeps every line. While
    // the user has the console paused, and until what the pause held is shown, records are held.
    if (linesNotShown > 0 || pauseNoticeOwed || heldLinesOwed) ShowLinesNotShown();
    bool holding = consolePaused || heldLinesOwed;
    bool shown = linesNotShown == 0 || holding;
    // The console leaves out the bytes the log file alone keeps (a syslog <PRI>).
    const char* record = fileRecord;
    size_t length = prefixLength + textLength;
    if (shown && consoleIsTerminal) {
        memcpy(consoleRecord, prefix, prefixLength);
        length = prefixLength + EscapeForTerminal(text + consoleSkip, textLength - consoleSkip,
                                                  consoleRecord + prefixLength);
        record = consoleRecord;
    } else if (shown && consoleSkip > 0) {
        memcpy(consoleRecord, prefix, prefixLength);
        memcpy(consoleRecord + prefixLength, text + consoleSkip, textLength - consoleSkip);
        length = prefixLength + textLength - consoleSkip;
        record = consoleRecord;
    }
    if (shown && HighlightWanted() && PlatConsoleInBandAttributes())
        record = HighlightRecord(record, length, prefixLength > 0 ? timePrefixLength : 0, &length);
    if (shown && holding) {
        shown = PauseBufferKeep(attribute, record, length);
    } else if (shown) {
        shown = TryWriteRecordBelowPrompt(attribute, record, length);
    }
    if (!shown && holding) {
        ++runStatistics.notShown;  // beyond what a pause holds; told once the pause is over
    } else if (!shown && prefixLength > 0) {  // a line's later pieces have no prefix
        ++linesNotShown;
        ++runStatistics.notShown;
    }
    return stored;
}

void CDebugUI::ShowMessage(const char* text, size_t length) {
    if (linesNotShown > 0) ShowLinesNotShown();
    if (linesNotShown > 0 || !TryWriteTextBelowPrompt(text, length)) ++runStatistics.messagesNotShown;
}

void CDebugUI::Message(const char* format, ...) {
    char text[kRecordSize + 64];  // an escaped piece of text and the words around it
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    ShowMessage(text, static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length)
                                                                : sizeof text - 1);
}

void CDebugUI::ShowMessageWithin(const char* text, int timeoutMs) {
    if (!PlatConsoleWriteTextWithin(text, strlen(text), timeoutMs)) ++runStatistics.messagesNotShown;
}

void CDebugUI::ErrorMessage(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    PlatErrorWriteWithin(text, static_cast<size_t>(length) < sizeof text
                                   ? static_cast<size_t>(length) : sizeof text - 1,
                         kErrorWaitMs);
}

void CDebugUI::ShowLinesNotShown() {
    if (pauseNoticeOwed)
        pauseNoticeOwed = !TryWriteRecordBelowPrompt(kNormalAttribute, kPauseNotice, sizeof kPauseNotice - 1);
    if (consolePaused) return;
    char notice[96];
    if (linesNotShown > 0) {
        int length = snprintf(notice, sizeof notice,
                              "WARNING, %u lines not shown here (the console lagged); the log file "
                              "has them all\n", linesNotShown);
        if (!TryWriteRecordBelowPrompt(kNormalAttribute, notice, static_cast<size_t>(length))) return;
        linesNotShown = 0;
    }
    if (heldLinesOwed) ShowHeldLines();
}

// Shows what the pause held, as much as the console takes now, then how many lines did not fit.
void CDebugUI::ShowHeldLines() {
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
    heldLinesOwed = false;
}

void CDebugUI::TogglePause() {
    consolePaused = !consolePaused;
    pauseNoticeOwed = consolePaused;
    if (consolePaused) {
        PauseBufferReserve();  // once; without room every held line is counted instead
    } else {
        heldLinesOwed = true;
    }
    ShowLinesNotShown();
}

void CDebugUI::CatchUpConsole(int timeoutMs) {
    if (consolePaused) heldLinesOwed = true;
    consolePaused = false;
    pauseNoticeOwed = false;
    HidePromptLine();
    // What the pause held may be more than the console takes at once.
    int64_t deadline = PlatMonotonicMilliseconds() + timeoutMs;
    for (;;) {
        PlatConsoleFinish(timeoutMs);
        ShowLinesNotShown();
        if (!heldLinesOwed || PlatMonotonicMilliseconds() >= deadline) break;
        PlatSleepMs(kHeldLinesRetryMs);
    }
    PlatConsoleFinish(timeoutMs);
}
