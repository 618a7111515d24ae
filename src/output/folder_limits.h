// The log folder kept within --max-total and --keep-free: the oldest closed log files are deleted
// when the folder grows too large or its disk too full, and when a write finds the disk full.
// Main thread only.
#pragma once

#include "output/output_settings.h"

struct LogFile;

/// Binds the settings the functions below read; called once, when the writer is set up.
void StartFolderLimits(const OutputSettings& settings);

/// True when the run has --max-total or --keep-free.
bool FolderLimitsSet(const OutputSettings& settings);

/// The kinds of log file (PlatLogKinds) the folder's upkeep counts and deletes: the compressed
/// ones too once any of --max-total, --keep-free or --compress is given.
int CountedLogKinds(const OutputSettings& settings);

/// One pass of the upkeep, after the rotation: deletes the oldest closed log files while the folder
/// is over --max-total or its disk under --keep-free, and counts them in `deleted`. `file` is the
/// writer's log file, never deleted while open. Cheap when nothing is over: one look at the folder
/// and the disk.
void EnforceFolderLimits(const LogFile& file);

/// The warning for the deletions of one reason not told yet (the pass's, and a full disk's since
/// the last pass), ending in a line feed; false when all are told. For the console and the log.
bool TakeFolderLimitsWarning(char* text, size_t room);

/// For the write path (a LogFileRoomMaker), after a write failed for lack of space: deletes the
/// oldest closed log files to make room for at least one log file. True when something was
/// deleted, so that the write may be tried again. After a try that could delete nothing, the next
/// is a second away, so a disk that stays full does not cost a listing per line.
bool FreeRoomAfterFullDisk(const LogFile& file);
