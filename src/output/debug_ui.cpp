// CDebugUI: console set-up and the writing of log lines to the log file and the console.
#include "output/debug_ui.h"

#include <cerrno>
#include <cstring>

#include "output/console_text.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

// How long the way out waits for a lagging console to take the lines it owes.
constexpr int kConsoleCatchUpMs = 1000;

}  // namespace

CDebugUI::CDebugUI()
    : consoleHandle(0), logFile(nullptr), busy(0), settings(nullptr), consoleIsTerminal(false), storeFailing(false),
      linesNotShown(0) {
    consoleRecord[0] = '\0';
}

CDebugUI::~CDebugUI() {
    CatchUpConsole(kConsoleCatchUpMs);
    EndBatch();
    if (logFile != nullptr) {
        fclose(logFile);
        logFile = nullptr;
    }
    busy = 0;
}

void SetupConsole() { PlatConsoleSetup(); }

void CDebugUI::Init(OutputSettings& boundSettings) {
    settings = &boundSettings;
    SetupConsole();
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
        fprintf(stderr, "fopen() for %s, error = %s\n", path, strerror(ENAMETOOLONG));
        return -1;
    }
    logFile = fopen(path, "a");
    if (logFile == nullptr) {
        fprintf(stderr, "fopen() for %s, error = %s\n", path, strerror(errno));
        return -1;
    }
    // Records are written whole and at once; the stream keeps no buffer of its own.
    setvbuf(logFile, nullptr, _IONBF, 0);
    return 0;
}

void CDebugUI::LogLine(uint16_t attribute, const char* text, const LineMeta& /*meta*/) {
    if (busy) return;
    busy = 1;
    std::tm now;
    if (!PlatLocalTimeNow(&now)) memset(&now, 0, sizeof now);
    char prefix[kTimePrefixLength + 1];
    FormatTimePrefix(now, prefix);
    if (logFile == nullptr && settings != nullptr) {
        int64_t folderStamp = PlatFolderChangeStamp(settings->debugFolder);
        if (OpenLogFile(now) == 0) NoteOwnFolderChange(folderStamp);
    }

    size_t textLength = strlen(text);
    do {
        size_t piece = textLength < kTextPieceSize ? textLength : kTextPieceSize;
        WriteRecord(attribute, prefix, text, piece);
        prefix[0] = '\0';  // a text written in several pieces has one prefix
        text += piece;
        textLength -= piece;
    } while (textLength > 0);
    busy = 0;
}

// Writes the prefix and a piece of text as one record to the log file (flushed at once) and as
// one write to the console, so that no message of the other thread can fall between them.
void CDebugUI::WriteRecord(uint16_t attribute, const char* prefix, const char* text,
                           size_t textLength) {
    size_t prefixLength = strlen(prefix);
    memcpy(fileRecord, prefix, prefixLength);
    memcpy(fileRecord + prefixLength, text, textLength);
    if (logFile != nullptr) StoreRecord(fileRecord, prefixLength + textLength);

    // A console that lags (a slow terminal, a pipe nobody reads) must not hold up the log: what it
    // cannot take now is skipped on screen and counted; the log file keeps every line.
    if (linesNotShown > 0) ShowLinesNotShown();
    bool shown = linesNotShown == 0;
    // A line on screen is in the log file already: a batch is written before a console shows more.
    if (batchRecords > 0 && shown && !PlatConsoleDiscarded()) {
        EndBatch();
        batchOpen = true;
    }
    if (shown && consoleIsTerminal) {
        memcpy(consoleRecord, prefix, prefixLength);
        size_t length = prefixLength + EscapeForTerminal(text, textLength, consoleRecord + prefixLength);
        shown = PlatConsoleTryWrite(attribute, consoleRecord, length);
    } else if (shown) {
        shown = PlatConsoleTryWrite(attribute, fileRecord, prefixLength + textLength);
    }
    if (!shown && prefixLength > 0) ++linesNotShown;  // a line's later pieces have no prefix
}

void CDebugUI::StoreRecord(const char* data, size_t length) {
    if (!batchOpen) {
        NoteStored(PlatAppendRecord(logFile, data, length));
        return;
    }
    if (batchRecords == kBatchRecords || batchLength + length > sizeof batch) EndBatch();
    batchOpen = true;
    memcpy(batch + batchLength, data, length);
    batchLength += static_cast<uint32_t>(length);
    batchEnds[batchRecords++] = batchLength;
}

void CDebugUI::NoteStored(bool stored) {
    if (!stored && !storeFailing) {
        fprintf(stderr, "write() to log file failed, error = %s; lines are shown but not stored\n",
                strerror(errno));
    } else if (stored && storeFailing) {
        fprintf(stderr, "log file writable again; storing lines resumes\n");
    }
    storeFailing = !stored;
}

void CDebugUI::BeginBatch() { batchOpen = true; }

void CDebugUI::EndBatch() {
    batchOpen = false;
    if (batchRecords == 0) return;
    // Records are gathered only while a file is open, and the file changes only outside a batch.
    if (logFile != nullptr && !PlatAppendRecord(logFile, batch, batchLength)) {
        // The batch was taken back whole: each record that still fits is kept, as without one.
        uint32_t start = 0;
        for (int i = 0; i < batchRecords; ++i) {
            NoteStored(PlatAppendRecord(logFile, batch + start, batchEnds[i] - start));
            start = batchEnds[i];
        }
    } else if (logFile != nullptr) {
        NoteStored(true);
    }
    batchRecords = 0;
    batchLength = 0;
}

void CDebugUI::ShowLinesNotShown() {
    if (linesNotShown == 0) return;
    char notice[96];
    int length = snprintf(notice, sizeof notice,
                          "WARNING, %u lines not shown here (the console lagged); the log file has "
                          "them all\n", linesNotShown);
    if (PlatConsoleTryWrite(kNormalAttribute, notice, static_cast<size_t>(length))) linesNotShown = 0;
}

void CDebugUI::CatchUpConsole(int timeoutMs) {
    PlatConsoleFinish(timeoutMs);
    ShowLinesNotShown();
    PlatConsoleFinish(timeoutMs);
}
