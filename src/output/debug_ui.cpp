// CDebugUI: console set-up, and each line stamped, gathered in the batch and handed to the log
// file, the console and the forwarders, in that order.
#include "output/debug_ui.h"

#include <cstdarg>
#include <cstring>

#include "output/compressor.h"
#include "output/console_text.h"
#include "output/folder_limits.h"
#include "output/error_message.h"
#include "output/forwarder.h"
#include "output/line_filter.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

// How long the way out waits for a lagging console to take the lines it owes.
constexpr int kConsoleCatchUpMs = 1000;

}  // namespace

CDebugUI::CDebugUI() : batch(NewRecordBatch()) { fileRecord[0] = '\0'; }

CDebugUI::~CDebugUI() {
    HandOnBatch();
    ::CatchUpConsole(console, kConsoleCatchUpMs);
    ::CloseLogFile(logFile);
    DeleteRecordBatch(batch);
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
    HandOnBatch();
    StartConsoleSink(console);
    PlatConsoleClear();
}

int CDebugUI::OpenLogFile(const std::tm& now) {
    HandOnBatch();
    return ::OpenLogFile(logFile, settings->debugFolder, now);
}

void CDebugUI::CloseLogFile() {
    HandOnBatch();
    bool wasOpen = logFile.stream != nullptr;
    ::CloseLogFile(logFile);
    if (wasOpen && settings != nullptr && settings->compress) CompressLater(logFile.path);
}

void CDebugUI::LogLine(uint16_t attribute, const char* text, const LineMeta& meta) {
    size_t consoleSkip = meta.consoleSkip > 0 ? static_cast<size_t>(meta.consoleSkip) : 0;
    // Filters see what the console shows: the sender when --sender shows it, not a <PRI>.
    bool senderShown = settings != nullptr && settings->showSender;
    bool consoleWanted = ConsoleShowsLine(senderShown ? meta.sender : nullptr, text + consoleSkip);
    if (AddText(BatchEntryKind::Line, attribute, text, consoleSkip, meta.sender, consoleWanted)) return;
    // Too long for a batch (never so from the line assembler): written alone, in pieces.
    HandOnBatch();
    char prefix[kRecordPrefixSize + 1];
    size_t prefixLength = StampNow(meta.sender, prefix);
    size_t textLength = strlen(text);
    if (WriteText(attribute, prefix, prefixLength, text, textLength, consoleSkip, consoleWanted)) {
        ++runStatistics.logged;
    } else {
        ++runStatistics.notStored;
    }
    ForwardLine(attribute, text, static_cast<int>(textLength), meta.sender);
}

void CDebugUI::LogNotice(uint16_t attribute, const char* text) {
    if (AddText(BatchEntryKind::Notice, attribute, text, 0, nullptr, true)) {
        HandOnBatch();
        return;
    }
    HandOnBatch();
    char prefix[kRecordPrefixSize + 1];
    size_t prefixLength = StampNow(nullptr, prefix);
    WriteText(attribute, prefix, prefixLength, text, strlen(text), 0, true);
}

// Stamps a text that fits one record and adds it to the batch, handing the batch on first when
// it is full; false, with nothing added, when the text does not fit one record or there is no
// batch.
bool CDebugUI::AddText(BatchEntryKind kind, uint16_t attribute, const char* text,
                       size_t consoleSkip, const char* sender, bool consoleWanted) {
    if (batch == nullptr) return false;
    size_t textLength = strnlen(text, kTextPieceSize + 1);
    if (textLength > kTextPieceSize) return false;
    char prefix[kRecordPrefixSize + 1];
    size_t prefixLength = StampNow(sender, prefix);
    // The forwarders get the sender apart from the prefix, which shows it only with --sender.
    const char* forwardSender = kind == BatchEntryKind::Line && ForwardTargetCount() > 0 ? sender : nullptr;
    if (AddRecord(*batch, kind, attribute, prefix, prefixLength, text, textLength, consoleSkip,
                  forwardSender, consoleWanted))
        return true;
    HandOnBatch();
    return AddRecord(*batch, kind, attribute, prefix, prefixLength, text, textLength, consoleSkip,
                     forwardSender, consoleWanted);
}

void CDebugUI::HandOnBatch() {
    if (batch == nullptr || batch->entryCount == 0) return;
    bool fileOpen = logFile.stream != nullptr;
    AppendBatch(logFile, *batch);
    NoteIfFileClosed(fileOpen);
    ShowBatch(console, *batch);
    ForwardBatch();
    for (int e = 0; e < batch->entryCount; ++e) {
        const BatchEntry& entry = batch->entries[e];
        if (entry.kind != BatchEntryKind::Line) continue;
        if (entry.stored) {
            ++runStatistics.logged;
        } else {
            ++runStatistics.notStored;
        }
    }
    ClearBatch(*batch);
}

