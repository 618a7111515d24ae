// CDebugUI: the single writer of log lines to the console and to the current log file, with the
// maintenance of the log folder (size rotation, age clean-up). Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "output/output_settings.h"
#include "platform/files.h"

/// Longest text written in one piece; longer texts (never produced by the line assembler) are
/// written in several.
constexpr int kTextPieceSize = 1028;
/// Room for one record: the time prefix and one piece of text, every byte possibly escaped.
constexpr int kRecordSize = 8 + 2 * kTextPieceSize;

/// While a batch is open, log file records are gathered up to this many bytes (or records) and
/// written together.
constexpr int kBatchBytes = 16 * 1024;
constexpr int kBatchRecords = 256;

/// What a line carries besides its colour and text.
struct LineMeta {
    /// The sender's address as shown ("192.0.2.7:5000", "[2001:db8::7]:5000"), or nullptr when
    /// it is not known.
    const char* sender = nullptr;
    /// Leading bytes of the text that the log file keeps but the console does not show.
    int consoleSkip = 0;
};

class CDebugUI {
public:
    CDebugUI();
    virtual ~CDebugUI();
    CDebugUI(const CDebugUI&) = delete;
    CDebugUI& operator=(const CDebugUI&) = delete;

    /// Binds the settings, sets the console up and clears it. Called once, before the banner.
    void Init(OutputSettings& settings);
    void ClearScreen();

    /// Writes the time prefix and `text` to the log file (opening one if none is open) and to
    /// the console in `attribute`, then returns the console to the normal attribute.
    void LogLine(uint16_t attribute, const char* text, const LineMeta& meta = LineMeta{});

    /// Opens a log file named after `now` unless one is open: 0 when a file is open afterwards,
    /// -1 (with a message on standard error) when opening failed.
    int OpenLogFile(const std::tm& now);

    /// Both halves of the upkeep below: rotation, then the age clean-up. Prints nothing.
    void CheckLogFiles();

    /// Closes the log file once it has grown past the size limit, or once it was deleted from
    /// under us; the next line opens a new one. Cheap: looks at the open file only.
    void RotateIfTooLarge();

    /// Deletes log files older than the retention period; the open log file is never deleted.
    /// Lists the whole log folder, so it costs what the folder holds.
    void DeleteExpiredLogFiles();

    /// False only when the last DeleteExpiredLogFiles would find nothing to delete now either: the
    /// folder has not changed since, and no file it saw has reached the retention period yet.
    /// Cheap: one look at the folder. (A file whose time stamp is set back does not change the
    /// folder, so a caller still lists it now and then.)
    bool CleanUpMayDelete();

    /// Between BeginBatch and EndBatch the log file's records are gathered and written in as few
    /// writes as the batch buffer allows; EndBatch writes the rest. The console still gets every
    /// line at once, and never before the log file: a batch is written out before each line a
    /// console actually shows, so it pays only while standard output is /dev/null. Records are never split: when the disk fills up part-way through a batch,
    /// the batch is taken back and written record by record, as without a batch.
    void BeginBatch();
    void EndBatch();

    /// Shows how many lines a lagging console could not take, if any, once it can take more.
    void ShowLinesNotShown();

    /// Gives a lagging console up to `timeoutMs` milliseconds to take what it owes, then shows
    /// how many lines it skipped. For the way out, before the closing lines.
    void CatchUpConsole(int timeoutMs);

    intptr_t consoleHandle;  // 1 (standard output) once ClearScreen has run
    FILE* logFile;           // the current log file, or nullptr
    int32_t busy;            // 1 while LogLine runs
    OutputSettings* settings;  // not owned; nullptr until Init

private:
    void WriteRecord(uint16_t attribute, const char* prefix, const char* text, size_t textLength);
    void NoteOwnFolderChange(int64_t stampBefore);
    void StoreRecord(const char* data, size_t length);
    void NoteStored(bool stored);

    int64_t folderStampAtCleanUp = -1;     // the folder's change stamp when it was last listed
    int64_t firstExpiryAtCleanUp = INT64_MIN;  // when the first file then listed comes of age
    bool consoleIsTerminal;
    bool storeFailing;  // the last record could not be stored in the log file
    uint32_t linesNotShown;  // lines the console could not take since the last notice
    char fileRecord[kRecordSize];
    char consoleRecord[kRecordSize];
    bool batchOpen = false;
    int batchRecords = 0;                 // records gathered
    uint32_t batchLength = 0;             // bytes gathered
    uint32_t batchEnds[kBatchRecords];    // where each gathered record ends
    char batch[kBatchBytes];
};

/// Makes standard output and standard error reach the console at once (unbuffered).
void SetupConsole();
