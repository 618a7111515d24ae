// CDebugUI: the single writer of log lines to the console and to the current log file, with the
// maintenance of the log folder (size rotation, age clean-up). Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "output/console_text.h"
#include "output/output_settings.h"
#include "platform/files.h"

/// Longest text written in one piece; longer texts (never produced by the line assembler) are
/// written in several.
constexpr int kTextPieceSize = 1028;
/// Longest sender shown after the time prefix ("[" + 45 + "]:" + 5 digits); a longer one is cut.
constexpr int kSenderShownSize = 53;
/// Room for one record's prefix: the longer time prefix ("HHMMSS.mmm: "), the sender and a space.
constexpr int kRecordPrefixSize = 12 + kSenderShownSize + 1;
/// Room for one record: its prefix and one piece of text, every byte possibly escaped.
constexpr int kRecordSize = kRecordPrefixSize + kEscapedBytesPerByte * kTextPieceSize;

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
    /// bounded time for a reader that lags, and not at all while it still lags.
    void ErrorMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));

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


    /// Shows how many lines a lagging console could not take, if any, once it can take more.
    void ShowLinesNotShown();

    /// Gives a lagging console up to `timeoutMs` milliseconds to take what it owes, then shows
    /// how many lines it skipped. For the way out, before the closing lines; ends a pause. Later
    /// calls wait only for what is left of the first one's time.
    void CatchUpConsole(int timeoutMs);

    /// Pauses the console (it says so once; the log file keeps every line), or resumes it and
    /// shows how many lines the pause skipped.
    void TogglePause();

    intptr_t consoleHandle;  // 1 (standard output) once ClearScreen has run
    FILE* logFile;           // the current log file, or nullptr
    OutputSettings* settings;  // not owned; nullptr until Init

private:
    bool WriteText(uint16_t attribute, const char* text, size_t consoleSkip, const char* sender);
    bool WriteRecord(uint16_t attribute, const char* prefix, const char* text, size_t textLength,
                     size_t consoleSkip);
    void NoteOwnFolderChange(int64_t stampBefore);
    void CloseLogFile();
    void CloseLogFileIfRemoved();

    int lastLinkCheck = -1;  // when WriteText last looked whether the log file was deleted

    int64_t folderStampAtCleanUp = -1;     // the folder's change stamp when it was last listed
    int64_t firstExpiryAtCleanUp = INT64_MIN;  // when the first file then listed comes of age
    bool consoleIsTerminal;
    bool storeFailing;  // the last record could not be stored in the log file
    uint32_t linesNotShown;  // lines the console could not take since the last notice
    bool consolePaused;      // the user paused the console
    bool pauseNoticeOwed;    // the console has not taken the pause notice yet
    bool errorsLag = false;  // standard error did not take the last message in time
    int64_t catchUpEnd = -1;  // when the way out stops waiting for the console
    char fileRecord[kRecordSize];
    char consoleRecord[kRecordSize];
};

/// Makes standard output and standard error reach the console at once (unbuffered), and records
/// coloured as `colors` says.
void SetupConsole(ConsoleColors colors = ConsoleColors::Auto);
