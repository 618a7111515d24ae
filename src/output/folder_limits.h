// The log folder kept within --max-total and --keep-free: the oldest closed log files are deleted
// when the folder grows too large or its disk too full, and when a write finds the disk full.
// Main thread only.
#pragma once

#include "output/output_settings.h"

class CDebugUI;

/// True when the run has --max-total or --keep-free.
bool FolderLimitsSet(const OutputSettings& settings);

/// The kinds of log file (PlatLogKinds) the folder's upkeep counts and deletes: the compressed
/// ones too once any of --max-total, --keep-free or --compress is given.
int CountedLogKinds(const OutputSettings& settings);

/// Remembers the path of the log file the writer just opened; no allocation. The listing knows
/// the open file by this name where the system tells no file identity.
void NoteLogFileOpened(const char* path);

/// The path last given to NoteLogFileOpened ("" before the first).
const char* LastOpenedLogFile();

/// One pass of the upkeep, after the rotation: deletes the oldest closed log files while the folder
/// is over --max-total or its disk under --keep-free, counts them in `deleted` and tells once per
/// pass on the console and in the log file, with what a full disk deleted since the last pass.
/// Cheap when nothing is over: one look at the folder and the disk.
void EnforceFolderLimits(CDebugUI& writer);

/// For the write path, after a write failed for lack of space: deletes the oldest closed log files
/// to make room for at least one log file. True when something was deleted, so that the write may
/// be tried again. Tells at the next EnforceFolderLimits. After a try that could delete nothing,
/// the next is a second away, so a disk that stays full does not cost a listing per line.
bool FreeRoomAfterFullDisk(CDebugUI& writer);
