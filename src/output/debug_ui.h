// CDebugUI: the coordinator of the output path. It stamps each line with its time prefix, gathers
// the records in a batch and hands the batch to its sinks in a fixed order — the log file (one
// write), then the console (one write), then the forwarders — so that a line on screen is always
// already in the file. It also drives the log folder's upkeep. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "output/console_sink.h"
#include "output/log_file.h"
#include "output/log_folder.h"
#include "output/output_settings.h"
#include "output/record.h"
#include "output/record_batch.h"

class CDebugUI {
public:
    CDebugUI();
    virtual ~CDebugUI();
    CDebugUI(const CDebugUI&) = delete;
    CDebugUI& operator=(const CDebugUI&) = delete;

    /// Binds the settings, sets the console up and clears it. Called once, before the banner.
    void Init(OutputSettings& settings);
    void ClearScreen();

    /// Stamps `text` with the time prefix (opening a log file if none is open) and adds it to the
    /// batch, which goes to the log file, the console (in `attribute`) and the forwarders when it
    /// is full, at HandOnBatch, or before any other output of the writer.
    void LogLine(uint16_t attribute, const char* text, const LineMeta& meta = LineMeta{});

    /// Hands the batch to its sinks: the log file, then the console, then the forwarders. The
    /// main loop calls it at the end of every drain, so no line waits for more.
    void HandOnBatch();

    /// Writes a record of udptrail's own (a warning) as LogLine does, to the log file and the
    /// console, at once; it is not counted as a logged line.
    void LogNotice(uint16_t attribute, const char* text);

    /// Shows a message on the console only, as it is (no time prefix, no colour): in order with
    /// the records (in the batch when it holds any), never waiting; skipped and counted when the
    /// console lags.
    void ShowMessage(const char* text, size_t length);

    /// As ShowMessage, with the text formatted as by printf.
    void Message(const char* format, ...) __attribute__((format(printf, 2, 3)));

    /// As ShowMessage, but gives a lagging console up to `timeoutMs` milliseconds. For the way out.
    void ShowMessageWithin(const char* text, int timeoutMs);

    /// Writes a message formatted as by printf to standard error, waiting at most a short,
    /// bounded time for a reader that lags.
    void ErrorMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));

    /// Opens a log file named after `now` unless one is open: 0 when a file is open afterwards,
    /// -1 (with a message on standard error) when opening failed.
    int OpenLogFile(const std::tm& now);

    /// Closes the log file (with --compress it is queued for compression); the next line opens a
    /// new one.
    void CloseLogFile();

    /// Both halves of the upkeep below: rotation, then the age clean-up. Prints nothing.
    void CheckLogFiles();

    /// Closes the log file once it has grown past the size limit, or once it was deleted from
    /// under us; the next line opens a new one. Cheap: looks at the open file only.
    void RotateIfTooLarge();

    /// Deletes log files older than the retention period; the open log file is never deleted.
    /// Lists the whole log folder, so it costs what the folder holds.
    void DeleteExpiredLogFiles();

    /// Keeps the log folder within --max-total and --keep-free (folder_limits.h), and tells on the
    /// console and in the log file what that, or a full disk, deleted. Cheap when nothing is over.
    void KeepFolderWithinLimits();

    /// False only when the last DeleteExpiredLogFiles would find nothing to delete now either
    /// (see log_folder.h). Cheap: one look at the folder.
    bool CleanUpMayDelete();

    /// Shows how many lines a lagging console could not take, if any, once it can take more.
    void ShowLinesNotShown();

    /// Gives a lagging console up to `timeoutMs` milliseconds to take what it owes, then shows
    /// how many lines it skipped. For the way out, before the closing lines; ends a pause.
    void CatchUpConsole(int timeoutMs);

    /// Pauses the console (it says so once; the log file keeps every line), or resumes it and
    /// shows how many lines the pause skipped.
    void TogglePause();

private:
    bool AddText(BatchEntryKind kind, uint16_t attribute, const char* text, size_t consoleSkip,
                 const char* sender, bool consoleWanted);
    bool WriteText(uint16_t attribute, const char* prefix, size_t prefixLength, const char* text,
                   size_t textLength, size_t consoleSkip, bool consoleWanted);
    size_t StampNow(const char* sender, char* prefix);
    size_t FormatPrefix(const char* sender, char* prefix, std::tm* now, int* milliseconds);
    void OpenLogFileIfNone(const std::tm& now);
    void NoteIfFileClosed(bool wasOpen);
    void ForwardBatch();

    OutputSettings* settings = nullptr;  // not owned; nullptr until Init
    LogFile logFile;
    ConsoleSink console;
    LogFolder logFolder;
    RecordBatch* batch;  // nullptr when it could not be allocated: each record is written alone
    char fileRecord[kRecordSize];
};

/// Makes standard output and standard error reach the console at once (unbuffered), and records
/// coloured as `colors` says.
void SetupConsole(ConsoleColors colors = ConsoleColors::Auto);