// The forwarders get each line of the batch, after the log file and the console.
void CDebugUI::ForwardBatch() {
    if (ForwardTargetCount() == 0) return;
    for (int e = 0; e < batch->entryCount; ++e) {
        const BatchEntry& entry = batch->entries[e];
        if (entry.kind != BatchEntryKind::Line) continue;
        const char* sender = entry.sender >= 0 ? batch->sideBytes + entry.sender : nullptr;
        ForwardLine(entry.attribute, batch->fileBytes + entry.offset + entry.prefixLength,
                    static_cast<int>(entry.length - entry.prefixLength), sender);
    }
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

// Formats the prefix of a record made now, and makes sure a log file is open for it.
size_t CDebugUI::StampNow(const char* sender, char* prefix) {
    std::tm now;
    int milliseconds = 0;
    size_t prefixLength = FormatPrefix(sender, prefix, &now, &milliseconds);
    // A log file deleted from under us (or with its folder) would swallow every line without a
    // trace. Looking costs a system call worth about half a line's write, so it is done once a
    // batch, before its first record: only a deletion in the instant between that look and the
    // batch's write can still take lines with it.
    if (batch == nullptr || batch->entryCount == 0) CloseLogFileIfRemoved(logFile);
    OpenLogFileIfNone(now);
    return prefixLength;
}

// A file at the system's file-size limit was closed by the write: the clean-up sees it as closed.
void CDebugUI::NoteIfFileClosed(bool wasOpen) {
    if (wasOpen && logFile.stream == nullptr && settings != nullptr)
        NoteOwnFileClosed(logFolder, settings->retentionDays);
}

void CDebugUI::OpenLogFileIfNone(const std::tm& now) {
    if (logFile.stream != nullptr || settings == nullptr) return;
    int64_t folderStamp = PlatFolderChangeStamp(settings->debugFolder);
    if (::OpenLogFile(logFile, settings->debugFolder, now) == 0)
        NoteOwnFolderChange(logFolder, settings->debugFolder, folderStamp);
}

// Writes the prefix and the text as one or more records, each to the log file (flushed at once)
// and then, unless a filter hides it, to the console; true when the log file stored all. For
// texts too long for a batch.
bool CDebugUI::WriteText(uint16_t attribute, const char* prefix, size_t prefixLength,
                         const char* text, size_t textLength, size_t consoleSkip,
                         bool consoleWanted) {
    bool fileOpen = logFile.stream != nullptr;
    size_t skip = consoleSkip;
    bool stored = true;
    do {
        size_t piece = textLength < kTextPieceSize ? textLength : kTextPieceSize;
        memcpy(fileRecord, prefix, prefixLength);
        memcpy(fileRecord + prefixLength, text, piece);
        stored = AppendRecord(logFile, fileRecord, prefixLength + piece) && stored;
        if (consoleWanted)
            ShowRecord(console, attribute, fileRecord, prefixLength, prefixLength + piece,
                       skip < piece ? skip : piece);
        skip = 0;
        prefixLength = 0;  // a text written in several pieces has one prefix (and one sender)
        text += piece;
        textLength -= piece;
    } while (textLength > 0);
    NoteIfFileClosed(fileOpen);
    return stored;
}

void CDebugUI::ShowMessage(const char* text, size_t length) {
    // A message between records (a line assembler's diagnostic) keeps its place among them.
    if (batch != nullptr && batch->entryCount > 0 && AddMessage(*batch, text, length)) return;
    HandOnBatch();
    ShowConsoleMessage(console, text, length);
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
    HandOnBatch();
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
    HandOnBatch();
    CloseLogFileIfRemoved(logFile);
    if (CloseLogFileIfTooLarge(logFile, settings->logFileSize)) {
        ++runStatistics.rotated;
        NoteOwnFileClosed(logFolder, settings->retentionDays);
        if (settings->compress) CompressLater(logFile.path);
    }
}

void CDebugUI::DeleteExpiredLogFiles() {
    if (settings == nullptr) return;
    HandOnBatch();
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

void CDebugUI::ShowLinesNotShown() {
    HandOnBatch();
    ::ShowLinesNotShown(console);
}

void CDebugUI::TogglePause() {
    HandOnBatch();
    ToggleConsolePause(console);
}

void CDebugUI::CatchUpConsole(int timeoutMs) {
    HandOnBatch();
    ::CatchUpConsole(console, timeoutMs);
}
