// File service: opening log files, the current directory, the log folder's listing, deletion,
// file identity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

/// Identifies one file on disk whatever its name (device and inode on POSIX).
struct PlatFileId {
    uint64_t device;
    uint64_t inode;
};

/// Writes the current working directory, NUL-terminated, into `out`; false if it cannot be read
/// or does not fit in `room` bytes.
bool PlatCurrentDirectory(char* out, size_t room);

/// The log folder used when the current directory cannot serve: "/tmp" or "c:\\temp".
const char* PlatFallbackLogFolder();

/// Makes `folder` with every missing parent, as `mkdir -p` does (mode 0755 before the umask on
/// POSIX), and checks that it is a folder files can be made in. False, with the system's error
/// code in `*errorCode` (for PlatErrorText), when it could not be made, is no folder, or cannot be
/// written.
bool PlatPrepareFolder(const char* folder, int* errorCode);

/// The identity of the file behind an open stream; false if it cannot be told.
bool PlatFileIdOfStream(FILE* stream, PlatFileId* id);

/// True when the file behind an open stream no longer has a name on disk (it, or its folder, was
/// deleted), so whatever is written to it can never be read again.
bool PlatStreamFileRemoved(FILE* stream);

/// One regular file found by PlatListLogFiles.
struct PlatLogFileEntry {
    const char* name;               // the entry's name, without the folder
    int64_t modifiedNanoseconds;    // last modification, on the PlatWallClockNanoseconds scale
    PlatFileId id;
    uint64_t sizeBytes;             // bytes in the file
};

using PlatLogFileVisitor = void (*)(const PlatLogFileEntry& entry, void* context);

/// Kinds of log file names a listing takes (bits that may be combined).
enum PlatLogKinds : int {
    kPlatLogPlain = 1,       // udplog*.log
    kPlatLogCompressed = 2,  // udplog*.log.gz
    kPlatLogPartial = 4,     // udplog*.log.gz.tmp, a compression that did not finish
};

/// Calls `visitor` for every regular file directly in `folder` whose name matches udplog*.log
/// (case-sensitively), or the other `kinds` asked for. Subfolders are not searched. False if the
/// folder cannot be listed.
bool PlatListLogFiles(const char* folder, PlatLogFileVisitor visitor, void* context,
                      int kinds = kPlatLogPlain);

/// The bytes free for an unprivileged user on the file system that holds `folder`; false if it
/// cannot be told.
bool PlatFreeDiskSpace(const char* folder, uint64_t* bytes);

/// True for an error code (from PlatAppendRecord) that says the disk or the user's quota is full.
bool PlatIsNoSpaceError(int errorCode);

/// Renames the file `from` to `to`, replacing a file of that name in one step; false on failure.
bool PlatRenameFile(const char* from, const char* to);

/// Gives the file at `to` the last modification time of the file at `from`; false on failure.
bool PlatCopyModificationTime(const char* from, const char* to);

/// Writes what the stream and the system hold of the file to the disk; false on failure.
bool PlatFlushToDisk(FILE* stream);

/// Deletes the file at `path`; false if it could not be deleted.
bool PlatDeleteFile(const char* path);

/// Opens the log file at `path` for appending, creating it if need be, and returns it as an
/// unbuffered stream. Only a regular file is taken: a symbolic link, a FIFO or a device planted
/// under the name is refused, and opening never waits. On failure returns nullptr with the
/// system's error code in `*errorCode` (for PlatErrorText).
FILE* PlatOpenLogFile(const char* path, int* errorCode);

/// Appends one whole record to an open, unbuffered log stream. If the disk fills up part-way, the
/// part already written is taken back, so that no half record is left to be glued to the next one.
/// False when the record could not be stored, with the system's error code in `*errorCode` when
/// one is given.
bool PlatAppendRecord(FILE* stream, const char* data, size_t length, int* errorCode = nullptr);

/// Appends `count` whole records, which lie back to back at `data` and end at `ends` (offsets from
/// `data`, rising), with as few writes as the system allows. Returns how many leading records the
/// file keeps; of a record it took only in part nothing is left (as PlatAppendRecord). When fewer
/// than all are kept, `*errorCode` (when given) is the system's error code.
int PlatAppendRecords(FILE* stream, const char* data, const uint32_t* ends, int count,
                      int* errorCode = nullptr);

/// The text of an error code from this service, such as "No such file or directory".
const char* PlatErrorText(int errorCode);

/// A stamp that changes whenever a file is created in, deleted from or renamed within `folder`
/// (its last modification, in nanoseconds); -1 when it cannot be read.
int64_t PlatFolderChangeStamp(const char* folder);
