// The current log file: opening one named after a moment, appending records (a failure and the
// recovery are told once on standard error), and closing it past the size limit or once it was
// deleted from under us. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "output/record_batch.h"
#include "output/output_settings.h"
#include "platform/files.h"

struct LogFile;

/// Frees disk space after a record found the disk full; true when the record may be tried again.
using LogFileRoomMaker = bool (*)(const LogFile& file);

struct LogFile {
    FILE* stream = nullptr;     // the open log file, or nullptr
    bool storeFailing = false;  // the last record could not be stored
    char path[kLogPathSize] = {};  // the open file's path, or the last one's once it is closed
    LogFileRoomMaker makeRoom = nullptr;  // asked once per record the disk had no room for
};

/// Opens a log file in `folder` named after `now` unless one is open: 0 when a file is open
/// afterwards, -1 (with a message on standard error) when opening failed.
int OpenLogFile(LogFile& file, const char* folder, const std::tm& now);

/// Appends one record; true when the file stored it whole (nothing of it is left otherwise).
/// False at once when no file is open. A file at the system's file-size limit is closed. When the
/// disk is full and `makeRoom` frees some, the record is tried once more.
bool AppendRecord(LogFile& file, const char* data, size_t length);

/// Appends the batch's records with one write and marks each as stored or not. What the file
/// takes only in part is settled record by record: the records it took whole stay, a torn one
/// is taken back, and the rest are written one by one as AppendRecord does, with its messages.
void AppendBatch(LogFile& file, RecordBatch& batch);

/// Closes the file when it was deleted from under us (or with its folder), so that the next
/// record opens a new one, or reports why it cannot, instead of vanishing into a nameless file.
void CloseLogFileIfRemoved(LogFile& file);

/// Closes the file once it has grown past `limitKiB` units of 1024 bytes; true when it did.
bool CloseLogFileIfTooLarge(LogFile& file, int32_t limitKiB);

/// The identity of the open file; false when none is open or it cannot be told.
bool LogFileIdentity(const LogFile& file, PlatFileId* id);

void CloseLogFile(LogFile& file);
