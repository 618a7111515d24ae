// The current log file: open, append, close at the size limit or once deleted.
#include "output/log_file.h"

#include <cerrno>
#include <cstring>

#include "output/error_message.h"

int OpenLogFile(LogFile& file, const char* folder, const std::tm& now) {
    if (file.stream != nullptr) return 0;
    char path[kLogPathSize];
    int needed = snprintf(path, sizeof path, "%s/udplog_%4d%02d%02d%02d%02d%02d.log", folder,
                          now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min,
                          now.tm_sec);
    if (needed < 0 || needed >= static_cast<int>(sizeof path)) {
        // Start-up refuses folders this long; a cut path would name a folder nobody asked for.
        WriteErrorMessage("fopen() for %s, error = %s\n", path, PlatErrorText(ENAMETOOLONG));
        return -1;
    }
    int errorCode = 0;
    file.stream = PlatOpenLogFile(path, &errorCode);
    if (file.stream == nullptr) {
        WriteErrorMessage("fopen() for %s, error = %s\n", path, PlatErrorText(errorCode));
        return -1;
    }
    memcpy(file.path, path, static_cast<size_t>(needed) + 1);
    return 0;
}

bool AppendRecord(LogFile& file, const char* data, size_t length) {
    if (file.stream == nullptr) return false;
    int errorCode = 0;
    bool stored = PlatAppendRecord(file.stream, data, length, &errorCode);
    if (!stored && PlatIsNoSpaceError(errorCode) && file.makeRoom != nullptr && file.makeRoom(file))
        stored = PlatAppendRecord(file.stream, data, length, &errorCode);
    if (!stored && errorCode == EFBIG) {
        // The file has reached the system's file-size limit and can take no more: the next
        // record opens a new one (a new name once the second changes).
        CloseLogFile(file);
    }
    if (!stored && !file.storeFailing) {
        WriteErrorMessage("write() to log file failed, error = %s; lines are shown but not stored\n",
                          PlatErrorText(errorCode));
    } else if (stored && file.storeFailing) {
        WriteErrorMessage("log file writable again; storing lines resumes\n");
    }
    file.storeFailing = !stored;
    return stored;
}

void AppendBatch(LogFile& file, RecordBatch& batch) {
    if (batch.fileRecordCount == 0) return;
    int kept = 0;
    if (file.stream != nullptr)
        kept = PlatAppendRecords(file.stream, batch.fileBytes, batch.fileEnds, batch.fileRecordCount);
    if (kept > 0 && file.storeFailing) {
        WriteErrorMessage("log file writable again; storing lines resumes\n");
        file.storeFailing = false;
    }
    for (int e = 0; e < batch.entryCount; ++e) {
        BatchEntry& entry = batch.entries[e];
        if (entry.fileRecord < 0) continue;
        entry.stored = entry.fileRecord < kept ||
                       AppendRecord(file, batch.fileBytes + entry.offset, entry.length);
    }
}

void CloseLogFileIfRemoved(LogFile& file) {
    if (file.stream != nullptr && PlatStreamFileRemoved(file.stream)) CloseLogFile(file);
}

bool CloseLogFileIfTooLarge(LogFile& file, int32_t limitKiB) {
    if (file.stream == nullptr) return false;
    long position = ftell(file.stream);
    if (static_cast<int64_t>(position) <= static_cast<int64_t>(limitKiB) * 1024) return false;
    CloseLogFile(file);
    return true;
}

bool LogFileIdentity(const LogFile& file, PlatFileId* id) {
    return file.stream != nullptr && PlatFileIdOfStream(file.stream, id);
}

void CloseLogFile(LogFile& file) {
    if (file.stream != nullptr) fclose(file.stream);
    file.stream = nullptr;
}
