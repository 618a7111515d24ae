// CDebugUI: console set-up, and each line stamped and handed to the log file, the console and the
// forwarders, in that order.
#include "output/debug_ui.h"

#include <cstdarg>
#include <cstring>

#include "output/console_text.h"
#include "output/folder_limits.h"
#include "output/error_message.h"
#include "intake/syslog_header.h"
#include "output/forwarder.h"
#include "output/line_filter.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

// How long the way out waits for a lagging console to take the lines it owes.
constexpr int kConsoleCatchUpMs = 1000;

}  // namespace

CDebugUI::CDebugUI() { fileRecord[0] = '\0'; }

CDebugUI::~CDebugUI() {
    ::CatchUpConsole(console, kConsoleCatchUpMs);
    ::CloseLogFile(logFile);
}

void SetupConsole(ConsoleColors colors) { PlatConsoleSetup(colors); }

void CDebugUI::Init(OutputSettings& boundSettings) {
    settings = &boundSettings;
    StartFolderLimits(boundSettings);
    if (FolderLimitsSet(boundSettings)) logFile.makeRoom = FreeRoomAfterFullDisk;
    SetupConsole(boundSettings.colors);
    ClearScreen();
}

void CDebugUI::ClearScreen() {
    StartConsoleSink(console);
    PlatConsoleClear();
}

int CDebugUI::OpenLogFile(const std::tm& now) {
    return ::OpenLogFile(logFile, settings->debugFolder, now);
}

void CDebugUI::CloseLogFile() { ::CloseLogFile(logFile); }

// What the console shows of a syslog message (a record with a <PRI>): `HOSTNAME APP[PROCID]:
// MSG` and its line end, in `out`; nullptr when the record is too long for that.
static const char* SyslogConsoleText(const char* text, char* out) {
    size_t length = strlen(text);
    if (length > kTextPieceSize) return nullptr;
    int body = static_cast<int>(length);
    while (body > 0 && (text[body - 1] == '\n' || text[body - 1] == '\r')) --body;
    SyslogHeaderParts parts = ParseSyslogHeader(text, body);
    int shown = FormatSyslogConsoleText(text, body, parts, out);
    memcpy(out + shown, text + body, length - static_cast<size_t>(body) + 1);
    return out;
}

void CDebugUI::LogLine(uint16_t attribute, const char* text, const LineMeta& meta) {
    ForwardLine(attribute, text, meta.sender);
    size_t consoleSkip = meta.consoleSkip > 0 ? static_cast<size_t>(meta.consoleSkip) : 0;
    const char* shownText = consoleSkip > 0 ? SyslogConsoleText(text, consoleText) : nullptr;
    // Filters see what the console shows: the sender when --sender shows it, not a <PRI>.
    bool senderShown = settings != nullptr && settings->showSender;
    bool consoleWanted = ConsoleShowsLine(senderShown ? meta.sender : nullptr,
                                          shownText != nullptr ? shownText : text + consoleSkip);
    if (WriteText(attribute, text, consoleSkip, meta.sender, consoleWanted, shownText)) {
        ++runStatistics.logged;
    } else {
        ++runStatistics.notStored;
    }
}

void CDebugUI::LogNotice(uint16_t attribute, const char* text) {
    WriteText(attribute, text, 0, nullptr, true);
}

// The time prefix for now, and the sender behind it when --sender shows it; `now` and
// `milliseconds` get the time.
size_t CDebugUI::FormatPrefix(const char* sender, char* prefix, std::tm* now, int* milliseconds) {
    size_t length = StampRecord(settings != nullptr ? settings->timeForm : TimeForm::Hms, now,
                                milliseconds, prefix);
    if (sender != nullptr && settings != nullptr && settings->showSender) {
        size_t senderLength = strnlen(sender, kSenderShownSize);
        memcpy(prefix + length, sender, senderLength);
        prefix[length + senderLength] = ' ';
        length += senderLength + 1;
        prefix[length] = '\0';
    }
    return length;
}

void CDebugUI::OpenLogFileIfNone(const std::tm& now) {
    if (logFile.stream != nullptr || settings == nullptr) return;
    int64_t folderStamp = PlatFolderChangeStamp(settings->debugFolder);
    if (OpenLogFile(now) == 0) NoteOwnFolderChange(logFolder, settings->debugFolder, folderStamp);
}

