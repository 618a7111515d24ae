// CDebugUI: the coordinator of the output path. It stamps each line with its time prefix and hands
// the record to its sinks in a fixed order — the log file, then the console, then the forwarders —
// and drives the log folder's upkeep. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "output/console_sink.h"
#include "output/log_file.h"
#include "output/log_folder.h"
#include "output/output_settings.h"
#include "output/record.h"

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

    /// Writes a record of udptrail's own (a warning) as LogLine does, to the log file and the
    /// console; it is not counted as a logged line.
    void LogNotice(uint16_t attribute, const char* text);

    /// Shows a message on the console only, as it is (no time prefix, no colour): in order with
    /// the records, never waiting; skipped and counted when the console lags.
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

    /// Closes the log file; the next line opens a new one.
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
    bool WriteText(uint16_t attribute, const char* text, size_t consoleSkip, const char* sender,
                   bool consoleWanted, const char* consoleText = nullptr);
    size_t FormatPrefix(const char* sender, char* prefix, std::tm* now, int* milliseconds);
    void OpenLogFileIfNone(const std::tm& now);

    OutputSettings* settings = nullptr;  // not owned; nullptr until Init
    int lastLinkCheck = -1;  // when WriteText last looked whether the log file was deleted
    LogFile logFile;
    ConsoleSink console;
    LogFolder logFolder;
    char fileRecord[kRecordSize];
    char consoleText[kTextPieceSize + 8];  // what the console shows of a syslog message
    char consoleRecord[kRecordSize];
};

/// Makes standard output and standard error reach the console at once (unbuffered), and records
/// coloured as `colors` says.
void SetupConsole(ConsoleColors colors = ConsoleColors::Auto);
