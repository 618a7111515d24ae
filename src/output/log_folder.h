// The log folder's age clean-up: deleting udplog*.log files older than the retention period, and
// the cheap look that tells whether a listing could delete anything. Main thread only.
#pragma once

#include <cstdint>

#include "platform/files.h"

/// What the last listing found, so that a look at the folder can tell whether it still holds.
struct LogFolder {
    int64_t stampAtCleanUp = -1;                // the folder's change stamp when last listed
    int64_t firstExpiryAtCleanUp = INT64_MIN;   // when the first file then listed comes of age
};

/// Deletes the log files in `folder` older than `retentionDays`; the open log file (`openFile`,
/// or nullptr when none is open) is never deleted. `kinds` (PlatLogKinds) says which names count:
/// udplog*.log, and the compressed ones too when asked. Lists the whole folder, so it costs what
/// the folder holds. Prints nothing.
void DeleteExpiredLogFiles(LogFolder& state, const char* folder, int32_t retentionDays,
                           const PlatFileId* openFile, int kinds = kPlatLogPlain);

/// False only when the last DeleteExpiredLogFiles would find nothing to delete now either: the
/// folder has not changed since, and no file it saw has reached the retention period yet.
/// Cheap: one look at the folder. (A file whose time stamp is set back does not change the
/// folder, so a caller still lists it now and then.)
bool CleanUpMayDelete(const LogFolder& state, const char* folder);

/// A log file the writer opened itself changes the folder but gives the clean-up nothing to do:
/// when nothing else changed the folder since the last listing (`stampBefore` is its stamp just
/// before the file was opened), that listing still holds.
void NoteOwnFolderChange(LogFolder& state, const char* folder, int64_t stampBefore);

/// A log file the writer has just closed is an old file like any other from then on: it comes of
/// age one retention period after its last write, at once with a retention of 0 or less, and the
/// clean-up must not wait for a change of the folder to see that.
void NoteOwnFileClosed(LogFolder& state, int32_t retentionDays);
