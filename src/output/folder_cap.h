// Which log files go when the log folder is over --max-total or its disk under --keep-free: a
// choice made over a listing, with no file touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// One log file of the folder, plain or compressed.
struct FolderFile {
    std::string name;   // without the folder
    int64_t modified;   // modification time, nanoseconds
    uint64_t size;      // bytes on disk
    bool open;          // the file being written: never chosen
};

/// The limits; 0 means no limit.
struct FolderLimits {
    uint64_t maxTotal;  // all log files together at most this
    uint64_t keepFree;  // at least this much free on the file system
};

/// How many files the choice takes and why, in the order the reasons are served: files for the
/// total first, then for free space, then for the room asked for besides.
struct FolderChoice {
    size_t forTotal;
    uint64_t bytesForTotal;
    size_t forFree;
    uint64_t bytesForFree;
    size_t forRoom;
    uint64_t bytesForRoom;

    size_t Count() const { return forTotal + forFree + forRoom; }
};

/// Orders `files` oldest first (by the time in the name udplog_YYYYMMDDHHMMSS, then by the
/// modification time; names without a time come first, the open file last) and chooses the
/// leading closed files to delete: until the total is within `limits.maxTotal`, then until the
/// free space (`freeBytes` and what the deletions free) reaches `limits.keepFree`, then until at
/// least `room` bytes are freed in all. The chosen files are files[0 .. Count()).
FolderChoice ChooseFilesToDelete(std::vector<FolderFile>& files, const FolderLimits& limits,
                                 uint64_t freeBytes, uint64_t room);

/// The time in a log file's name as the number YYYYMMDDHHMMSS, or 0 when the name has none.
uint64_t TimeInLogFileName(const std::string& name);
