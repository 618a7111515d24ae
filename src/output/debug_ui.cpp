// CDebugUI: console set-up and the writing of log lines to the log file and the console.
#include "output/debug_ui.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "output/console_text.h"
#include "output/forwarder.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

// How long the way out waits for a lagging console to take the lines it owes.
constexpr int kConsoleCatchUpMs = 1000;

const char kPauseNotice[] = "-- paused: the log file keeps every line; space resumes --\n";

// How long a message on standard error may wait for a reader that lags.
constexpr int kErrorWaitMs = 10;

}  // namespace

CDebugUI::CDebugUI()
    : consoleHandle(0), logFile(nullptr), settings(nullptr), consoleIsTerminal(false), storeFailing(false),
      linesNotShown(0), consolePaused(false), pauseNoticeOwed(false) {
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
    if (WriteText(attribute, text, consoleSkip, meta.sender)) {
        ++runStatistics.logged;
    } else {
        ++runStatistics.notStored;
    }
}

void CDebugUI::LogNotice(uint16_t attribute, const char* text) {
    WriteText(attribute, text, 0, nullptr);
}

// Writes the time prefix and the text as one or more records; true when the log file stored all.
bool CDebugUI::WriteText(uint16_t attribute, const char* text, size_t consoleSkip,
                         const char* sender) {
    std::tm now;
    int milliseconds = 0;
    if (!PlatLocalTimeNowMs(&now, &milliseconds)) {
        memset(&now, 0, sizeof now);
        milliseconds = 0;
    }
    bool withMs = settings != nullptr && settings->milliseconds;
    char prefix[kRecordPrefixSize + 1];
    size_t prefixLength = FormatTimePrefix(now, prefix, withMs ? milliseconds : -1);
    if (sender != nullptr && settings != nullptr && settings->showSender) {
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
        stored = WriteRecord(attribute, prefix, text, piece, skip < piece ? skip : piece) && stored;
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
                           size_t textLength, size_t consoleSkip) {
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
            CloseLogFile();
        }
        if (!stored && !storeFailing) {
            ErrorMessage("write() to log file failed, error = %s; lines are shown but not stored\n",
                         PlatErrorText(errorCode));
        } else if (stored && storeFailing) {
            ErrorMessage("log file writable again; storing lines resumes\n");
        }
        storeFailing = !stored;
    }

    // A console that lags (a slow terminal, a pipe nobody reads) or that the user paused must not
    // hold up the log: what it cannot take now is skipped on screen and counted; the log file
    // keeps every line.
    if (linesNotShown > 0 || pauseNoticeOwed) ShowLinesNotShown();
    bool shown = linesNotShown == 0 && !consolePaused;
    // The console leaves out the bytes the log file alone keeps (a syslog <PRI>).
    if (shown && consoleIsTerminal) {
        memcpy(consoleRecord, prefix, prefixLength);
        size_t length = prefixLength + EscapeForTerminal(text + consoleSkip, textLength - consoleSkip,
                                                         consoleRecord + prefixLength);
        shown = PlatConsoleTryWrite(attribute, consoleRecord, length);
    } else if (shown && consoleSkip > 0) {
        memcpy(consoleRecord, prefix, prefixLength);
        memcpy(consoleRecord + prefixLength, text + consoleSkip, textLength - consoleSkip);
        shown = PlatConsoleTryWrite(attribute, consoleRecord, prefixLength + textLength - consoleSkip);
    } else if (shown) {
        shown = PlatConsoleTryWrite(attribute, fileRecord, prefixLength + textLength);
    }
    if (!shown && prefixLength > 0) {  // a line's later pieces have no prefix
        ++linesNotShown;
        ++runStatistics.notShown;
    }
    return stored;
}

void CDebugUI::ShowMessage(const char* text, size_t length) {
    if (linesNotShown > 0) ShowLinesNotShown();
    if (linesNotShown > 0 || !PlatConsoleTryWriteText(text, length)) ++runStatistics.messagesNotShown;
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
    // A reader that let the last message wait in vain is not waited for again until it takes one:
    // a message for every line (a missing folder) must not hold up each line.
    errorsLag = !PlatErrorWriteWithin(text, static_cast<size_t>(length) < sizeof text
                                                ? static_cast<size_t>(length) : sizeof text - 1,
                                      errorsLag ? 0 : kErrorWaitMs);
}

void CDebugUI::ShowLinesNotShown() {
    if (pauseNoticeOwed)
        pauseNoticeOwed = !PlatConsoleTryWrite(kNormalAttribute, kPauseNotice, sizeof kPauseNotice - 1);
    if (linesNotShown == 0 || consolePaused) return;
    char notice[96];
    int length = snprintf(notice, sizeof notice,
                          "WARNING, %u lines not shown here (the console lagged); the log file has "
                          "them all\n", linesNotShown);
    if (PlatConsoleTryWrite(kNormalAttribute, notice, static_cast<size_t>(length))) linesNotShown = 0;
}

void CDebugUI::TogglePause() {
    consolePaused = !consolePaused;
    pauseNoticeOwed = consolePaused;
    ShowLinesNotShown();
}

void CDebugUI::CatchUpConsole(int timeoutMs) {
    // The way out asks more than once; a console that lags gets the time once, in all.
    int64_t now = PlatMonotonicMilliseconds();
    if (catchUpEnd < 0) catchUpEnd = now + timeoutMs;
    consolePaused = false;
    pauseNoticeOwed = false;
    PlatConsoleFinish(static_cast<int>(catchUpEnd > now ? catchUpEnd - now : 0));
    ShowLinesNotShown();
    now = PlatMonotonicMilliseconds();
    PlatConsoleFinish(static_cast<int>(catchUpEnd > now ? catchUpEnd - now : 0));
}
