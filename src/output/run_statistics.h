// The run's statistics: the main thread's own counts, the receiver's (intake_counters.h), the
// statistics line built from both, and the reports of losses on the console and in the log.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

class CDebugUI;

struct RunStatistics {
    uint64_t logged;             // lines stored in a log file
    uint64_t notStored;          // lines the log file could not take (no file, disk full)
    uint64_t notShown;           // lines a lagging console skipped
    uint64_t messagesNotShown;   // messages a lagging console skipped
    uint64_t rotated;            // log files closed at the size limit
    uint64_t deleted;            // log files removed by the age clean-up
    uint64_t systemDropsShown;   // system drops the warning has told of so far
    int64_t lastDropWarningMs;   // when that warning was last given, or -1
    int64_t startMs;             // monotonic time of the start
};

extern RunStatistics runStatistics;

/// Zeroes the counts and notes the start time.
void StartRunStatistics();

/// The statistics line, ending in a line feed, into `size` bytes at `text`; returns its length.
size_t FormatStatisticsLine(char* text, size_t size);

/// Shows the receiver's messages and, at most once a second, the warning that the system dropped
/// datagrams, on the console and as a record in the log file. `final`: the warning is given for
/// whatever drops are left untold, however soon after the last one.
void ReportLosses(CDebugUI& writer, bool final = false);

/// Shows the statistics line on the console (not in the log file).
void ShowStatistics(CDebugUI& writer);

/// Writes the statistics line to standard error, waiting at most `timeoutMs` for a reader that lags;
/// nothing when standard error is a terminal (the closing lines stay last there).
void WriteFinalStatistics(int timeoutMs);