// Writes the time prefix and the text as one or more records, each to the log file (flushed at
// once) and then, unless a filter hides it, to the console; true when the log file stored all.
bool CDebugUI::WriteText(uint16_t attribute, const char* text, size_t consoleSkip,
                         const char* sender, bool consoleWanted, const char* shownText) {
    std::tm now;
    int milliseconds = 0;
    char prefix[kRecordPrefixSize + 1];
    size_t prefixLength = FormatPrefix(sender, prefix, &now, &milliseconds);
    // A log file deleted from under us (or with its folder) would swallow every line without a
    // trace. Looking costs a system call worth about half a line's write, so it is done once a
    // millisecond at most: the first line after a pause always looks.
    int linkCheck = ((now.tm_hour * 60 + now.tm_min) * 60 + now.tm_sec) * 1000 + milliseconds;
    if (linkCheck != lastLinkCheck) {
        lastLinkCheck = linkCheck;
        CloseLogFileIfRemoved(logFile);
    }
    OpenLogFileIfNone(now);
    bool fileOpen = logFile.stream != nullptr;

    size_t textLength = strlen(text);
    size_t skip = consoleSkip;
    bool stored = true;
    do {
        size_t piece = textLength < kTextPieceSize ? textLength : kTextPieceSize;
        memcpy(fileRecord, prefix, prefixLength);
        memcpy(fileRecord + prefixLength, text, piece);
        stored = AppendRecord(logFile, fileRecord, prefixLength + piece) && stored;
        if (consoleWanted && shownText != nullptr) {  // one piece: a syslog record
            size_t shownLength = strlen(shownText);
            memcpy(consoleRecord, prefix, prefixLength);
            memcpy(consoleRecord + prefixLength, shownText, shownLength);
            ShowRecord(console, attribute, consoleRecord, prefixLength, prefixLength + shownLength, 0);
        } else if (consoleWanted) {
            ShowRecord(console, attribute, fileRecord, prefixLength, prefixLength + piece,
                       skip < piece ? skip : piece);
        }
        skip = 0;
        prefixLength = 0;  // a text written in several pieces has one prefix (and one sender)
        text += piece;
        textLength -= piece;
    } while (textLength > 0);
    // A file at the system's file-size limit was closed.
    if (fileOpen && logFile.stream == nullptr && settings != nullptr)
        NoteOwnFileClosed(logFolder, settings->retentionDays);
    return stored;
}

void CDebugUI::ShowMessage(const char* text, size_t length) { ShowConsoleMessage(console, text, length); }

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
    va_list arguments;
    va_start(arguments, format);
    WriteErrorMessageV(format, arguments);
    va_end(arguments);
}

void CDebugUI::CheckLogFiles() {
    RotateIfTooLarge();
    DeleteExpiredLogFiles();
}

void CDebugUI::RotateIfTooLarge() {
    if (settings == nullptr) return;
    CloseLogFileIfRemoved(logFile);
    if (CloseLogFileIfTooLarge(logFile, settings->logFileSize)) {
        ++runStatistics.rotated;
        NoteOwnFileClosed(logFolder, settings->retentionDays);
    }
}

void CDebugUI::DeleteExpiredLogFiles() {
    if (settings == nullptr) return;
    PlatFileId open;
    bool haveOpen = LogFileIdentity(logFile, &open);
    ::DeleteExpiredLogFiles(logFolder, settings->debugFolder, settings->retentionDays,
                            haveOpen ? &open : nullptr, CountedLogKinds(*settings));
}

void CDebugUI::KeepFolderWithinLimits() {
    if (settings == nullptr || !FolderLimitsSet(*settings)) return;
    EnforceFolderLimits(logFile);
    char warning[192];
    while (TakeFolderLimitsWarning(warning, sizeof warning)) LogNotice(kNormalAttribute, warning);
}

bool CDebugUI::CleanUpMayDelete() {
    return settings != nullptr && ::CleanUpMayDelete(logFolder, settings->debugFolder);
}

void CDebugUI::ShowLinesNotShown() { ::ShowLinesNotShown(console); }

void CDebugUI::TogglePause() { ToggleConsolePause(console); }

void CDebugUI::CatchUpConsole(int timeoutMs) { ::CatchUpConsole(console, timeoutMs); }
